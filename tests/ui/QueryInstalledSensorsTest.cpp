#include "common/ScanSimulator.h"
#include "sensors/Sensor.h"
#include "ui/SensorPropertiesDlg.h"
#include "ui/SensorSelection.h"

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

class QueryInstalledSensorsTest : public ::testing::Test
{
protected:
    void Open(const std::string& host, std::uint16_t port, int sensorNo)
    {
        m_rows.m_record.m_strAddress = host;
        m_rows.m_record.m_nPort = port;
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
    ScanSimulator sim(
        {"reply 21.5\302\260C;-\302\260C;45,0%", "reply 10.0.0.5;Lager;--- %;12,5\\xB0C;"});
    ASSERT_TRUE(sim.Ready());
    Open("localhost", sim.QueryPort(), 2);
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
    Field("address")->setText(QString::fromStdString(ScanSimulator::Address(1)));
    Box()->setEditText("1");
    Query();
    EXPECT_EQ(Items(), QStringList({"1 [\302\260C]"}));
    EXPECT_EQ(Box()->currentText(), "1");
    EXPECT_EQ(Field("unit")->text(), "\302\260C");
    // The dialog's records change only by OK.
    EXPECT_EQ(m_rows.m_record.m_strAddress, "localhost");
    EXPECT_EQ(m_rows.m_record.m_strUnit, "alt");
}

TEST_F(QueryInstalledSensorsTest, ChangesNothingWhenTheDeviceCannotBeRead)
{
    ScanSimulator sim({"reply 21.5\302\260C;-\302\260C;45,0%", "refuse"});
    ASSERT_TRUE(sim.Ready());
    Open(ScanSimulator::Address(0), sim.QueryPort(), 0);
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
    Field("address")->setText(QString::fromStdString(ScanSimulator::Address(1)));
    unchanged("closed port");
    Field("address")->setText("geraet..lager");
    unchanged("unknown host");
    Field("address")->setText(QString::fromStdString(ScanSimulator::Address(0)));
    Port()->setEditText("~");
    unchanged("no port");
}

} // namespace
