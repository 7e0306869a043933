#include "common/PgServer.h"
#include "db/DatabaseStatistics.h"
#include "db/SensorDatabase.h"
#include "export/SensorExport.h"
#include "net/DeviceChannel.h"
#include "net/NetTestSupport.h"
#include "recording/Recorder.h"
#include "recording/RecordingTestSupport.h"

#include <cmath>
#include <gtest/gtest.h>

namespace
{

using namespace std::chrono_literals;

const std::string kLager = "127.0.0.1:0 reply 10.0.0.5;Lager;{drift:20:0.5}\xb0"
                           "C;-\xb0"
                           "C;\\r\\n";

class RecordingEndToEndTest : public ::testing::TestWithParam<Backend>
{
protected:
    RecordingEndToEndTest()
    {
        UseHalfHourTimeZone();
        EnsureApplication();
    }
};

TEST_P(RecordingEndToEndTest, RowsOfMastersFollowersDisabledAndRefusedSensors)
{
    SimulatedDevices devices({kLager, "127.0.0.2:0 refuse"});
    const std::uint16_t lager = devices.Port(0), refusing = devices.Port(1);
    TestDatabase db(GetParam());
    RecordingUi ui;
    CSensorDatabase database(ui);
    database.m_strDataSource = db.Dsn();
    TestRecordingView view(database);
    view.Add("localhost", lager, 0, 1);
    view.Add("LOCALHOST", lager, 1, 2); // a follower whose slot has no value
    view.Add("Localhost", lager, 0, 1, true);
    view.Add("127.0.0.2", refusing, 0, 1);
    view.Add("127.0.0.1", lager, 0, 5); // the same device by address polls on its own

    ScaledClock clock(Utc(10, 58, 20), kScale);
    bool recording = false;
    CRecorder recorder(view, database, recording, kPace);
    ASSERT_TRUE(recorder.Start());
    ASSERT_TRUE(PumpUntil([&] { return clock.UtcNow() >= Utc(11, 5, 30); }, 60s));
    recorder.Stop();

    // The database opened, then minute ticks at 10:59 to 11:05 UTC, stored
    // in local time.
    ASSERT_EQ(view.m_busyTimes.size(), 1u + 7);
    const std::vector<StoredRow> rows = ReadRecording(db.Dsn());
    const int master = SensorIdOf(db.Dsn(), "localhost", 0);
    const int follower = SensorIdOf(db.Dsn(), "LOCALHOST", 1);
    const int disabled = SensorIdOf(db.Dsn(), "Localhost", 0);
    const int refused = SensorIdOf(db.Dsn(), "127.0.0.2", 0);
    const int fiveMinutes = SensorIdOf(db.Dsn(), "127.0.0.1", 0);
    EXPECT_EQ(MinutesOf(rows, master), (std::vector<std::string>{"16:29", "16:30", "16:31", "16:32",
                                                                 "16:33", "16:34", "16:35"}));
    EXPECT_EQ(MinutesOf(rows, follower), (std::vector<std::string>{"16:30", "16:32", "16:34"}));
    EXPECT_TRUE(MinutesOf(rows, disabled).empty());
    EXPECT_EQ(MinutesOf(rows, refused), MinutesOf(rows, master));
    EXPECT_EQ(MinutesOf(rows, fiveMinutes), (std::vector<std::string>{"16:30", "16:35"}));
    ASSERT_EQ(rows.size(), 7u + 3 + 7 + 2);
    for (const StoredRow& row : rows)
    {
        const bool valued = row.sensorId == master || row.sensorId == fiveMinutes;
        ASSERT_EQ(row.reading.has_value(), valued) << row.sensorId << " at " << row.clock;
        if (valued)
        {
            // A value the device sent: 20.0, 20.5, 21.0, ...
            EXPECT_GE(*row.reading, 20.0);
            EXPECT_LT(*row.reading, 40.0);
            EXPECT_EQ(std::fmod(*row.reading, 0.5), 0.0) << *row.reading;
        }
    }
    EXPECT_EQ(view.m_rows.size(), rows.size());
    EXPECT_TRUE(ui.m_errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Drivers, RecordingEndToEndTest,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return BackendName(info.param); });

// A recording whose PostgreSQL server goes away for three minute ticks,
// stopped or stalled; afterwards every due minute of every sensor has
// exactly one row with the time of its tick.
class RecordingOutageTest : public ::testing::Test
{
protected:
    RecordingOutageTest()
    {
        UseHalfHourTimeZone();
        EnsureApplication();
        TestOdbcEnv().AddPostgresDataSource(m_strDsn, m_server.Port(), m_server.CreateDatabase(),
                                            PgServer::User());
        m_database.m_strDataSource = m_strDsn;
        m_view.Add("127.0.0.1", m_devices.Port(0), 0, 1);
        m_view.Add("127.0.0.2", m_devices.Port(1), 0, 1);
        m_recorder.SetStorageOptions({m_data.Path().string()});
    }

