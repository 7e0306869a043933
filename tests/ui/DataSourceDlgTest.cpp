#include "ui/DataSourceDlg.h"

#include "db/DataSource.h"
#include "ui/DriverSettingsDlg.h"
#include "ui/UiTestSupport.h"
#include "ui/WidgetTestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>
#include <algorithm>

namespace
{

QRadioButton* RadioOf(QWidget* dialog, const QString& text)
{
    for (QRadioButton* radio : dialog->findChildren<QRadioButton*>())
        if (radio->text() == text)
            return radio;
    return nullptr;
}

const std::vector<std::string> kDrivers = {"SQLite3", "PostgreSQL Unicode", "odbc-text",
                                           "PostgreSQL ANSI", "Access"};

TEST(DataSourceDlg, ListsTheDriversSortedWithNothingChosen)
{
    CDataSourceDlg dialog(kDrivers, "");
    auto* combo = dialog.findChild<QComboBox*>();
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i)
        shown << combo->itemText(i);
    EXPECT_EQ(shown, QStringList({"Access", "odbc-text", "PostgreSQL ANSI", "PostgreSQL Unicode",
                                  "SQLite3"}));
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_TRUE(RadioOf(&dialog, "den aktuellen Be&nutzer")->isChecked());
}

TEST(DataSourceDlg, RecommendsOnlyDriversThatAreInstalled)
{
    SharedOdbcEnv();
    const std::vector<std::string> installed = ListInstalledDrivers();
    CDataSourceDlg dialog(installed, "");
    QString advice;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        if (label->text().startsWith("Der Treiber bestimmt das Format"))
            advice = label->text();
    // Every name in quotes starts the name of an installed driver.
    const QStringList parts = advice.split('"');
    ASSERT_GE(parts.size(), 5) << advice.toStdString();
    for (qsizetype i = 1; i < parts.size(); i += 2)
        EXPECT_TRUE(std::any_of(installed.begin(), installed.end(),
                                [&](const std::string& driver)
                                { return QString::fromStdString(driver).startsWith(parts[i]); }))
            << parts[i].toStdString();
}

TEST(DataSourceDlg, OkTakesTheChoiceOrKeepsThePresetAndCancelEmptiesIt)
{
    CDataSourceDlg kept(kDrivers, "SQLite3");
    kept.show();
    QTest::mouseClick(ButtonOf(&kept, "OK"), Qt::LeftButton);
    EXPECT_EQ(kept.Driver(), "SQLite3");
    EXPECT_FALSE(kept.IsSystem());

    CDataSourceDlg chosen(kDrivers, "SQLite3");
    chosen.show();
    auto* combo = chosen.findChild<QComboBox*>();
    combo->setCurrentIndex(combo->findText("PostgreSQL ANSI"));
    QTest::mouseClick(RadioOf(&chosen, "&jedermann"), Qt::LeftButton, {}, QPoint(8, 8));
    QTest::mouseClick(ButtonOf(&chosen, "OK"), Qt::LeftButton);
    EXPECT_EQ(chosen.Driver(), "PostgreSQL ANSI");
    EXPECT_TRUE(chosen.IsSystem());

    CDataSourceDlg cancelled(kDrivers, "SQLite3");
    cancelled.show();
    cancelled.findChild<QComboBox*>()->setCurrentIndex(0);
    QTest::keyClick(&cancelled, Qt::Key_Escape);
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(cancelled.Driver(), "");
}

// Drivers are looked up in the test's own driver list.
class DriverSettingsDlgTest : public ::testing::Test
{
protected:
    void SetUp() override { SharedOdbcEnv(); }

    // Presses OK; returns the text of the message box that refuses it, if any.
    static QString PressOk(QDialog& dialog)
    {
        QString text;
        QTimer closer; // gone with this call, so it cannot fire into a later one
        closer.setSingleShot(true);
        QObject::connect(&closer, &QTimer::timeout,
                         [&text]
                         {
                             if (auto* box =
                                     qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                             {
                                 text = box->text();
                                 box->accept();
                             }
                         });
        closer.start(0);
        QTest::mouseClick(ButtonOf(&dialog, "OK"), Qt::LeftButton);
        return text;
    }
};

TEST_F(DriverSettingsDlgTest, KnownDriversGetTheirFieldsAndOthersFreeLines)
{
    CDriverSettingsDlg server("PostgreSQL ANSI", "Halle",
                              {{"Servername", "db.local"}, {"Password", "pw"}});
    server.show();
    EXPECT_EQ(server.findChild<QLineEdit*>("Servername")->text(), "db.local");
    EXPECT_EQ(server.findChild<QLineEdit*>("Password")->echoMode(), QLineEdit::Password);
    QTest::keyClicks(server.findChild<QLineEdit*>("Port"), "5433");
    EXPECT_EQ(PressOk(server), "");
    EXPECT_EQ(server.Name(), "Halle");
    EXPECT_EQ(server.Attributes(), DataSourceAttributes({{"Servername", "db.local"},
                                                         {"Port", "5433"},
                                                         {"Database", ""},
                                                         {"Username", ""},
                                                         {"Password", "pw"}}));

    CDriverSettingsDlg other("Fremdtreiber", "Lager", {{"Host", "x"}, {"Mode", "fast"}});
    other.show();
    auto* lines = other.findChild<QPlainTextEdit*>("lines");
    EXPECT_EQ(lines->toPlainText(), "Host=x\nMode=fast\n");
    lines->setPlainText("Host = y\n\nPfad=/a=b\n");
    EXPECT_EQ(PressOk(other), "");
    EXPECT_EQ(other.Attributes(), DataSourceAttributes({{"Host", "y"}, {"Pfad", "/a=b"}}));

    // The buttons follow the last field, with no empty band between them.
    CDriverSettingsDlg file("SQLite3", "Lager", {});
    file.show();
    const int gap = ButtonOf(&file, "OK")->geometry().top() -
                    file.findChild<QLineEdit*>("Database")->geometry().bottom();
    EXPECT_LE(gap, 2 * file.layout()->spacing() + 2) << gap;
}

TEST_F(DriverSettingsDlgTest, OkRefusesABadNameOrLineAndStaysOpen)
{
    CDriverSettingsDlg dialog("Fremdtreiber", "Lager", {});
    dialog.show();
    auto* name = dialog.findChild<QLineEdit*>("name");
    auto* lines = dialog.findChild<QPlainTextEdit*>("lines");
    name->setText("Lager#2");
    EXPECT_NE(PressOk(dialog).indexOf('#'), -1);
    EXPECT_TRUE(dialog.isVisible());

    name->setText("Lager 2");
    lines->setPlainText("Host=y\nkein Gleichheitszeichen\n");
    EXPECT_NE(PressOk(dialog).indexOf("Zeile 2"), -1);
    EXPECT_TRUE(dialog.isVisible());

    lines->setPlainText("Host=y\n");
    EXPECT_EQ(PressOk(dialog), "");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Name(), "Lager 2");
}

} // namespace
