#include "desktop/DesktopTestSupport.h"
#include "net/NetTestSupport.h"

#include <QPalette>

namespace
{

using RecordingTest = DesktopTest;

TEST_F(RecordingTest, StartAndStopFromTheMenuWithTheStatusColumnFollowingTheDevices)
{
    SimulatedDevices devices(
        {"127.0.0.1:0 reply 10.0.0.5;Lager;21.5\260C;-\260C;\\r\\n", "127.0.0.2:0 refuse"});
    const std::string lager = std::to_string(devices.Port(0));
    SharedOdbcEnv().AddSqliteDataSource("Desktop Recording", m_files / "recording.sqlite");
    CSettings().SetDataSource(QStringLiteral("Desktop Recording"));
    OpenFrame("ZELD1\r\n127.0.0.1\t" + lager + "\t0\t1\t°C\tLager\t0x00\r\n127.0.0.1\t" + lager +
              "\t1\t1\t°C\tLeer\t0x00\r\n127.0.0.1\t" + lager +
              "\t2\t1\t%\tAus\t0x01\r\n127.0.0.2\t" + std::to_string(devices.Port(1)) +
              "\t0\t5\tV\tWeg\t0x00\r\n");
    const QStringList live = {"21.5 °C", "~ °C", "deaktiviert", "[10061] Verbindung abgewiesen"};

    Act(ID_START_STOP)->trigger();
    ASSERT_TRUE(m_bRecording);
    EXPECT_TRUE(Act(ID_START_STOP)->isChecked());
    EXPECT_EQ(View().palette().color(QPalette::Base), QColor(255, 255, 192)); // light yellow
    EXPECT_EQ(MessagePane()->text(), QStringLiteral("Bereit"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return Column(7) == live; }, 5000))
        << Column(7).join('|').toStdString();

    // Minimised, the column is emptied and status changes are not drawn;
    // restored, it shows the channels' texts again.
    Frame().showMinimized();
    QCoreApplication::processEvents();
    ASSERT_TRUE(View().m_bMinimized);
    EXPECT_EQ(Column(7), QStringList(4, QString()));
    Tick(600); // the next poll is due
    ASSERT_TRUE(QTest::qWaitFor([&] { return devices.Connections(0) == 2; }, 5000));
    QTest::qWait(100);
    EXPECT_EQ(Column(7), QStringList(4, QString()));
    Frame().OnRestoreWindow();
    QCoreApplication::processEvents();
    EXPECT_EQ(Column(7), live);