    void RunUntil(std::chrono::system_clock::time_point until)
    {
        ASSERT_TRUE(PumpUntil([&] { return m_clock.UtcNow() >= until; }, 60s));
    }

    // The minute ticks of a run: the moments "Datenbankzugriff..." was shown,
    // but for the start's.
    void ExpectEveryMinuteOnce(const std::vector<std::chrono::system_clock::time_point>& ticks)
    {
        const std::vector<StoredRow> rows = ReadRecording(m_strDsn);
        const int valued = SensorIdOf(m_strDsn, "127.0.0.1", 0);
        const int refused = SensorIdOf(m_strDsn, "127.0.0.2", 0);
        ASSERT_GE(ticks.size(), 2u);
        for (size_t i = 1; i < ticks.size(); ++i)
            for (const int id : {valued, refused})
            {
                const std::vector<std::string> minutes = MinutesOf(rows, id);
                EXPECT_EQ(std::count(minutes.begin(), minutes.end(), LocalMinute(ticks[i])), 1)
                    << LocalMinute(ticks[i]) << " of " << id;
            }
        EXPECT_EQ(rows.size(), 2 * (ticks.size() - 1));
        // What the device sent: 20.0, 20.5, 21.0, ...
        for (const StoredRow& row : rows)
            if (row.sensorId == valued && row.reading)
                EXPECT_EQ(std::fmod(*row.reading, 0.5), 0.0) << *row.reading;
            else
                EXPECT_EQ(row.reading.has_value(), row.sensorId == valued) << row.clock;
    }

