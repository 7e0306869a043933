#include "Process.h"
#include "Sensor.h"
#include "SensorPropertiesDlg.h"
#include "SensorSelection.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace
{

// One selected sensor whose dialog asks the devices.
class COneRow : public ISensorSelection
{
public:
    std::vector<std::pair<int, CSensor*>> SelectedRows() const override
    {
        return {{0, const_cast<CSensor*>(&m_record)}};
    }
    void RefreshRow(int) override {}
    CSensor m_record;
};

// varion-sim with its devices' ports.
class Devices
{
public:
    explicit Devices(const std::vector<std::string>& devices) : m_process(Arguments(devices))
    {
        std::string line;
        while (m_process.ReadLine(line) && line != "ready")
            if (line.starts_with("device\t"))
                ports.push_back(line.substr(line.rfind(':') + 1));
    }
    std::vector<std::string> ports;

private:
    static std::vector<std::string> Arguments(const std::vector<std::string>& devices)
    {
        std::vector<std::string> argv{VARION_SIM};
        for (const std::string& device : devices)
        {
            argv.push_back("--device");
            argv.push_back(device);
        }
        return argv;
    }
    ChildProcess m_process;
};

class QueryInstalledSensorsTest : public ::testing::Test
{
protected:
    void Open(const std::string& host, const std::string& port, int sensorNo)
    {
        m_rows.m_record.m_strAddress = host;
        m_rows.m_record.m_nPort = static_cast<std::uint16_t>(std::stoi(port));
        m_rows.m_record.m_nSensorNo = sensorNo;
        m_rows.m_record.m_strUnit = "alt";
        m_dialog = std::make_unique<CSensorPropertiesDlg>(&m_rows);
        m_dialog->show();
    }
    void Query() { QTest::mouseClick(m_dialog->m_pQueryButton, Qt::LeftButton); }
    QComboBox* Box() { return m_dialog->m_comboSensorNo; }
    QLineEdit* Field(const char* name) { return m_dialog->findChild<QLineEdit*>(name); }
    QComboBox* Port() { return m_dialog->findChild<QComboBox*>("port"); }
    QStringList Items()
    {
        QStringList items;
        for (int i = 0; i < Box()->count(); ++i)
            items.append(Box()->itemText(i));
        return items;
    }

    COneRow m_rows;
    std::unique_ptr<CSensorPropertiesDlg> m_dialog;
};

TEST_F(QueryInstalledSensorsTest, OffersTheSlotsWithAValueAndShowsTheCurrentOne)
{
    Devices sim({"127.0.0.1:0 reply 21.5\302\260C;-\302\260C;45,0%",
                 "127.0.0.1:0 reply 10.0.0.5;Lager;--- %;12,5\\xB0C;"});
    ASSERT_EQ(sim.ports.size(), 2u);
    Open("localhost", sim.ports[0], 2);
    Query();
    EXPECT_EQ(Items(), QStringList({"0 [\302\260C]", "2 [%]"}));
    EXPECT_EQ(Box()->currentText(), "2");
    EXPECT_EQ(Field("unit")->text(), "%");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // A slot without a value: the list is offered, the box and unit emptied.
    Box()->setEditText("1");
    Query();
    EXPECT_EQ(Items(), QStringList({"0 [\302\260C]", "2 [%]"}));
    EXPECT_EQ(Box()->currentText(), "");
    EXPECT_EQ(Field("unit")->text(), "");

    // Another device replaces the list; its single-byte degree sign reads right.
    Port()->setEditText(QString::fromStdString(sim.ports[1]));
    Box()->setEditText("1");
    Query();
    EXPECT_EQ(Items(), QStringList({"1 [\302\260C]"}));
    EXPECT_EQ(Box()->currentText(), "1");
    EXPECT_EQ(Field("unit")->text(), "\302\260C");
    // The dialog's records change only by OK.
    EXPECT_EQ(m_rows.m_record.m_nPort, std::stoi(sim.ports[0]));
    EXPECT_EQ(m_rows.m_record.m_strUnit, "alt");
}

TEST_F(QueryInstalledSensorsTest, ChangesNothingWhenTheDeviceCannotBeRead)
{
    Devices sim({"127.0.0.1:0 reply 21.5\302\260C;-\302\260C;45,0%", "127.0.0.1:0 refuse"});
    ASSERT_EQ(sim.ports.size(), 2u);
    Open("127.0.0.1", sim.ports[0], 0);
    Query();
    ASSERT_EQ(Items(), QStringList({"0 [\302\260C]", "2 [%]"}));
    Box()->setEditText("2");
    Field("unit")->setText("rH");

    const auto unchanged = [&](const char* what)
    {
        Query();
        EXPECT_EQ(Items(), QStringList({"0 [\302\260C]", "2 [%]"})) << what;
        EXPECT_EQ(Box()->currentText(), "2") << what;
        EXPECT_EQ(Field("unit")->text(), "rH") << what;
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << what;
    };
    Port()->setEditText(QString::fromStdString(sim.ports[1]));
    unchanged("closed port");
    Field("address")->setText("geraet..lager");
    Port()->setEditText(QString::fromStdString(sim.ports[0]));
    unchanged("unknown host");
    Field("address")->setText("127.0.0.1");
    Port()->setEditText("~");
    unchanged("no port");
}

} // namespace
