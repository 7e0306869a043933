#include "ui/SensorPropertiesDlg.h"

#include "common/ScanSimulator.h"
#include "sensors/Sensor.h"
#include "ui/SensorSelection.h"
#include "ui/WidgetTestSupport.h"

#include <memory>

namespace
{

// A list of records of which some rows are selected, noting every refresh.
class CRows : public ISensorSelection
{
public:
    CRows(const std::vector<std::string>& lines, std::vector<int> selected)
        : m_selected(std::move(selected))
    {
        for (const std::string& line : lines)
        {
            m_records.push_back(std::make_unique<CSensor>());
            EXPECT_TRUE(m_records.back()->ParseLine(line)) << line;
        }
    }
    std::vector<std::pair<int, CSensor*>> SelectedRows() const override
    {
        std::vector<std::pair<int, CSensor*>> rows;
        for (int row : m_selected)
            rows.emplace_back(row, m_records[row].get());
        return rows;
    }
    void RefreshRow(int row) override { m_refreshed.push_back(row); }

    CSensor& operator[](int row) { return *m_records[row]; }
    std::string Line(int row) { return m_records[row]->FormatLine(); }

    std::vector<int> m_refreshed;

private:
    std::vector<std::unique_ptr<CSensor>> m_records;
    std::vector<int> m_selected;
};

const char* const kUpper = "Geraet1\t80\t0\t15\t°C\tKühlraum\t0x00";
const char* const kLower = "geraet1\t80\t1\t15\t°c\tKÜHLRAUM\t0x01";
const char* const kFields[] = {"address", "port", "sensorNo", "unit", "interval", "description"};

QLineEdit* EditOf(QWidget* dialog, const char* field)
{
    if (auto* combo = dialog->findChild<QComboBox*>(field))
        return combo->lineEdit();
    auto* edit = dialog->findChild<QLineEdit*>(field);
    EXPECT_NE(edit, nullptr) << field;
    return edit;
}

// The six fields' texts, top to bottom.
QString Shown(QWidget* dialog)
{
    QStringList texts;
    for (const char* field : kFields)
        texts << EditOf(dialog, field)->text();
    return texts.join('|');
}

void Ok(QWidget* dialog)
{
    QTest::mouseClick(ButtonOf(dialog, "OK"), Qt::LeftButton);
}

TEST(SensorPropertiesDlg, LabelsReachTheirFieldsAndEnterInABoxIsOk)
{
    CRows rows({kUpper}, {0});
    CSensorPropertiesDlg dialog(&rows);
    EXPECT_EQ(dialog.windowTitle(), "Sensor-Eigenschaften");
    const char* const labels[] = {
        "Hostname oder IP-Ad&resse:", "HTTP-&Port:",          "Sensor&nummer:", "Mess&größe:",
        "&Speicherintervall:",        "Sensor-&Beschreibung:"};
    QStringList buddies;
    for (const char* text : labels)
        for (const QLabel* label : dialog.findChildren<QLabel*>())
            if (label->text() == QString::fromUtf8(text) && label->buddy())
                buddies << label->buddy()->objectName();
    EXPECT_EQ(buddies.join('|'), QStringList(std::begin(kFields), std::end(kFields)).join('|'));
    EXPECT_EQ(ItemsOf(dialog.findChild<QComboBox*>("port")), QStringList({"80"}));
    EXPECT_TRUE(ButtonOf(&dialog, "OK")->isDefault());

    dialog.show();
    // The query button's text keeps a letter's room to the border on either side.
    const QFontMetrics metrics = dialog.m_pQueryButton->fontMetrics();
    EXPECT_GE(dialog.m_pQueryButton->contentsRect().width() -
                  metrics.horizontalAdvance(QStringLiteral("installierte Sensoren ermitteln")),
              2 * metrics.averageCharWidth());
    // Typing into a box adds nothing to its list.
    dialog.m_comboSensorNo->lineEdit()->selectAll();
    QTest::keyClicks(dialog.m_comboSensorNo, "4");
    QTest::keyClick(dialog.m_comboSensorNo, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.m_comboSensorNo->count(), 0);
    EXPECT_EQ(rows[0].m_nSensorNo, 4);
}

TEST(SensorPropertiesDlg, ShowsTheFirstRecordAndATildeWhereTheOthersDiffer)
{
    CRows pair({kUpper, kLower}, {0, 1});
    EXPECT_EQ(Shown(CSensorPropertiesDlg(&pair).window()), "Geraet1|80|~|°C|15|Kühlraum");

    // The first selected row leads; an unselected one plays no part.
    const std::vector<std::string> lines = {"z\t1\t1\t1\tz\tz\t0", "b\t8080\t-1\t60\tV\tb\t0",
                                            "c\t81\t2\t61\tA\tc\t0", "B\t8080\t-1\t60\tv\tB\t1"};
    CRows same(lines, {1, 3});
    EXPECT_EQ(Shown(CSensorPropertiesDlg(&same).window()), "b|8080|4294967295|V|60|b");
    CRows all(lines, {1, 2, 3});
    EXPECT_EQ(Shown(CSensorPropertiesDlg(&all).window()), "~|~|~|~|~|~");

    // Without a selection there is nothing to show and nothing to write.
    CRows none({kUpper}, {});
    CSensorPropertiesDlg dialog(&none);
    EXPECT_EQ(Shown(&dialog), "|80||||");
    dialog.show();
    Ok(&dialog);
    EXPECT_EQ(none.Line(0), kUpper);
    EXPECT_TRUE(none.m_refreshed.empty());
}

TEST(SensorPropertiesDlg, OkWritesEveryFieldThatDoesNotShowATildeAndCancelNothing)
{
    CRows rows({kUpper, "x\t1\t1\t1\t\t\t0x00", kLower}, {0, 2});
    rows[2].m_strStatus = "verbunden";
    rows[2].m_nDbId = 17;
    for (const bool escape : {false, true})
    {
        CSensorPropertiesDlg dialog(&rows);
        dialog.show();
        for (const char* field : kFields)
            EditOf(&dialog, field)->setText("9");
        if (escape)
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else
            QTest::mouseClick(ButtonOf(&dialog, "Abbrechen"), Qt::LeftButton);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_EQ(rows.Line(0), kUpper);
    EXPECT_EQ(rows.Line(2), kLower);
    EXPECT_TRUE(rows.m_refreshed.empty());
    {
        CSensorPropertiesDlg dialog(&rows);
        dialog.show();
        Ok(&dialog);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    // Texts equal but for letter case take the spelling shown.
    EXPECT_EQ(rows.Line(0), kUpper);
    EXPECT_EQ(rows.Line(2), "Geraet1\t80\t1\t15\t°C\tKühlraum\t0x01");
    EXPECT_EQ(rows.Line(1), "x\t1\t1\t1\t\t\t0x00");
    EXPECT_EQ(rows.m_refreshed, std::vector<int>({0, 2}));
    EXPECT_EQ(rows[2].m_strStatus, "verbunden");
    EXPECT_EQ(rows[2].m_nDbId, 17);

    rows[2].m_strUnit = "K";
    rows[2].m_nInterval = 30;
    CSensorPropertiesDlg dialog(&rows);
    dialog.show();
    EditOf(&dialog, "sensorNo")->setText("3");
    EditOf(&dialog, "address")->setText("10.0.0.7");
    EditOf(&dialog, "port")->setText("8080");
    // Pasted text may hold what would break the record's line.
    EditOf(&dialog, "description")->setText("Halle\t2\r\n\x01");
    Ok(&dialog);
    EXPECT_EQ(rows.Line(0), "10.0.0.7\t8080\t3\t15\t°C\tHalle 2   \t0x00");
    EXPECT_EQ(rows.Line(2), "10.0.0.7\t8080\t3\t30\tK\tHalle 2   \t0x01");

    // No text longer than its column in the Sensors table: characters, not bytes.
    const std::tuple<const char*, int, std::string CSensor::*> columns[] = {
        {"address", 64, &CSensor::m_strAddress},
        {"unit", 32, &CSensor::m_strUnit},
        {"description", 80, &CSensor::m_strDescription}};
    CSensorPropertiesDlg limited(&rows);
    limited.show();
    for (const auto& [field, length, member] : columns)
        EditOf(&limited, field)->setText(QString(length + 1, u'ä'));
    Ok(&limited);
    for (const auto& [field, length, member] : columns)
        EXPECT_EQ(QString::fromStdString(rows[0].*member), QString(length, u'ä')) << field;
}

TEST(SensorPropertiesDlg, NumbersThatDoNotReadAsUnsignedBecomeZeroOrOne)
{
    // Port, sensor number, interval typed, and the record's line after OK.
    const std::array<const char*, 4> cases[] = {
        {"abc", " 7 ", "0", "h\t0\t7\t1\t\t\t0x00"},
        {"65616", "12abc", "abc", "h\t80\t0\t1\t\t\t0x00"},
        {"-1", "4294967295", "4294967295", "h\t0\t-1\t1\t\t\t0x00"},
        {"4294967296", "+3", "2147483647", "h\t0\t0\t2147483647\t\t\t0x00"},
        {"", "~~", "-5", "h\t0\t0\t1\t\t\t0x00"},
        {"\t65535 ", "2147483648", "12 min", "h\t65535\t-2147483648\t1\t\t\t0x00"},
    };
    for (const auto& [port, sensorNo, interval, line] : cases)
    {
        CRows rows({"h\t80\t5\t5\t\t\t0"}, {0});
        CSensorPropertiesDlg dialog(&rows);
        dialog.show();
        EditOf(&dialog, "port")->setText(port);
        EditOf(&dialog, "sensorNo")->setText(sensorNo);
        EditOf(&dialog, "interval")->setText(interval);
        Ok(&dialog);
        EXPECT_EQ(rows.Line(0), line) << port << " " << sensorNo << " " << interval;
    }
}

TEST(SensorPropertiesDlg, TheSensorNumberBoxKeepsANumberOrTheTildeAndSetsTheUnit)
{
    CRows rows({kUpper, kLower}, {0, 1});
    CSensorPropertiesDlg dialog(&rows);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QComboBox* box = dialog.m_comboSensorNo;
    // Leaving the box leaves a number or the tilde.
    const std::pair<const char*, const char*> cases[] = {
        {"007", "7"}, {"~", "~"}, {"abc", "0"}, {" 12 ", "12"}, {"~ ", "0"}, {"99999999999", "0"}};
    for (const auto& [typed, left] : cases)
    {
        box->setFocus();
        box->setEditText(typed);
        EditOf(&dialog, "unit")->setFocus();
        EXPECT_EQ(box->currentText(), left) << typed;
    }

    // Choosing an installed sensor sets number and unit; the records change on OK only.
    box->addItems({"0 [°C]", "1 [%]", "12 [m/s] "});
    box->setFocus();
    box->setEditText("~");
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(Shown(&dialog), "Geraet1|80|1|%|15|Kühlraum");
    EXPECT_EQ(rows.Line(0), kUpper);
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(Shown(&dialog), "Geraet1|80|12|m/s|15|Kühlraum");
    QTest::keyClick(box, Qt::Key_Up);
    Ok(&dialog);
    EXPECT_EQ(rows.Line(0), "Geraet1\t80\t1\t15\t%\tKühlraum\t0x00");
    EXPECT_EQ(rows.Line(1), "Geraet1\t80\t1\t15\t%\tKühlraum\t0x01");
}

TEST(SensorPropertiesDlg, TheQueryOffersTheSlotsWithAValueAndFailingChangesNothing)
{
    ScanSimulator sim({"reply 21.5\302\260C;-\302\260C;45,0%",
                       "reply 10.0.0.5;Lager;--- %;12,5\\xB0C;", "refuse"});
    ASSERT_TRUE(sim.Ready());
    CRows rows({"localhost\t" + std::to_string(sim.QueryPort()) + "\t2\t1\talt\t\t0x00"}, {0});
    CSensorPropertiesDlg dialog(&rows);
    dialog.show();
    QComboBox* box = dialog.m_comboSensorNo;
    // The slots offered, the number shown and the unit after a query.
    const auto query = [&]
    {
        QTest::mouseClick(dialog.m_pQueryButton, Qt::LeftButton);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        return ItemsOf(box).join('|') + " " + box->currentText() + " " +
               EditOf(&dialog, "unit")->text();
    };
    EXPECT_EQ(query(), "0 [\302\260C]|2 [%] 2 %");
    // A slot without a value: the list is offered, the box and unit emptied.
    box->setEditText("1");
    EXPECT_EQ(query(), "0 [\302\260C]|2 [%]  ");
    // Another device replaces the list; its single-byte degree sign reads right.
    EditOf(&dialog, "address")->setText(QString::fromStdString(ScanSimulator::Address(1)));
    box->setEditText("1");
    EXPECT_EQ(query(), "1 [\302\260C] 1 \302\260C");

    // Whatever keeps the device from answering changes nothing.
    EditOf(&dialog, "unit")->setText("rH");
    const std::string port = std::to_string(sim.QueryPort());
    const std::pair<std::string, std::string> failures[] = {{ScanSimulator::Address(2), port},
                                                            {"geraet..lager", port},
                                                            {ScanSimulator::Address(0), "~"}};
    for (const auto& [address, typedPort] : failures)
    {
        EditOf(&dialog, "address")->setText(QString::fromStdString(address));
        EditOf(&dialog, "port")->setText(QString::fromStdString(typedPort));
        EXPECT_EQ(query(), "1 [\302\260C] 1 rH") << address << ":" << typedPort;
    }
    EXPECT_EQ(rows.Line(0), "localhost\t" + port + "\t2\t1\talt\t\t0x00");
}

} // namespace