    PgServer m_server; // of its own: it is stopped and started here
    // The driver manager remembers a data source's settings for a while.
    inline static int s_nRuns = 0;
    std::string m_strDsn = "Server Away " + std::to_string(++s_nRuns);
    SimulatedDevices m_devices{{kLager, "127.0.0.2:0 refuse"}};
    TempDir m_data;
    RecordingUi m_ui;
    CSensorDatabase m_database{m_ui};
    TestRecordingView m_view{m_database};
    ScaledClock m_clock{Utc(10, 58, 20), kScale};
    bool m_bRecording = false;
    CRecorder m_recorder{m_view, m_database, m_bRecording, kPace};
};

TEST_F(RecordingOutageTest, StoppedForThreeTicksWhileStatisticsAndExportShareTheConnection)
{
    TestSensorList list(m_database);
    for (const auto& record : m_view.m_document.m_sensors)
        list.m_rows.push_back(record.get());
    CDatabaseStatistics statistics(m_database, m_view.m_document, list);
    ASSERT_TRUE(m_recorder.Start());
    RunUntil(Utc(11, 0, 30));
    m_server.Stop();
    RunUntil(Utc(11, 2, 0));
    // Statistics meanwhile fail and say so; the recording's connection is
    // lost, never closed.
    const size_t before = m_ui.m_errors.size();
    EXPECT_FALSE(statistics.OnDatabaseStatistics());
    const size_t statisticsErrors = m_ui.m_errors.size() - before;
    EXPECT_GE(statisticsErrors, 1u);
    EXPECT_TRUE(m_database.m_db.IsOpen());
    RunUntil(Utc(11, 3, 30));
    EXPECT_EQ(m_view.m_buffered.size(), 2u * 3);
    EXPECT_EQ(m_view.m_statusTexts.back(), CRecorder::kStrBuffering);
    m_server.Start();
    RunUntil(m_clock.UtcNow() + 2min);

    // Statistics and an export use the same connection again and leave it
    // open.
    EXPECT_TRUE(statistics.OnDatabaseStatistics());
    EXPECT_EQ(list.m_nOpens, 0);
    EXPECT_TRUE(m_database.m_db.IsOpen());
    EXPECT_TRUE(CSensorExport(m_database)
                    .WriteSeriesFile(SensorIdOf(m_strDsn, "127.0.0.1", 0),
                                     (m_data / "reihe.xls").string(), 0));
    EXPECT_TRUE(m_database.m_db.IsOpen());
    RunUntil(m_clock.UtcNow() + 2min);
    m_recorder.Stop();

    ExpectEveryMinuteOnce(m_view.m_busyTimes);
    EXPECT_FALSE(m_view.m_replayed.empty());
    EXPECT_EQ(m_recorder.BufferedRows(), 0u);
    // The outage was told once, not once a minute.
    EXPECT_EQ(m_ui.m_errors.size(), 1u + statisticsErrors);
    EXPECT_EQ(m_view.m_statusTexts.back(), 57345);
}

TEST_F(RecordingOutageTest, AServerThatStopsAnsweringDuringTheStartEndsItAfterTheBoundOnce)
{
    m_database.m_db.SetTimeout(1);
    ASSERT_TRUE(m_database.OpenDatabase(false));
    m_database.m_db.Close();
    // Held up by a lock first, so that the registration is surely under way.
    RawOdbc holder("DSN=" + m_strDsn);
    holder.Exec("BEGIN");
    holder.Exec("LOCK TABLE Sensors IN ACCESS EXCLUSIVE MODE");
    EXPECT_TRUE(EndsWhileSuspended(
        m_server, [&] { EXPECT_FALSE(m_recorder.Start()); },
        [&] { return WaitsForALock(m_server); }));
    EXPECT_EQ(m_ui.m_errors, std::vector<std::string>{NoAnswerText(1)});
    EXPECT_FALSE(m_bRecording);
    EXPECT_TRUE(m_recorder.Channels().empty());
    EXPECT_FALSE(m_recorder.TickTimer().isActive());
    EXPECT_EQ(m_view.m_statusTexts.back(), 57345);
    holder.Exec("ROLLBACK");
}

TEST_F(RecordingOutageTest, AStalledServerHoldsUpNeitherTicksNorTheStop)
{
    m_database.m_db.SetTimeout(1);
    ASSERT_TRUE(m_recorder.Start()) << (m_ui.m_errors.empty() ? "" : m_ui.m_errors.back())
                                    << (m_ui.m_messages.empty() ? "" : m_ui.m_messages.back());
    auto& lager = dynamic_cast<CDeviceChannel&>(*m_recorder.Channels()[0]).m_connection;
    RunUntil(Utc(11, 0, 30));
    m_server.Suspend();
    const int replies = lager.Replies();
    RunUntil(Utc(11, 3, 30));
    // Polling and the minute ticks went on; the rows went into the journal.
    EXPECT_GT(lager.Replies(), replies);
    EXPECT_EQ(m_view.m_buffered.size(), 2u * 3);
    const auto ticks = m_view.m_busyTimes;
    m_recorder.Stop();
    m_server.Resume();

    // The next start writes the journal out.
    m_view.m_busyTimes.clear();
    ASSERT_TRUE(m_recorder.Start());
    ASSERT_TRUE(PumpUntil(
        [&] { return m_recorder.BufferedRows() == 0 && m_recorder.IsStorageIdle(); }, 60s));
    m_recorder.Stop();
    ExpectEveryMinuteOnce(ticks);
}

} // namespace
