#include "ui/LoginDlg.h"

#include "ui/DialogDbUserInterface.h"
#include "ui/WidgetTestSupport.h"

#include <QLineEdit>
#include <QTest>

namespace
{

TEST(LoginDlg, OkReturnsWhatIsTypedAndCancelKeepsTheCallersValues)
{
    CLoginDlg typed(QStringLiteral("anna"), QStringLiteral("geheim"));
    typed.show();
    auto* user = typed.findChild<QLineEdit*>(QStringLiteral("userName"));
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(typed.findChild<QLineEdit*>(QStringLiteral("password"))->echoMode(),
              QLineEdit::Password);
    user->clear();
    QTest::keyClicks(user, QStringLiteral("bernd"));
    QTest::mouseClick(ButtonOf(&typed, "OK"), Qt::LeftButton);
    EXPECT_EQ(typed.result(), QDialog::Accepted);
    EXPECT_EQ(typed.UserName(), "bernd");
    EXPECT_EQ(typed.Password(), "geheim");

    CLoginDlg cancelled(QStringLiteral("anna"), QStringLiteral("geheim"));
    cancelled.show();
    QTest::keyClicks(cancelled.findChild<QLineEdit*>(QStringLiteral("password")), "xyz");
    QTest::mouseClick(ButtonOf(&cancelled, "Abbrechen"), Qt::LeftButton);
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(cancelled.UserName(), "anna");
    EXPECT_EQ(cancelled.Password(), "geheim");
}

TEST(DialogDbUserInterface, ModalDialogsAnswerTheDatabaseLayer)
{
    QWidget window;
    CDialogDbUserInterface ui(&window);

    std::string user = "anna";
    std::string password;
    WhenModal(
        [](QWidget* dialog)
        {
            QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("password")), "pw");
            QTest::mouseClick(ButtonOf(dialog, "OK"), Qt::LeftButton);
        });
    EXPECT_TRUE(ui.AskLogin(user, password));
    EXPECT_EQ(user, "anna");
    EXPECT_EQ(password, "pw");
    WhenModal([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    EXPECT_FALSE(ui.AskLogin(user, password));

    // "Abbrechen" in the error dialog is what cancels the rest of a tick.
    WhenModal([](QWidget* dialog)
              { QTest::mouseClick(ButtonOf(dialog, "Abbrechen"), Qt::LeftButton); });
    EXPECT_TRUE(ui.ReportOdbcError("Fehler"));
    WhenModal([](QWidget* dialog) { QTest::mouseClick(ButtonOf(dialog, "OK"), Qt::LeftButton); });
    EXPECT_FALSE(ui.ReportOdbcError("Fehler"));
}

} // namespace
