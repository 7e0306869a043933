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

// A recording whose PostgreSQL server goes away for minute ticks, stopped
// or stalled; afterwards every due minute of every sensor has exactly one
// row with the time of its tick.
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

TEST_F(RecordingOutageTest,
       StoppedThenStalledLosesNoMinuteWhileStatisticsAndExportShareTheConnection)
{
    TestSensorList list(m_database);
    for (const auto& record : m_view.m_document.m_sensors)
        list.m_rows.push_back(record.get());
    CDatabaseStatistics statistics(m_database, m_view.m_document, list);
    m_database.m_db.SetTimeout(1);
    ASSERT_TRUE(m_recorder.Start());
    auto& lager = dynamic_cast<CDeviceChannel&>(*m_recorder.Channels()[0]).m_connection;
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
    RunUntil(m_clock.UtcNow() + 1min);
    EXPECT_FALSE(m_view.m_replayed.empty());
    EXPECT_EQ(m_recorder.BufferedRows(), 0u);
    EXPECT_EQ(m_view.m_statusTexts.back(), 57345);

    // A server that stops answering holds up neither the polling nor the
    // minute ticks, whose rows go into the journal, nor the stop; statistics
    // end after the bound with one message.
    m_server.Suspend();
    const size_t buffered = m_view.m_buffered.size(), ticks = m_view.m_busyTimes.size();
    const int replies = lager.Replies();
    list.m_rows[0]->m_strStatus.clear();
    EXPECT_FALSE(statistics.OnDatabaseStatistics());
    EXPECT_EQ(m_ui.m_errors.back(), NoAnswerText(1));
    EXPECT_EQ(list.m_rows[0]->m_strStatus, "");
    EXPECT_TRUE(m_database.m_db.IsLost());
    RunUntil(m_clock.UtcNow() + 3min);
    EXPECT_GT(lager.Replies(), replies);
    EXPECT_EQ(m_view.m_buffered.size() - buffered, 2 * (m_view.m_busyTimes.size() - ticks));
    const auto busyTimes = m_view.m_busyTimes;
    m_recorder.Stop();
    m_server.Resume();
    // The outages were told once each, not once a minute.
    EXPECT_EQ(m_ui.m_errors.size(), 3u + statisticsErrors);
    // The server back, the next run opens a fresh connection.
    EXPECT_TRUE(statistics.OnDatabaseStatistics());
    EXPECT_NE(list.m_rows[0]->m_strStatus, "");

    // The next start writes the journal out.
    ASSERT_TRUE(m_recorder.Start());
    ASSERT_TRUE(PumpUntil(
        [&] { return m_recorder.BufferedRows() == 0 && m_recorder.IsStorageIdle(); }, 60s));
    m_recorder.Stop();
    ExpectEveryMinuteOnce(busyTimes);
}

TEST_F(RecordingOutageTest, AServerThatStopsAnsweringDuringTheStartEndsItAfterTheBoundOnce)
{
    m_database.m_db.SetTimeout(1);
    ASSERT_TRUE(m_database.OpenDatabase(false));
    m_database.m_db.Close();
    RawOdbc holder("DSN=" + m_strDsn);
    // The point held up is one of several, then the last.
    for (const size_t points : {2, 1})
    {
        m_view.m_document.m_sensors.resize(points);
        m_ui.m_errors.clear();
        // Held up by a lock first, so that the registration is surely under way.
        holder.Exec("BEGIN");
        holder.Exec("LOCK TABLE Sensors IN ACCESS EXCLUSIVE MODE");
        EXPECT_TRUE(EndsWhileSuspended(
            m_server, [&] { EXPECT_FALSE(m_recorder.Start()); },
            [&] { return WaitsForALock(m_server); }));
        EXPECT_EQ(m_ui.m_errors, std::vector<std::string>{NoAnswerText(1)}) << points;
        EXPECT_FALSE(m_bRecording);
        EXPECT_TRUE(m_recorder.Channels().empty());
        EXPECT_FALSE(m_recorder.TickTimer().isActive());
        EXPECT_EQ(m_view.m_statusTexts.back(), 57345);
        holder.Exec("ROLLBACK");
    }
}

} // namespace
