#include "desktop/DesktopTestSupport.h"
#include "ui/ViewDatabaseCommands.h"

#include <QDesktopServices>
#include <QSpinBox>
#include <QUrl>
#include <filesystem>

namespace
{

// The desktop's handler: it takes a workbook, or an export file, only while
// one is installed.
std::vector<QString> g_opened;
bool g_bWorkbookHandler = true;
bool g_bFileHandler = true;

bool OpenStandIn(const QUrl& url)
{
    g_opened.push_back(url.toLocalFile());
    return url.toLocalFile().endsWith(QStringLiteral(".xlsx")) ? g_bWorkbookHandler
                                                               : g_bFileHandler;
}

int g_nDataSources = 0;

class ExportCommandsTest : public DesktopTest
{
protected:
    void SetUp() override
    {
        DesktopTest::SetUp();
        m_strDsn = "Desktop Export " + std::to_string(++g_nDataSources);
        SharedOdbcEnv().AddSqliteDataSource(m_strDsn, m_files / "export.sqlite");
        RawOdbc raw("DSN=" + m_strDsn);
        CreateTables(raw);
        raw.Exec("INSERT INTO Sensors VALUES (1, '10.0.0.5', 80, 0, '', '')");
        for (const char* day : {"2023-01-01", "2024-02-27", "2024-03-01"})
            raw.Exec(std::string("INSERT INTO Recording VALUES (1.5, {d '") + day +
                     "'}, {t '12:00:00'}, 1)");
        g_opened.clear();
        g_bWorkbookHandler = g_bFileHandler = true;
        CViewDatabaseCommands::s_pOpenDocument = &OpenStandIn;

        OpenFrame();
        Frame().m_wndDataSourceCombo->setCurrentText(QString::fromStdString(m_strDsn));
    }

    void TearDown() override
    {
        CViewDatabaseCommands::s_pOpenDocument = &QDesktopServices::openUrl;
        DesktopTest::TearDown();
    }

    void Exec(const std::string& sql) { RawOdbc("DSN=" + m_strDsn).Exec(sql); }

    // Answers the next save dialog, which starts at the last export: panel
    // gets the range controls (null without a panel), then the name is
    // confirmed.
    void Save(CModalWatcher& watcher, const QString& name,
              std::function<void(QCheckBox*, QSpinBox*)> panel = {})
    {
        watcher.Then(
            [name, panel](QWidget* modal)
            {
                auto* dialog = qobject_cast<QFileDialog*>(modal);
                ASSERT_NE(dialog, nullptr);
                EXPECT_EQ(dialog->windowTitle(), "Sensordaten exportieren");
                // The filters as the dialog shows them.
                EXPECT_EQ(ItemsOf(dialog->findChild<QComboBox*>("fileTypeCombo")),
                          QStringList({"Excel-Arbeitsblätter (*.xls)", "Alle Dateien (*.*)"}));
                auto* check = dialog->findChild<QCheckBox*>(QStringLiteral("exportRangeCheck"));
                auto* days = dialog->findChild<QSpinBox*>(QStringLiteral("exportRangeDays"));
                EXPECT_EQ(check != nullptr, panel != nullptr);
                if (const QString last = CSettings().ExcelExport(); !last.isEmpty())
                {
                    EXPECT_EQ(dialog->selectedFiles().value(0), last);
                }
                if (panel && check && days)
                    panel(check, days);
                dialog->selectFile(name);
                QMetaObject::invokeMethod(dialog, "accept");
            });
    }

