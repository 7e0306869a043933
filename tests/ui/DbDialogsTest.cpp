#include "db/DataSource.h"
#include "ui/DataSourceDlg.h"
#include "ui/DialogDbUserInterface.h"
#include "ui/DriverSettingsDlg.h"
#include "ui/OdbcErrorDlg.h"
#include "ui/WidgetTestSupport.h"

#include <QLayout>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <algorithm>

namespace
{

// The countdown is driven tick by tick through the dialog's own timer, so
// no test waits for real seconds.
struct ErrorDialog
{
    ErrorDialog() { dialog.show(); }
    void Tick(int ticks = 1)
    {
        while (ticks-- > 0)
            QMetaObject::invokeMethod(timer, "timeout");
    }

    COdbcErrorDlg dialog{QStringLiteral("[unixODBC]Zeile 1\n[SQLite]Zeile 2")};
    QTimer* timer = dialog.findChild<QTimer*>();
    QLabel* label = dialog.findChild<QLabel*>(QStringLiteral("countdown"));
    QCheckBox* check = dialog.findChild<QCheckBox*>();
};

TEST(OdbcErrorDlg, CountsDownFromTenToOkUnlessTheCheckBoxIsClicked)
{
    ErrorDialog counted;
    ASSERT_TRUE(counted.timer && counted.label && counted.check);
    EXPECT_TRUE(counted.check->isChecked());
    EXPECT_TRUE(counted.timer->isActive() && counted.timer->interval() == 1000);
    EXPECT_EQ(counted.label->text(), "");
    EXPECT_TRUE(counted.dialog.findChild<QPlainTextEdit*>()->isReadOnly());
    for (int shown = 10; shown >= 0; --shown)
    {
        ASSERT_TRUE(counted.dialog.isVisible()) << "closed before " << shown;
        counted.Tick();
        EXPECT_EQ(counted.label->text(), QStringLiteral("(%1)").arg(shown));
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(counted.dialog.isVisible());
    EXPECT_EQ(counted.dialog.result(), QDialog::Accepted);

    // A click stops the count for good: checked again, the box starts nothing.
    ErrorDialog stopped;
    stopped.Tick(7);
    for (const bool checked : {false, true})
    {
        QTest::mouseClick(stopped.check, Qt::LeftButton, {},
                          QPoint(8, stopped.check->height() / 2));
        EXPECT_EQ(stopped.check->isChecked(), checked);
        EXPECT_FALSE(stopped.timer->isActive());
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(stopped.label->text(), "(4)");
    EXPECT_TRUE(stopped.dialog.isVisible());
}

TEST(DialogDbUserInterface, LoginAndErrorDialogsAnswerTheDatabaseLayer)
{
    QWidget window;
    CDialogDbUserInterface ui(&window);
    // OK returns what is shown and typed; Escape leaves the caller's values.
    std::string user = "anna";
    std::string password = "geheim";
    CModalWatcher watcher(
        [](QWidget* dialog)
        {
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("userName"));
            auto* secret = dialog->findChild<QLineEdit*>(QStringLiteral("password"));
            EXPECT_EQ(secret->echoMode(), QLineEdit::Password);
            name->clear();
            QTest::keyClicks(name, "bernd");
            QTest::keyClicks(secret, "pw");
            QTest::mouseClick(ButtonOf(dialog, "OK"), Qt::LeftButton);
        });
    EXPECT_TRUE(ui.AskLogin(user, password));
    EXPECT_EQ(user + "|" + password, "bernd|geheimpw");
    watcher.Then(
        [](QWidget* dialog)
        {
            QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("password")), "xyz");
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
    EXPECT_FALSE(ui.AskLogin(user, password));
    EXPECT_EQ(user + "|" + password, "bernd|geheimpw");

    // "Abbrechen" or Escape in the error dialog is what cancels the rest of a tick.
    const std::pair<std::function<void(QWidget*)>, bool> answers[] = {
        {[](QWidget* dialog) { QTest::mouseClick(ButtonOf(dialog, "Abbrechen"), Qt::LeftButton); },
         true},
        {[](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); }, true},
        {[](QWidget* dialog) { QTest::mouseClick(ButtonOf(dialog, "OK"), Qt::LeftButton); }, false},
        {[](QWidget* dialog)
         { QTest::keyClick(dialog->findChild<QPlainTextEdit*>(), Qt::Key_Return); },
         false},
    };
    for (const auto& [answer, cancels] : answers)
    {
        watcher.Then(answer);
        EXPECT_EQ(ui.ReportOdbcError("Fehler"), cancels) << watcher.Count();
    }
}

const std::vector<std::string> kDrivers = {"SQLite3", "PostgreSQL Unicode", "odbc-text",
                                           "PostgreSQL ANSI", "Access"};

TEST(DataSourceDlg, ListsTheDriversSortedRecommendsInstalledOnesAndOkTakesTheChoice)
{
    CDataSourceDlg kept(kDrivers, "SQLite3");
    kept.show();
    auto* combo = kept.findChild<QComboBox*>();
    EXPECT_EQ(ItemsOf(combo), QStringList({"Access", "odbc-text", "PostgreSQL ANSI",
                                           "PostgreSQL Unicode", "SQLite3"}));
    EXPECT_EQ(combo->currentIndex(), -1);
    // Every name the advice quotes starts the name of an installed driver.
    const std::vector<std::string> installed = ListInstalledDrivers();
    QString advice;
    for (const QLabel* label : kept.findChildren<QLabel*>())
        if (label->text().startsWith("Der Treiber bestimmt das Format"))
            advice = label->text();
    const QStringList parts = advice.split('"');
    ASSERT_GE(parts.size(), 5) << advice.toStdString();
    for (qsizetype i = 1; i < parts.size(); i += 2)
        EXPECT_TRUE(std::any_of(installed.begin(), installed.end(),
                                [&](const std::string& driver)
                                { return QString::fromStdString(driver).startsWith(parts[i]); }))
            << parts[i].toStdString();
    QTest::mouseClick(ButtonOf(&kept, "OK"), Qt::LeftButton);
    EXPECT_EQ(kept.Driver(), "SQLite3");
    EXPECT_FALSE(kept.IsSystem());

    CDataSourceDlg chosen(kDrivers, "SQLite3");
    chosen.show();
    combo = chosen.findChild<QComboBox*>();
    combo->setCurrentIndex(combo->findText("PostgreSQL ANSI"));
    for (QRadioButton* radio : chosen.findChildren<QRadioButton*>())
        if (radio->text() == "&jedermann")
            QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(8, 8));
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

// Presses OK; returns the text of the message box that refuses it, if any.
QString PressOk(QDialog& dialog)
{
    const CModalWatcher refusal;
    QTest::mouseClick(ButtonOf(&dialog, "OK"), Qt::LeftButton);
    return refusal.Texts().join('\n');
}

TEST(DriverSettingsDlg, KnownDriversGetTheirFieldsAndOthersFreeLines)
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

