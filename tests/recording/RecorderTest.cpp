#include "recording/Recorder.h"

#include "db/SensorDatabase.h"
#include "net/DeviceChannel.h"
#include "net/NetTestSupport.h"
#include "recording/RecordingTestSupport.h"
#include "sensors/ChannelList.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <tuple>

namespace
{

using namespace std::chrono_literals;
using TimePoint = std::chrono::system_clock::time_point;

constexpr std::uint32_t kYellow = 0xC0FFFF;
constexpr std::uint32_t kWhite = 0xFFFFFF;

class RecorderTest : public ::testing::Test
{
protected:
    RecorderTest()
    {
        UseHalfHourTimeZone();
        EnsureApplication();
        m_database.m_strDataSource = m_db.Dsn();
        m_recorder.SetStorageOptions({m_data.Path().string()});
    }

    // A minute tick and the storing of its rows on the recording's thread.
    void MinuteTick(TimePoint at)
    {
        m_clock.Set(at);
        m_recorder.OnMinuteTimer();
        ASSERT_TRUE(PumpUntil([&] { return m_recorder.IsStorageIdle(); }));
    }
    // Minute ticks from `first`, one a minute, up to and including `last`.
    void MinuteTicks(TimePoint first, TimePoint last)
    {
        for (TimePoint at = first; at <= last; at += 1min)
            MinuteTick(at);
    }
    int IdOf(size_t channel) const { return m_recorder.Channels().at(channel)->m_nSensorId; }
    std::vector<int> StoredIds() const
    {
        std::vector<int> ids;
        for (const auto& row : m_view.m_rows)
            ids.push_back(row.first);
        return ids;
    }
    std::vector<StoredRow> Rows() const { return ReadRecording(m_db.Dsn()); }
    // Sensors on slots 0, 1, ... of a device that refuses every connection,
    // with these intervals, after those added before; started. The
    // SensorIDs of all.
    std::vector<int> StartRefused(std::initializer_list<int> intervals)
    {
        int slot = 0;
        for (const int interval : intervals)
            m_view.Add("127.0.0.1", m_refusing.Port(0), slot++, interval);
        EXPECT_TRUE(m_recorder.Start());
        std::vector<int> ids;
        for (size_t channel = 0; channel < m_recorder.Channels().size(); ++channel)
            ids.push_back(IdOf(channel));
        return ids;
    }
    // Nothing is left of a recording.
    void ExpectNotRecording() const
    {
        EXPECT_FALSE(m_bRecording);
        EXPECT_FALSE(m_database.m_db.IsOpen());
        EXPECT_FALSE(m_recorder.TickTimer().isActive());
        EXPECT_FALSE(m_recorder.MinuteTimer().isActive());
        EXPECT_TRUE(m_recorder.Channels().empty());
        EXPECT_TRUE(CChannelList::Entries().empty());
        for (const auto& record : m_view.m_document.m_sensors)
            EXPECT_EQ(record->m_pChannel, nullptr);
    }
    // The database holds exactly the rows the view was told of.
    void ExpectRowsAsReported(const std::vector<StoredRow>& rows) const
    {
        std::multiset<std::pair<int, std::optional<float>>> stored,
            reported(m_view.m_rows.begin(), m_view.m_rows.end());
        for (const StoredRow& row : rows)
            stored.emplace(row.sensorId,
                           row.reading ? std::optional<float>(static_cast<float>(*row.reading))
                                       : std::nullopt);
        EXPECT_EQ(stored, reported);
    }