    Key(Qt::Key_R, Qt::ControlModifier);
    EXPECT_FALSE(m_bRecording);
    EXPECT_FALSE(Act(ID_START_STOP)->isChecked());
    EXPECT_EQ(View().palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(Column(7), QStringList(4, QString()));
    for (const auto& record : Frame().GetDocument().m_sensors)
        EXPECT_EQ(record->m_pChannel, nullptr);
    // Nothing is drawn for the channels that are gone.
    QTest::qWait(100);
    EXPECT_EQ(Column(7), QStringList(4, QString()));
}

TEST_F(RecordingTest, AFailedOpenLeavesRecordingOffASetUpDataSourceIsKeptAndOverlongTextsNamed)
{
    CSettings().SetDataSource(QStringLiteral("Noch anzulegen"));
    OpenFrame("ZELD1\r\n127.0.0.1\t9\t0\t1\tV\tx\t0x00\r\n");
    CModalWatcher watcher;
    // The offer to create the data source is declined.
    Act(ID_START_STOP)->trigger();
    EXPECT_GE(watcher.Count(), 1);
    EXPECT_FALSE(m_bRecording);
    EXPECT_FALSE(Act(ID_START_STOP)->isChecked());
    EXPECT_EQ(View().palette().color(QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(MessagePane()->text(), QStringLiteral("Bereit"));
    EXPECT_EQ(Column(7), QStringList{QString()});
    EXPECT_EQ(Frame().GetDocument().m_sensors.front()->m_pChannel, nullptr);

    // Created on the embedded driver, renamed in its settings.
    const QString file = QString::fromStdString((m_files / "sued.sqlite").string());
    const int declined = watcher.Count();
    watcher.Then(
        [](QWidget* dialog)
        {
            auto* drivers = dialog->findChild<QComboBox*>();
            drivers->setCurrentIndex(drivers->findText("SQLite3"));
            ButtonOf(dialog, "OK")->click();
        });
    watcher.Then(
        [&](QWidget* dialog)
        {
            dialog->findChild<QLineEdit*>("name")->setText(QStringLiteral("Lager Süd"));
            dialog->findChild<QLineEdit*>("Database")->setText(file);
            ButtonOf(dialog, "OK")->click();
        });
    Act(ID_START_STOP)->trigger();
    EXPECT_EQ(watcher.Texts().mid(declined),
              QStringList({"Datenquelle anlegen", "Datenquelle einrichten"}));
    ASSERT_TRUE(m_bRecording);
    QComboBox* combo = Frame().m_wndDataSourceCombo;
    EXPECT_EQ(combo->currentText(), "Lager Süd");
    EXPECT_GE(combo->findText("Lager Süd"), 0);
    EXPECT_EQ(CSettings().DataSource(), "Lager Süd");
    Act(ID_START_STOP)->trigger();
    EXPECT_FALSE(m_bRecording);

    // Points whose texts do not fit the Sensors table are named in one message.
    ASSERT_TRUE(Frame().OpenDocumentFile(
        WriteConfig("lang.ini", "ZELD1\r\n127.0.0.1\t9\t0\t1\tV\t" + std::string(81, 'x') +
                                    "\t0x01\r\n127.0.0.1\t9\t1\t1\t" + std::string(33, 'u') +
                                    "\tkurz\t0x01\r\n127.0.0.1\t9\t2\t1\tV\tpasst\t0x01\r\n")));
    const int before = watcher.Count();
    Act(ID_START_STOP)->trigger();
    ASSERT_TRUE(m_bRecording);
    ASSERT_EQ(watcher.Count(), before + 1);
    const QString text = watcher.Texts().back();
    EXPECT_TRUE(text.contains("Sensor 0 an 127.0.0.1:9: Beschreibung länger als 80 Zeichen") &&
                text.contains("Sensor 1 an 127.0.0.1:9: Einheit länger als 32 Zeichen") &&
                !text.contains("Sensor 2"))
        << text.toStdString();
    Act(ID_START_STOP)->trigger();
}

TEST_F(RecordingTest, AnOutageShowsTheBufferedRowsAndOneMessageNotOneAMinute)
{
    SimulatedDevices devices({"127.0.0.1:0 refuse"});
    const std::string port = std::to_string(devices.Port(0));
    const std::filesystem::path database = m_files / "outage.sqlite";
    SharedOdbcEnv().AddSqliteDataSource("Desktop Outage", database);
    CSettings().SetDataSource(QStringLiteral("Desktop Outage"));
    CSettings().SetDbTimeout(1);
    OpenFrame("ZELD1\r\n127.0.0.1\t" + port + "\t0\t1\tV\ta\t0x00\r\n127.0.0.1\t" + port +
              "\t1\t1\tV\tb\t0x00\r\n");
    Act(ID_START_STOP)->trigger();
    ASSERT_TRUE(m_bRecording);
    CRecorder& recorder = View().m_recorder;
    FixedClock clock(std::chrono::system_clock::now());
    const auto tick = [&](int minute)
    {
        clock.Set(std::chrono::system_clock::from_time_t(1772877600 + 60 * minute));
        recorder.OnMinuteTimer();
        ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.IsStorageIdle(); }, 10000));
    };

    CModalWatcher watcher;
    SqliteLock lock(database);
    for (const int minute : {1, 2, 3})
        tick(minute);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.Count() == 1; }, 5000));
    EXPECT_EQ(MessagePane()->text(),
              QStringLiteral("Datenbank nicht erreichbar - 6 Messwerte gepuffert"));
    lock.Release();
    tick(4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.BufferedRows() == 0; }, 10000));
    EXPECT_EQ(MessagePane()->text(), QStringLiteral("Bereit"));
    QTest::qWait(100);
    EXPECT_EQ(watcher.Count(), 1);
    Act(ID_START_STOP)->trigger();
    EXPECT_EQ(RawOdbc("DSN=Desktop Outage").Query("SELECT * FROM Recording").size(), 8u);
}

} // namespace