    // The buttons follow the last field, with no empty band between them.
    CDriverSettingsDlg file("SQLite3", "Lager", {});
    file.show();
    const int gap = ButtonOf(&file, "OK")->geometry().top() -
                    file.findChild<QLineEdit*>("Database")->geometry().bottom();
    EXPECT_LE(gap, 2 * file.layout()->spacing() + 2) << gap;

    // Any other driver: one line per keyword; a bad name or line is refused
    // and the dialog stays open.
    CDriverSettingsDlg other("Fremdtreiber", "Lager", {{"Host", "x"}, {"Mode", "fast"}});
    other.show();
    auto* name = other.findChild<QLineEdit*>("name");
    auto* lines = other.findChild<QPlainTextEdit*>("lines");
    EXPECT_EQ(lines->toPlainText(), "Host=x\nMode=fast\n");
    name->setText("Lager#2");
    EXPECT_NE(PressOk(other).indexOf('#'), -1);
    name->setText("Lager 2");
    lines->setPlainText("Host = y\nkein Gleichheitszeichen\n");
    EXPECT_NE(PressOk(other).indexOf("Zeile 2"), -1);
    EXPECT_TRUE(other.isVisible());
    lines->setPlainText("Host = y\n\nPfad=/a=b\n");
    EXPECT_EQ(PressOk(other), "");
    EXPECT_EQ(other.result(), QDialog::Accepted);
    EXPECT_EQ(other.Name(), "Lager 2");
    EXPECT_EQ(other.Attributes(), DataSourceAttributes({{"Host", "y"}, {"Pfad", "/a=b"}}));
}

} // namespace