    SimulatedDevices m_refusing{{"127.0.0.1:0 refuse"}};
    FixedClock m_clock{Utc(10, 15, 20)};
    TempDir m_data; // the program's data folder, where journals go
    TestDatabase m_db{Backend::Sqlite};
    RecordingUi m_ui;
    CSensorDatabase m_database{m_ui};
    TestRecordingView m_view{m_database};
    bool m_bRecording = false;
    CRecorder m_recorder{m_view, m_database, m_bRecording};
};

TEST_F(RecorderTest, StartSetsUpEveryChannelAndStopTakesEverythingDown)
{
    const std::uint16_t port = m_refusing.Port(0);
    CSensor& first = m_view.Add("localhost", port, 0, 15);
    CSensor& second = m_view.Add("LOCALHOST", port, 1, 60);
    CSensor& disabled = m_view.Add("127.0.0.1", port, 0, 1, true);
    CSensor& third = m_view.Add("LocalHost", port, 2, 1);

    m_recorder.OnStartStop();
    ASSERT_TRUE(m_bRecording);
    EXPECT_TRUE(m_recorder.IsRecording());
    EXPECT_EQ(m_view.m_statusTexts, (std::vector<int>{331, 57345}));
    EXPECT_TRUE(m_recorder.TickTimer().isActive());
    EXPECT_EQ(m_recorder.TickTimer().interval(), 100);
    EXPECT_TRUE(m_recorder.MinuteTimer().isActive());
    EXPECT_EQ(m_recorder.MinuteTimer().interval(), 40500);
    EXPECT_EQ(m_view.m_colours, std::vector<std::uint32_t>{kYellow});

    // One channel per record, disabled ones included, each with the record's
    // own number in the sensor table.
    const auto& channels = m_recorder.Channels();
    ASSERT_EQ(channels.size(), 4u);
    EXPECT_EQ(CChannelList::Entries().size(), 4u);
    const CSensor* records[] = {&first, &second, &disabled, &third};
    for (size_t i = 0; i < 4; ++i)
    {
        EXPECT_EQ(records[i]->m_pChannel, channels[i].get());
        EXPECT_EQ(channels[i]->m_sensor.m_strAddress, records[i]->m_strAddress);
        EXPECT_EQ(channels[i]->m_nSensorId,
                  SensorIdOf(m_db.Dsn(), records[i]->m_strAddress, records[i]->m_nSensorNo));
    }
    // Linked by device (the chains themselves are the channel's tests').
    EXPECT_EQ(channels[3]->m_pMaster, channels[0].get());
    EXPECT_EQ(channels[2]->m_pMaster, nullptr);
    // Counters wait for the first minute tick.
    EXPECT_EQ(channels[0]->m_nMinutesLeft, 0);
    // The Status column was filled from the channels.
    EXPECT_EQ(m_view.m_nRefreshes, 1);
    EXPECT_EQ(disabled.m_strStatus, "deaktiviert");
    EXPECT_FALSE(first.m_strStatus.empty());

    m_recorder.OnStartStop();
    ExpectNotRecording();
    for (const CSensor* record : records)
        EXPECT_EQ(record->m_strStatus, "");
    EXPECT_EQ(m_view.m_nClears, 1);
    EXPECT_EQ(m_view.m_colours, (std::vector<std::uint32_t>{kYellow, kWhite}));

    // The first tick comes half a second after the next full minute.
    m_clock.Set(Utc(10, 15, 59, 900));
    m_recorder.OnStartStop();
    EXPECT_EQ(m_recorder.MinuteTimer().interval(), 1500);
    m_recorder.OnStartStop();
    m_clock.Set(Utc(10, 16, 0));
    m_recorder.OnStartStop();
    EXPECT_EQ(m_recorder.MinuteTimer().interval(), 60500);
    m_recorder.OnStartStop();
    EXPECT_TRUE(m_ui.m_errors.empty());
}

TEST_F(RecorderTest, EachIntervalIsDueAtItsUtcMinutesFromTheAlignmentOnAndTicksNeverNest)
{
    m_view.Add("127.0.0.1", m_refusing.Port(0), 9, 1, true);
    const std::vector<int> ids = StartRefused({1, 15, 60, 7, 2});
    // Something inside the tick of 10:17 keeps the event loop running (the
    // desktop draws the status bar; a dialog would do the same) until the
    // following minute's timer fires in it.
    m_view.m_onStatusText = [&](int stringId)
    {
        if (stringId != 331 || m_clock.UtcNow() != Utc(10, 17, 0, 500))
            return;
        m_clock.Set(Utc(10, 18, 0, 500));
        m_recorder.OnMinuteTimer();
    };
    for (TimePoint at = Utc(10, 16, 0, 500); at <= Utc(11, 6, 0, 500); at += 1min)
        if (at != Utc(10, 18, 0, 500))
            MinuteTick(at);

    // Each minute once, in order, with its own time.
    ASSERT_EQ(m_view.m_busyTimes.size(), 1u + 51);
    for (size_t minute = 0; minute < 51; ++minute)
        EXPECT_EQ(m_view.m_busyTimes[minute + 1], Utc(10, 16, 0, 500) + minute * 1min);
    // Stored at local time, half an hour off the UTC minutes that decide.
    const std::vector<StoredRow> rows = Rows();
    for (const auto& [id, count, last] : {std::tuple{ids[1], 51u, "16:36"}, {ids[5], 26u, "16:36"}})
    {
        const Minutes minutes = MinutesOf(rows, id);
        ASSERT_EQ(minutes.size(), count);
        EXPECT_EQ(minutes.front(), "15:46");
        EXPECT_EQ(minutes.back(), last);
    }
    EXPECT_EQ(MinutesOf(rows, ids[2]), (Minutes{"16:00", "16:15", "16:30"}));
    EXPECT_EQ(MinutesOf(rows, ids[3]), Minutes{"16:30"});
    // Aligned once to a multiple of seven minutes before the full hour, then
    // simply counted on across it.
    EXPECT_EQ(MinutesOf(rows, ids[4]),
              (Minutes{"15:48", "15:55", "16:02", "16:09", "16:16", "16:23", "16:30"}));
    EXPECT_TRUE(MinutesOf(rows, ids[0]).empty()) << "disabled";
    EXPECT_EQ(rows.size(), 51u + 3 + 1 + 7 + 26);
    // Nothing comes from a device that refuses.
    EXPECT_TRUE(std::none_of(rows.begin(), rows.end(),
                             [](const StoredRow& row) { return row.reading.has_value(); }));
    ExpectRowsAsReported(rows);
    EXPECT_TRUE(m_ui.m_errors.empty());
}

TEST_F(RecorderTest, AFirstTickLateByMoreThanHalfAMinuteCountsForTheNextAndTheTimerCatchesUp)
{
    m_view.Add("127.0.0.1", m_refusing.Port(0), 0, 15);
    // When the first tick ran, and the timer's period after it: on time, late
    // within its minute (30 s still is), and late enough to count for the
    // next minute.
    const std::pair<TimePoint, int> cases[] = {{Utc(10, 16, 1, 400), 60000},
                                               {Utc(10, 16, 20), 40500},
                                               {Utc(10, 16, 30), 30500},
                                               {Utc(10, 16, 31), 89500},
                                               {Utc(10, 16, 51), 69500}};
    int id = -1;
    for (const auto& [first, period] : cases)
    {
        m_clock.Set(Utc(10, 15, 20));
        ASSERT_TRUE(m_recorder.Start());
        id = IdOf(0);
        MinuteTick(first);
        EXPECT_EQ(m_recorder.MinuteTimer().interval(), period);
        // Ticks as the timer gives them; each run stores the quarter hour once.
        for (TimePoint at = first; at < Utc(10, 31, 0);)
        {
            at += std::chrono::milliseconds(m_recorder.MinuteTimer().interval());
            MinuteTick(at);
        }
        EXPECT_EQ(m_recorder.MinuteTimer().interval(), 60000);
        m_recorder.Stop();
    }
    EXPECT_EQ(MinutesOf(Rows(), id), (Minutes(std::size(cases), "16:00")));
}

TEST_F(RecorderTest, OnlyAFreshFiniteValueIsStored)
{
    SimulatedDevices devices({"127.0.0.1:0 reply 10.0.0.5;Lager;21.5\xb0"
                              "C;-\xb0"
                              "C;3.4e39V;\\r\\n"});
    const std::uint16_t port = devices.Port(0);
    m_view.Add("127.0.0.1", port, 0, 1);
    m_view.Add("127.0.0.1", port, 1, 1); // no value in its slot
    m_view.Add("127.0.0.1", port, 2, 1); // too large for a float
    const TimePoint readAt = Utc(10, 15, 20);
    ASSERT_TRUE(m_recorder.Start());
    auto& master = dynamic_cast<CDeviceChannel&>(*m_recorder.Channels()[0]);
    ASSERT_TRUE(PumpUntil([&] { return master.m_connection.Replies() == 1; }));
    ASSERT_EQ(master.m_connection.ReadAt(), readAt);
    const int valued = IdOf(0), empty = IdOf(1), huge = IdOf(2);

    // Ages of the reply at each tick: 40.5 s, 90 s, a moment more, the reply
    // lying in the future, none at all.
    const TimePoint ticks[] = {Utc(10, 16, 0, 500), readAt + 90s, readAt + 90s + 1ms, readAt - 1s,
                               readAt};
    for (const TimePoint at : ticks)
        MinuteTick(at);

    // Each tick stores the last configured sensor first.
    const std::optional<float> values[] = {21.5f, 21.5f, std::nullopt, std::nullopt, 21.5f};
    std::vector<std::pair<int, std::optional<float>>> expected;
    for (const std::optional<float>& value : values)
        expected.insert(expected.end(),
                        {{huge, std::nullopt}, {empty, std::nullopt}, {valued, value}});
    EXPECT_EQ(m_view.m_rows, expected);
    ExpectRowsAsReported(Rows());
    EXPECT_TRUE(m_ui.m_errors.empty());
}

TEST_F(RecorderTest, ATickIsOneTransactionARefusedRowCostsOnlyItselfAndALockLosesNothing)
{
    m_database.m_db.SetTimeout(1);
    const std::vector<int> ids = StartRefused({1, 1, 1});
    const int first = ids[0], second = ids[1], third = ids[2];
    {
        const StatementTrace trace;
        MinuteTick(Utc(10, 16, 0, 500));
        EXPECT_EQ(trace.Commits(), 1u);
    }
    // The last configured sensor comes first.
    EXPECT_EQ(StoredIds(), (std::vector<int>{third, second, first}));

    RawOdbc raw("DSN=" + m_db.Dsn());
    raw.Exec("CREATE TRIGGER refuse BEFORE INSERT ON Recording WHEN NEW.SensorID = " +
             std::to_string(second) + " BEGIN SELECT RAISE(ABORT, 'refused here'); END");
    m_view.m_rows.clear();
    MinuteTick(Utc(10, 17, 0, 500));
    EXPECT_EQ(StoredIds(), (std::vector<int>{third, first}));
    ASSERT_TRUE(PumpUntil([&] { return m_ui.m_errors.size() == 1; }));
    EXPECT_NE(m_ui.m_errors[0].find("refused here"), std::string::npos);

    raw.Exec("DROP TRIGGER refuse");
    m_view.m_rows.clear();
    MinuteTick(Utc(10, 18, 0, 500));
    EXPECT_EQ(StoredIds(), (std::vector<int>{third, second, first}));
    // A refused row is no outage: nothing buffered, every minute framed by
    // the two status texts.
    EXPECT_TRUE(m_view.m_buffered.empty());
    EXPECT_EQ(m_view.m_statusTexts,
              (std::vector<int>{331, 57345, 331, 57345, 331, 57345, 331, 57345}));
    EXPECT_EQ(m_ui.m_errors.size(), 1u);

    // Another program holds the file in a transaction for three minutes:
    // waited for at most the bound each time, and nothing is lost.
    SqliteLock lock(m_db.File());
    MinuteTicks(Utc(10, 19, 0, 500), Utc(10, 21, 0, 500));
    EXPECT_EQ(m_view.m_buffered.size(), 3u * 3);
    EXPECT_EQ(m_recorder.BufferedRows(), 9u);
    lock.Release();
    MinuteTick(Utc(10, 22, 0, 500));
    ASSERT_TRUE(
        PumpUntil([&] { return m_recorder.BufferedRows() == 0 && m_recorder.IsStorageIdle(); }));
    const std::vector<StoredRow> rows = Rows();
    const Minutes all = {"15:46", "15:47", "15:48", "15:49", "15:50", "15:51", "15:52"};
    EXPECT_EQ(MinutesOf(rows, first), all);
    EXPECT_EQ(MinutesOf(rows, third), all);
    EXPECT_EQ(rows.size(), 3 * all.size() - 1);
    // The wait was told once; the status bar said what was kept.
    ASSERT_TRUE(PumpUntil([&] { return m_ui.m_errors.size() > 1; }));
    EXPECT_EQ(m_ui.m_errors.size(), 2u) << m_ui.m_errors.back();
    EXPECT_NE(std::find(m_view.m_statusTexts.begin(), m_view.m_statusTexts.end(),
                        CRecorder::kStrBuffering),
              m_view.m_statusTexts.end());
    EXPECT_EQ(m_view.m_statusTexts.back(), 57345);
    // Written out, the journal is gone.
    EXPECT_FALSE(std::filesystem::exists(m_data / (CJournal::FileNameOf(m_db.Dsn()) + ".journal")));
}

TEST_F(RecorderTest, APointWithoutItsOwnSensorIdIsLeftOutAndNamed)
{
    const std::uint16_t port = m_refusing.Port(0);
    using Field = CRegistrationFailure::Field;
    using Kind = CRegistrationFailure::Kind;
    const struct
    {
        std::string host, unit, description;
        std::optional<std::pair<Field, Kind>> refused;
    } points[] = {
        {"127.0.0.1", std::string(32, 'u'), std::string(40, 'a') + std::string(40, '\xe4'), {}},
        {std::string(65, 'h'), "°C", "", std::pair{Field::Host, Kind::TooLong}},
        {"127.0.0.1", std::string(33, 'u'), "", std::pair{Field::Unit, Kind::TooLong}},
        {"127.0.0.1", "°C", std::string(81, 'l'), std::pair{Field::Location, Kind::TooLong}},
        {std::string("127.0.0.1\0x", 11), "°C", "", std::pair{Field::Host, Kind::ControlCharacter}},
    };
    for (int slot = 0; slot < 5; ++slot)
    {
        CSensor& record = m_view.Add(points[slot].host, port, slot, 1, false, points[slot].unit);
        record.m_strDescription = points[slot].description;
    }
    ASSERT_TRUE(m_recorder.Start());
    ASSERT_EQ(m_view.m_unrecorded.size(), 4u);
    for (int slot = 0; slot < 5; ++slot)
    {
        const auto& point = points[slot];
        const auto found = std::find_if(m_view.m_unrecorded.begin(), m_view.m_unrecorded.end(),
                                        [&](const CUnrecordedPoint& unrecorded)
                                        { return unrecorded.m_pRecord->m_nSensorNo == slot; });
        EXPECT_EQ(found != m_view.m_unrecorded.end(), point.refused.has_value()) << slot;
        EXPECT_EQ(IdOf(static_cast<size_t>(slot)) > 0, !point.refused) << slot;
        if (!point.refused || found == m_view.m_unrecorded.end())
            continue;
        EXPECT_EQ(found->m_failure.m_field, point.refused->first) << slot;
        EXPECT_EQ(found->m_failure.m_kind, point.refused->second) << slot;
    }
    // 80 umlauts are 80 characters however many bytes they take.
    MinuteTick(Utc(10, 16, 0, 500));
    MinuteTick(Utc(10, 17, 0, 500));
    const std::vector<StoredRow> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    for (const StoredRow& row : rows)
        EXPECT_EQ(row.sensorId, IdOf(0));
    EXPECT_EQ(RawOdbc("DSN=" + m_db.Dsn()).Query("SELECT SensorID FROM Sensors").size(), 1u);
    m_recorder.Stop();

    // A stop asked for between two registrations ends the start there.
    m_view.m_unrecorded.clear();
    for (int slot = 5; slot < 8; ++slot)
        m_view.Add("127.0.0.1", port, slot, 1);
    m_view.m_bStopRequested = true;
    EXPECT_FALSE(m_recorder.Start());
    ExpectNotRecording();
    EXPECT_EQ(RawOdbc("DSN=" + m_db.Dsn()).Query("SELECT SensorID FROM Sensors").size(), 1u);
}

TEST_F(RecorderTest, EmptyConfigurationRunsAndAFailedOpenChangesNothing)
{
    ASSERT_TRUE(m_recorder.Start());
    EXPECT_TRUE(m_recorder.TickTimer().isActive());
    EXPECT_TRUE(m_recorder.MinuteTimer().isActive());
    MinuteTicks(Utc(10, 16, 0, 500), Utc(10, 18, 0, 500));
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(m_view.m_rows.empty());
    EXPECT_EQ(m_view.m_statusTexts.size(), 2u + 3 * 2);
    m_recorder.Stop();

    // A data source that does not exist; the offer to create it is declined.
    m_view.m_colours.clear();
    m_view.m_statusTexts.clear();
    m_view.Add("127.0.0.1", 9, 0, 1);
    m_database.m_strDataSource = "Nicht vorhanden";
    EXPECT_FALSE(m_recorder.Start());
    EXPECT_EQ(m_ui.m_nDriverChoices, 1);
    EXPECT_TRUE(m_ui.m_messages.empty());
    ExpectNotRecording();
    EXPECT_EQ(m_view.m_statusTexts, (std::vector<int>{331, 57345}));
    EXPECT_TRUE(m_view.m_colours.empty());
    EXPECT_EQ(m_view.m_nRefreshes, 1);
}

TEST_F(RecorderTest, StatusCellsFollowTheirChannelAndItsMasterButNotWhileMinimised)
{
    SimulatedDevices devices({"127.0.0.1:0 reply 10.0.0.5;Lager;21.5\xb0"
                              "C;-\xb0"
                              "C;\\r\\n"});
    const std::uint16_t port = devices.Port(0);
    CSensor& master = m_view.Add("127.0.0.1", port, 0, 1);
    CSensor& follower = m_view.Add("127.0.0.1", port, 1, 1, false, "%");
    CSensor& disabled = m_view.Add("127.0.0.1", port, 0, 1, true);
    ASSERT_TRUE(m_recorder.Start());
    const auto& connection = dynamic_cast<CDeviceChannel&>(*m_recorder.Channels()[0]).m_connection;

    // The follower has no connection of its own; its cell changes because
    // the master's change is passed on.
    ASSERT_TRUE(PumpUntil(
        [&] { return master.m_strStatus == "21.5 °C" && follower.m_strStatus == "~ %"; }));
    EXPECT_EQ(disabled.m_strStatus, "deaktiviert");

    // A record added while recording runs shows the running channel of its point.
    CSensor& added = m_view.Add("127.0.0.1", port, 1, 5, false, "%");
    EXPECT_EQ(added.m_pChannel, follower.m_pChannel);

    m_view.m_bMinimized = true;
    const int writes = m_view.m_nCellWrites;
    for (CSensor* record : {&master, &follower, &disabled, &added})
        record->m_strStatus.clear();
    Tick(600); // the next poll is due
    ASSERT_TRUE(PumpUntil([&] { return connection.Replies() == 2; }));
    PumpFor(50ms);
    EXPECT_EQ(m_view.m_nCellWrites, writes);
    EXPECT_EQ(master.m_strStatus, "");

    m_view.m_bMinimized = false;
    Tick(600);
    ASSERT_TRUE(PumpUntil([&] { return connection.Replies() == 3; }));
    ASSERT_TRUE(PumpUntil([&] { return added.m_strStatus == "~ %"; }));
    EXPECT_EQ(master.m_strStatus, "21.5 °C");
    EXPECT_EQ(follower.m_strStatus, "~ %");
    EXPECT_EQ(disabled.m_strStatus, "deaktiviert");
}

} // namespace
