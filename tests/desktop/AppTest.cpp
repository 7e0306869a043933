#include "app/OrbelApp.h"
#include "desktop/DesktopTestSupport.h"
#include "net/SensorChannel.h"
#include "sensors/ChannelList.h"
#include "ui/AboutDlg.h"
#include "ui/WrappedMessageBox.h"

#include <QAbstractButton>
#include <QDir>
#include <QProxyStyle>
#include <QRegularExpression>
#include <csignal>

namespace
{

using AppTest = DesktopTest;

TEST_F(AppTest, StartUpOpensTheFileAndThenTheMostRecentOne)
{
    const QString recent = WriteConfig("zuletzt.ini", kThreeSensors);
    const QString named = WriteConfig("genannt.ini", "ZELD1\r\nnur-einer\t80\t0\t1\t\t\t0x00\r\n");
    {
        // A first start: no recent file, a new configuration, no message.
        COrbelApp app;
        CModalWatcher watcher;
        ASSERT_TRUE(app.InitInstance({}));
        QCoreApplication::processEvents();
        CMainFrame* frame = app.GetMainWnd();
        EXPECT_TRUE(frame->isVisible());
        EXPECT_EQ(frame->windowTitle(), "Unbenannt - Tessaro");
        EXPECT_EQ(watcher.Count(), 0);
        // Qt's own dialogs speak German as well.
        EXPECT_EQ(QCoreApplication::translate("QFileSystemModel", "Date Modified"),
                  "Änderungsdatum");
        EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Abbrechen");
        // No display name that the window system would append to every
        // dialog's title: without one, the name follows the application's.
        QCoreApplication::setApplicationName(QStringLiteral("Probe"));
        EXPECT_EQ(QGuiApplication::applicationDisplayName(), "Probe");
        QCoreApplication::setApplicationName(QStringLiteral("Tessaro"));
        frame->OpenDocumentFile(recent);
        EXPECT_TRUE(frame->close());
        app.ExitInstance(0);
    }
    // Later starts: the most recent file, reopened once the event loop runs;
    // a named file first, which is then the most recent one. Arguments, the
    // sensors before the event loop runs and after, and the title.
    const std::tuple<QStringList, size_t, size_t, QString> starts[] = {
        {{}, 0, 3, "zuletzt.ini - Tessaro"}, {{named}, 1, 1, "genannt.ini - Tessaro"}};
    for (const auto& [arguments, before, after, title] : starts)
    {
        COrbelApp app;
        ASSERT_TRUE(app.InitInstance(arguments));
        EXPECT_EQ(app.GetMainWnd()->GetDocument().m_sensors.size(), before);
        QCoreApplication::processEvents();
        EXPECT_EQ(app.GetMainWnd()->GetDocument().m_sensors.size(), after);
        EXPECT_EQ(app.GetMainWnd()->windowTitle(), title);
        app.GetMainWnd()->close();
        app.ExitInstance(0);
    }
    // A file that cannot be opened ends the start after its message; the
    // exit destroys every channel left over.
    COrbelApp app;
    CModalWatcher watcher;
    EXPECT_FALSE(app.InitInstance({WriteConfig("kaputt.ini", "kein Magic\r\n")}));
    EXPECT_EQ(watcher.Texts(),
              QStringList({"Die ausgewählte Datei entspricht nicht dem erwarteten Format."}));
    CSensor sensor;
    for (int i = 0; i < 3; ++i)
        new CSensorChannel(sensor);
    EXPECT_EQ(app.ExitInstance(7), 7);
    EXPECT_TRUE(CChannelList::Entries().empty());
}

TEST_F(AppTest, EndSignalsEndAsBeendenAndKeepUnsavedChangesForTheNextStart)
{
    const QString file = WriteConfig("lager.ini", kThreeSensors);
    SharedOdbcEnv().AddSqliteDataSource("Beenden", m_files / "beenden.sqlite");
    CSettings().SetDataSource(QStringLiteral("Beenden"));
    // The program's event loop, ended by the program; a stuck one fails.
    const auto run = []
    {
        QTimer stuck;
        stuck.setSingleShot(true);
        QObject::connect(&stuck, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        stuck.start(std::chrono::seconds(20));
        return QApplication::exec();
    };
    for (const int signal : COrbelApp::kSessionSignals)
    {
        SCOPED_TRACE(signal);
        {
            COrbelApp app;
            ASSERT_TRUE(app.InitInstance({file}));
            CMainFrame* frame = app.GetMainWnd();
            frame->resize(620, 410);
            frame->OnCommand(ID_START_STOP);
            ASSERT_TRUE(app.m_bRecording);
            frame->GetActiveView()->topLevelItem(0)->setSelected(true);
            frame->OnCommand(ID_ENABLE_DISABLE);
            ASSERT_TRUE(frame->GetDocument().IsModified());
            struct sigaction current = {};
            sigaction(signal, nullptr, &current);
            ASSERT_NE(current.sa_handler, SIG_DFL) << "the signal would end the test program";
            // A closed terminal finds a dialog open; it ends all the same.
            if (signal == SIGHUP)
                QTimer::singleShot(0, frame, [frame] { frame->OnCommand(ID_APP_ABOUT); });
            QTimer::singleShot(signal == SIGHUP ? 50 : 0, frame, [signal] { raise(signal); });
            EXPECT_EQ(run(), 0);
            app.ExitInstance(0);
            EXPECT_FALSE(app.m_bRecording);
        }
        // As after Datei > Beenden: settings written, the file left as it was.
        EXPECT_EQ(CSettings().RecentFiles().value(0), file);
        EXPECT_EQ(CSettings().SizeX(0), 620);
        EXPECT_EQ(ReadConfig(file), kThreeSensors);

        if (signal == SIGINT)
        {
            // A signal while the question is open ends that start; the
            // changes stay kept.
            COrbelApp interrupted;
            CModalWatcher watcher([](QWidget*) { raise(SIGINT); });
            ASSERT_TRUE(interrupted.InitInstance({}));
            EXPECT_EQ(run(), 0);
            EXPECT_EQ(watcher.Count(), 1);
            interrupted.ExitInstance(0);
            // The box was not filled yet: the name it would have shown is kept.
            ASSERT_EQ(CSettings().DataSource(), "Beenden");
        }

        // The next start offers the changes before anything else.
        const bool restore = signal != SIGHUP;
        COrbelApp next;
        CModalWatcher watcher([&](QWidget* box)
                              { Answer(box, restore ? QMessageBox::Yes : QMessageBox::No); });
        ASSERT_TRUE(next.InitInstance({}));
        QCoreApplication::processEvents();
        ASSERT_EQ(watcher.Count(), 1);
        EXPECT_TRUE(watcher.Texts()[0].contains(QDir::toNativeSeparators(file)));
        EXPECT_TRUE(watcher.Texts()[0].endsWith("\nWiederherstellen?"));
        COrbelDoc& doc = next.GetMainWnd()->GetDocument();
        EXPECT_EQ(doc.GetPathName(), file.toStdString());
        EXPECT_EQ(doc.IsModified(), restore);
        EXPECT_EQ(doc.m_sensors.front()->m_bDisabled, restore);
        EXPECT_EQ(doc.m_sensors.size(), 3u);
        doc.SetModifiedFlag(false);
        next.ExitInstance(0);
    }
    // Taken or refused, the copy is offered once.
    COrbelApp last;
    CModalWatcher watcher;
    ASSERT_TRUE(last.InitInstance({}));
    QCoreApplication::processEvents();
    EXPECT_EQ(watcher.Count(), 0);
    last.ExitInstance(0);
}

TEST(WrappedMessageBox, LongLinesBreakAtTheirLastSpace)
{
    const QString a(70, 'a'), b(70, 'b'), c(10, 'c'), d(67, 'd');
    // A text and its lines: the break falls on the last space before the
    // 76th character, a longer word stays whole; exactly 75 characters stay
    // on one line and spaces past the edge break nothing; a line feed starts
    // counting anew, and a long word after a break carries its count.
    const std::pair<QString, QStringList> cases[] = {
        {QStringLiteral("Die Datenquelle konnte nicht geöffnet werden, bitte prüfen Sie die "
                        "Einstellungen jetzt."),
         {QStringLiteral("Die Datenquelle konnte nicht geöffnet werden, bitte prüfen Sie die"),
          "Einstellungen jetzt."}},
        {QString(100, 'x'), {QString(100, 'x')}},
        {QString(74, 'a') + " b", {QString(74, 'a'), "b"}},
        {QString(73, 'a') + " b", {QString(73, 'a') + " b"}},
        {QString(75, 'a') + "     ", {QString(75, 'a') + "     "}},
        {a + "\n" + b + " " + c + " " + d, {a, b, c, d}},
    };
    for (const auto& [text, lines] : cases)
        EXPECT_EQ(WrapMessageText(text).split('\n'), lines) << text.toStdString();
}

// A desktop style that puts pictures on dialog buttons.
class CButtonIconStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override
    {
        return hint == SH_DialogButtonBox_ButtonsHaveIcons
                   ? 1
                   : QProxyStyle::styleHint(hint, option, widget, data);
    }
};

TEST(WrappedMessageBox, OnlyOurBreaksNoPicturesOnTheButtonsAndStringBoxesJoinTheirStrings)
{
    const QString style = QApplication::style()->name();
    QApplication::setStyle(new CButtonIconStyle);
    const QString text = QStringLiteral("Der Name der Datenquelle darf weder Steuerzeichen noch "
                                        "eines der Zeichen # [ ] { } ( ) , ; ? * = ! @ \\ "
                                        "enthalten. Bitte wählen Sie einen anderen Namen.");
    CModalWatcher watcher(
        [](QWidget* modal)
        {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            ASSERT_NE(label, nullptr);
            for (const QString& line : box->text().split('\n'))
                EXPECT_LE(label->fontMetrics().horizontalAdvance(line),
                          label->contentsRect().width())
                    << line.toStdString();
            for (QAbstractButton* button : box->buttons())
                EXPECT_TRUE(button->icon().isNull()) << button->text().toStdString();
            Answer(box, QMessageBox::No);
        });
    WrappedMessageBox(QMessageBox::Warning, QMessageBox::Ok | QMessageBox::Yes | QMessageBox::No,
                      text);
    QApplication::setStyle(style);
    StringMessageBox(QMessageBox::Warning, QMessageBox::Ok, 227, 0);
    StringMessageBox(QMessageBox::Warning, QMessageBox::Ok, 227, 226);
    ASSERT_EQ(watcher.Count(), 3);
    EXPECT_EQ(watcher.Texts().mid(1),
              QStringList({"Die angegebene Datenquelle existiert nicht.",
                           "Die angegebene Datenquelle existiert nicht.Die ausgewählte Datei "
                           "entspricht\nnicht dem erwarteten Format."}));
}

TEST(AboutDlg, ShowsVersionAndYear)
{
    CAboutDlg dialog;
    EXPECT_EQ(dialog.windowTitle(), "Info über Tessaro");
    const QString text = dialog.findChild<QLabel*>("versionText")->text();
    EXPECT_TRUE(text.contains(QRegularExpression("(?s)1\\.03.*2005")) && !text.contains("%s"))
        << text.toStdString();
}

} // namespace
