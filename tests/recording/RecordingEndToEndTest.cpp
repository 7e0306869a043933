#include "net/NetTestSupport.h"
#include "common/PgServer.h"
#include "recording/Recorder.h"
#include "recording/RecordingTestSupport.h"
#include "db/SensorDatabase.h"

#include <cmath>
#include <gtest/gtest.h>

namespace
{

using namespace std::chrono_literals;

// Minutes of 3 s: the clock runs twenty times faster, and so do the ticks
// that drive the devices' polling.
constexpr int kScale = 20;
constexpr CRecordingPace kPace{100 / kScale, 60000 / kScale};

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

TEST(RecordingReconnectTest, EveryMinuteAfterTheServerIsBackHasItsRows)
{
    UseHalfHourTimeZone();
    EnsureApplication();
    PgServer server; // of its own: it is stopped and started below
    const std::string dsn = "Restarted Server";
    TestOdbcEnv().AddPostgresDataSource(dsn, server.Port(), server.CreateDatabase(),
                                        PgServer::User());
    SimulatedDevices devices({kLager, "127.0.0.2:0 refuse"});
    RecordingUi ui;
    CSensorDatabase database(ui);
    database.m_strDataSource = dsn;
    TestRecordingView view(database);
    view.Add("127.0.0.1", devices.Port(0), 0, 1);
    view.Add("127.0.0.2", devices.Port(1), 0, 1);

    ScaledClock clock(Utc(10, 58, 20), kScale);
    bool recording = false;
    CRecorder recorder(view, database, recording, kPace);
    ASSERT_TRUE(recorder.Start());
    ASSERT_TRUE(PumpUntil([&] { return clock.UtcNow() >= Utc(11, 0, 30); }, 60s));
    server.Stop();
    ASSERT_TRUE(PumpUntil([&] { return clock.UtcNow() >= Utc(11, 2, 30); }, 60s));
    // While the server is away every statement fails and says so.
    EXPECT_GE(ui.m_errors.size(), 2u);
    server.Start();
    const auto back = clock.UtcNow();
    const size_t errorsWhileAway = ui.m_errors.size();
    ASSERT_TRUE(PumpUntil([&] { return clock.UtcNow() >= back + 4min; }, 60s));
    EXPECT_TRUE(recording);
    recorder.Stop();

    const std::vector<StoredRow> rows = ReadRecording(dsn);
    const int valued = SensorIdOf(dsn, "127.0.0.1", 0), refused = SensorIdOf(dsn, "127.0.0.2", 0);
    const std::vector<std::string> valuedMinutes = MinutesOf(rows, valued);
    const std::vector<std::string> refusedMinutes = MinutesOf(rows, refused);
    int minutesAfter = 0;
    for (const auto tick : view.m_busyTimes)
    {
        if (tick <= back)
            continue;
        ++minutesAfter;
        const std::string minute = LocalMinute(tick);
        EXPECT_EQ(std::count(valuedMinutes.begin(), valuedMinutes.end(), minute), 1) << minute;
        EXPECT_EQ(std::count(refusedMinutes.begin(), refusedMinutes.end(), minute), 1) << minute;
    }
    EXPECT_GE(minutesAfter, 3);
    // The two minutes before the stop were stored too; none went missing
    // after the server came back, and nothing more was reported.
    EXPECT_EQ(valuedMinutes.front(), "16:29");
    EXPECT_EQ(ui.m_errors.size(), errorsWhileAway);
}

} // namespace
