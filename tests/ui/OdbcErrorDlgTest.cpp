#include "ui/OdbcErrorDlg.h"

#include "ui/WidgetTestSupport.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>

namespace
{

// The countdown is driven tick by tick through the dialog's own timer, so
// no test waits for real seconds.
struct ErrorDialog
{
    ErrorDialog() : dialog(QStringLiteral("[unixODBC]Zeile 1\n[SQLite]Zeile 2"))
    {
        dialog.show();
        timer = dialog.findChild<QTimer*>();
        label = dialog.findChild<QLabel*>(QStringLiteral("countdown"));
        check = dialog.findChild<QCheckBox*>();
    }
    void Tick() { QMetaObject::invokeMethod(timer, "timeout"); }
    void ClickCheckBox()
    {
        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, check->height() / 2));
    }

    COdbcErrorDlg dialog;
    QTimer* timer;
    QLabel* label;
    QCheckBox* check;
};

TEST(OdbcErrorDlg, CountsDownFromTenAndClosesWithOk)
{
    ErrorDialog d;
    ASSERT_TRUE(d.timer && d.label && d.check);
    EXPECT_TRUE(d.check->isChecked());
    EXPECT_TRUE(d.timer->isActive());
    EXPECT_EQ(d.timer->interval(), 1000);
    EXPECT_EQ(d.label->text(), "");
    EXPECT_TRUE(d.dialog.findChild<QPlainTextEdit*>()->isReadOnly());

    for (int shown = 10; shown >= 0; --shown)
    {
        ASSERT_TRUE(d.dialog.isVisible()) << "closed before " << shown;
        d.Tick();
        EXPECT_EQ(d.label->text(), QStringLiteral("(%1)").arg(shown));
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(d.dialog.isVisible());
    EXPECT_EQ(d.dialog.result(), QDialog::Accepted);
}

TEST(OdbcErrorDlg, ClickOnCheckBoxStopsTheCountForGood)
{
    ErrorDialog d;
    for (int i = 0; i < 7; ++i)
        d.Tick();
    EXPECT_EQ(d.label->text(), "(4)");
    d.ClickCheckBox();
    EXPECT_FALSE(d.check->isChecked());
    EXPECT_FALSE(d.timer->isActive());
    d.ClickCheckBox();
    EXPECT_TRUE(d.check->isChecked());
    EXPECT_FALSE(d.timer->isActive());
    QCoreApplication::processEvents();
    EXPECT_EQ(d.label->text(), "(4)");
    EXPECT_TRUE(d.dialog.isVisible());
}

TEST(OdbcErrorDlg, CancelAndEscapeRejectEnterAccepts)
{
    ErrorDialog cancelled;
    cancelled.Tick();
    QTest::mouseClick(ButtonOf(&cancelled.dialog, "Abbrechen"), Qt::LeftButton);
    EXPECT_EQ(cancelled.dialog.result(), QDialog::Rejected);

    ErrorDialog escaped;
    QTest::keyClick(&escaped.dialog, Qt::Key_Escape);
    EXPECT_EQ(escaped.dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(escaped.dialog.isVisible());

    ErrorDialog entered;
    QTest::keyClick(entered.dialog.findChild<QPlainTextEdit*>(), Qt::Key_Return);
    EXPECT_EQ(entered.dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(entered.dialog.isVisible());
}

} // namespace