    std::string m_strDsn;
    const FakeClock m_clock{{2024, 3, 1, 12, 0, 0}};
};

const std::string kHeader = "Lager Süd\t°C\t10.0.0.5\t80\t0\r\n";

TEST_F(ExportCommandsTest, SeriesAndSummaryAskWriteAndOpenTheWorkbook)
{
    Select({0});
    CModalWatcher watcher;
    // First use: unchecked with 7 offered. The arrows stay within 1 to 365;
    // a longer range can be typed.
    Save(watcher, FilePath("reihe"),
         [](QCheckBox* check, QSpinBox* days)
         {
             EXPECT_FALSE(check->isChecked());
             EXPECT_FALSE(days->isEnabled());
             EXPECT_EQ(days->value(), 7);
             check->setChecked(true);
             EXPECT_TRUE(days->isEnabled());
             days->selectAll();
             QTest::keyClicks(days, "400");
             EXPECT_EQ(days->value(), 400);
             days->stepUp();
             EXPECT_EQ(days->value(), 365);
             days->setValue(1);
             days->stepDown();
             EXPECT_EQ(days->value(), 1);
             days->setValue(3);
         });
    Frame().OnCommand(ID_EXPORT_SERIES);
    // "xls" is added to the bare name; three days are today and the two
    // before.
    const std::string file = (m_files / "reihe.xls").string();
    EXPECT_EQ(ReadFileBytes(file), kHeader + "2024-03-01 12:00:00\t1.500\r\n");
    EXPECT_EQ(g_opened, std::vector<QString>{FilePath("reihe.xlsx")});
    EXPECT_EQ(ReadFileBytes(m_files / "reihe.xlsx").substr(0, 2), "PK");
    EXPECT_EQ(CSettings().ExportRange(), 3);
    EXPECT_EQ(CSettings().ExcelExport(), QString::fromStdString(file));
    EXPECT_FALSE(View().m_db.m_db.IsOpen());
    EXPECT_EQ(MessagePane()->text(), "Bereit");

    // Unchecked, the number is kept negative and offered again; checked
    // with 0 it is 0. Both export everything; the same name is replaced
    // only after a yes.
    for (const int stored : {-30, 0})
    {
        Save(watcher, FilePath("reihe.xls"),
             [stored](QCheckBox* check, QSpinBox* days)
             {
                 EXPECT_EQ(check->isChecked(), stored == -30);
                 check->setChecked(stored == 0);
                 days->setValue(-stored);
             });
        watcher.Then([](QWidget* box) { Answer(box, QMessageBox::Yes); });
        Frame().OnCommand(ID_EXPORT_SERIES);
        EXPECT_EQ(CSettings().ExportRange(), stored);
        const std::string all = ReadFileBytes(file);
        EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 4);
        // The workbook of the earlier export is this export's to replace.
        EXPECT_EQ(g_opened.back(), FilePath("reihe.xlsx"));
    }
    Save(watcher, FilePath("x.xls"),
         [](QCheckBox* check, QSpinBox* days)
         { EXPECT_TRUE(!check->isChecked() && days->value() == 0); });
    Frame().OnCommand(ID_EXPORT_SERIES);

    // The summary: no panel, and the range stays.
    Save(watcher, FilePath("x.xls"));
    watcher.Then([](QWidget* box) { Answer(box, QMessageBox::Yes); });
    Frame().OnCommand(ID_EXPORT_SUMMARY);
    const std::string summary = ReadFileBytes(m_files / "x.xls");
    EXPECT_TRUE(summary.starts_with("Lager Süd\tMax\tAvg\tMin °C\tValues\r\n")) << summary;
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 4);
    EXPECT_EQ(CSettings().ExportRange(), 0);

    // Cancelled: nothing written, nothing stored.
    std::filesystem::remove(m_files / "x.xls");
    Frame().OnCommand(ID_EXPORT_SERIES);
    EXPECT_FALSE(std::filesystem::exists(m_files / "x.xls"));
    EXPECT_EQ(CSettings().ExcelExport(), FilePath("x.xls"));

    // A connection that was open before (recording holds one) stays open.
    View().ReadDataSourceName();
    ASSERT_TRUE(View().m_db.OpenDatabase(false));
    Save(watcher, FilePath("offen.xls"));
    Frame().OnCommand(ID_EXPORT_SUMMARY);
    EXPECT_TRUE(std::filesystem::exists(m_files / "offen.xls"));
    EXPECT_TRUE(View().m_db.m_db.IsOpen());
}

TEST_F(ExportCommandsTest, WorkbookFailuresStatisticsAndImport)
{
    Select({0});
    CModalWatcher watcher;
    const auto yes = [](QWidget* box) { Answer(box, QMessageBox::Yes); };
    // No handler for workbooks: the export file itself goes to the desktop;
    // with no handler for that either, a message says where both are.
    g_bWorkbookHandler = false;
    Save(watcher, FilePath("ohne.xls"), [](QCheckBox*, QSpinBox*) {});
    Frame().OnCommand(ID_EXPORT_SERIES);
    EXPECT_EQ(g_opened, (std::vector<QString>{FilePath("ohne.xlsx"), FilePath("ohne.xls")}));
    EXPECT_EQ(watcher.Count(), 1);
    g_bFileHandler = false;
    Save(watcher, FilePath("ohne.xls"), [](QCheckBox*, QSpinBox*) {});
    watcher.Then(yes);
    Frame().OnCommand(ID_EXPORT_SERIES);
    ASSERT_EQ(watcher.Count(), 4);
    EXPECT_TRUE(watcher.Texts().back().contains(FilePath("ohne.xls") + " ") &&
                watcher.Texts().back().contains(FilePath("ohne.xlsx")))
        << watcher.Texts().back().toStdString();
    g_bWorkbookHandler = g_bFileHandler = true;

    // A workbook of that name that no export wrote: the replace question.
    // "Nein" keeps it and the workbook takes the next free name.
    g_opened.clear();
    WriteFileBytes(m_files / "fremd.xlsx", "meine Arbeitsmappe");
    Save(watcher, FilePath("fremd.xls"));
    watcher.Then([](QWidget* box) { Answer(box, QMessageBox::No); });
    Frame().OnCommand(ID_EXPORT_SUMMARY);
    EXPECT_EQ(watcher.Texts().back(),
              FilePath("fremd.xlsx") + " ist bereits vorhanden.\nSoll die Datei ersetzt werden?");
    EXPECT_EQ(g_opened.back(), FilePath("fremd (2).xlsx"));
    EXPECT_EQ(ReadFileBytes(m_files / "fremd.xlsx"), "meine Arbeitsmappe");

    // Allowed to replace what cannot be replaced (a folder): a message names
    // the workbook, the export file stays and nothing is opened.
    g_opened.clear();
    std::filesystem::create_directory(m_files / "block.xlsx");
    Save(watcher, FilePath("block.xls"));
    watcher.Then(yes);
    Frame().OnCommand(ID_EXPORT_SUMMARY);
    EXPECT_TRUE(g_opened.empty());
    EXPECT_TRUE(watcher.Texts().back().contains(FilePath("block.xlsx")));
    EXPECT_TRUE(watcher.Texts().back().contains("bleibt erhalten"));
    EXPECT_NE(ReadFileBytes(m_files / "block.xls"), "");

    // The configuration file is never written over: the reason, then the
    // dialog again (cancelled here).
    const std::string before = ReadFileBytes(m_files / "drei.ini");
    Save(watcher, FilePath("drei.ini"));
    watcher.Then(yes);
    const int count = watcher.Count();
    Frame().OnCommand(ID_EXPORT_SUMMARY);
    ASSERT_EQ(watcher.Count(), count + 4);
    EXPECT_TRUE(watcher.Texts()[count + 2].startsWith(FilePath("drei.ini") + " ist die "));
    EXPECT_EQ(watcher.Texts().back(), "Sensordaten exportieren");
    EXPECT_EQ(ReadFileBytes(m_files / "drei.ini"), before);

    // The statistics import the database's other sensor as the only
    // selected row and fill the Status column.
    Exec("INSERT INTO Sensors VALUES (2, 'NEU.local', 65616, 4, 'hPa', 'Dach')");
    Exec("INSERT INTO Recording VALUES (NULL, {d '2024-03-01'}, {t '12:01:00'}, 1)");
    Select({1, 2});
    Frame().OnCommand(ID_DATABASE_STATISTICS);
    const auto selected = View().SelectedRows();
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_EQ(selected.front().second->m_strAddress, "NEU.local");
    EXPECT_TRUE(Frame().GetDocument().IsModified());
    EXPECT_EQ(Column(7), QStringList({"4 Werte, 3 gültig, 1 von heute", "", "",
                                      "0 Werte, 0 gültig, 0 von heute"}));
    EXPECT_FALSE(View().m_db.m_db.IsOpen());
    // The import alone finds nothing new, and still clears the selection.
    EXPECT_TRUE(View().OnCommand(ID_IMPORT_SENSORS));
    EXPECT_EQ(View().topLevelItemCount(), 4);
    EXPECT_EQ(View().SelectedRows().size(), 0u);
}

} // namespace
