#include "export/ReadingHistory.h"

#include "common/PgServer.h"
#include "db/DbTestSupport.h"
#include "export/ReadingReduction.h"
#include "sensors/Sensor.h"

#include <cmath>
#include <ctime>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace
{

constexpr double kGap = std::numeric_limits<double>::quiet_NaN();

// Readable comparison: "x=y" per point, "x=gap" for a break.
std::string Describe(const std::vector<CChartPoint>& points)
{
    std::string text;
    for (const CChartPoint& point : points)
    {
        char value[32];
        std::snprintf(value, sizeof value, "%g", point.y);
        text += std::to_string(static_cast<long long>(point.x)) + "=" +
                (std::isnan(point.y) ? "gap" : value) + " ";
    }
    return text;
}

struct ReductionCase
{
    const char* name;
    int columns;
    std::int64_t width;
    std::vector<std::pair<std::int64_t, std::optional<double>>> rows;
    std::vector<CChartPoint> points;
    std::int64_t widthAfter;
};

TEST(ReadingReduction, ColumnsKeepTheirExtremesAndEveryGap)
{
    const std::optional<double> null;
    const ReductionCase cases[] = {
        {"one row per column is drawn as read",
         10,
         1000,
         {{0, 1}, {1000, 2}, {2000, null}, {3000, 3}, {4000, 4}},
         {{0, 1}, {1000, 2}, {2000, kGap}, {3000, 3}, {4000, 4}},
         1000},
        {"NULL rows at either end draw nothing",
         10,
         1000,
         {{0, null}, {1000, 5}, {2000, null}},
         {{1000, 5}},
         1000},
        {"a column keeps first, highest, lowest and last in time order",
         10,
         10000,
         {{0, 5}, {1000, 9}, {2000, 1}, {3000, 7}, {4000, 3}, {9000, 5}},
         {{0, 5}, {1000, 9}, {2000, 1}, {9000, 5}},
         10000},
        {"a NULL inside a column splits it",
         10,
         10000,
         {{0, 1}, {1000, 3}, {2000, null}, {3000, 2}, {4000, 4}, {5000, 3}},
         {{0, 1}, {1000, 3}, {2000, kGap}, {3000, 2}, {4000, 4}, {5000, 3}},
         10000},
        {"rows past the last column make the columns twice as wide, with their gaps",
         4,
         1000,
         {{0, 0}, {500, null}, {1000, 1}, {2000, 2}, {3000, null}, {4000, 4}, {7000, 7}},
         {{0, 0}, {500, kGap}, {1000, 1}, {2000, 2}, {3000, kGap}, {4000, 4}, {7000, 7}},
         2000},
        {"a late row goes to its place",
         10,
         1000,
         {{2000, 2}, {0, 0.5}, {1000, null}},
         {{0, 0.5}, {1000, kGap}, {2000, 2}},
         1000},
    };
    for (const ReductionCase& test : cases)
    {
        CReadingReduction reduction(test.columns, 0, test.width);
        for (const auto& [time, value] : test.rows)
            reduction.Add(time, value);
        EXPECT_EQ(Describe(reduction.Points()), Describe(test.points)) << test.name;
        EXPECT_EQ(reduction.ColumnWidth(), test.widthAfter) << test.name;
        EXPECT_EQ(reduction.Rows(), test.rows.size()) << test.name;
    }
}

TEST(ReadingReduction, ManyRowsShrinkToTheColumnsWithTheirPeaks)
{
    CReadingReduction reduction(100);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> values(-50, 50);
    double lowest = 1e9, highest = -1e9;
    for (std::int64_t minute = 0; minute < 100'000; ++minute)
    {
        const bool missing = minute % 997 == 0;
        const double value = values(random);
        reduction.Add(1'700'000'000'000 + minute * 60'000,
                      missing ? std::nullopt : std::optional<double>(value));
        if (!missing)
        {
            lowest = std::min(lowest, value);
            highest = std::max(highest, value);
        }
    }
    const std::vector<CChartPoint> points = reduction.Points();
    // At most the four extremes of both halves and a gap per column.
    EXPECT_LE(points.size(), 100u * 10);
    EXPECT_GT(points.size(), 100u);
    EXPECT_TRUE(std::is_sorted(points.begin(), points.end(),
                               [](const CChartPoint& a, const CChartPoint& b)
                               { return a.x < b.x; }));
    EXPECT_TRUE(std::any_of(points.begin(), points.end(),
                            [&](const CChartPoint& p) { return p.y == lowest; }));
    EXPECT_TRUE(std::any_of(points.begin(), points.end(),
                            [&](const CChartPoint& p) { return p.y == highest; }));
    EXPECT_EQ(reduction.ValueRange(), std::make_pair(lowest, highest));
    EXPECT_GT(std::count_if(points.begin(), points.end(),
                            [](const CChartPoint& p) { return std::isnan(p.y); }),
              50);
}

// Local time as the C library has it.
std::int64_t Msecs(int year, int month, int day, int hour, int minute, int second)
{
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&local)) * 1000;
}

CChartPoint At(int hour, int minute, double value)
{
    return {static_cast<double>(Msecs(2024, 3, 1, hour, minute, 0)), value};
}

class ReadingHistoryTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        m_sdb.m_strDataSource = m_database.Dsn();
        ASSERT_TRUE(m_sdb.OpenDatabase(false));
        m_nFirst = Register("10.0.0.5", 1);
        m_nSecond = Register("10.0.0.6", 0);
        Insert(m_nFirst,
               {"1, {d '2024-02-27'}, {t '23:59:59'}", "2, {d '2024-02-28'}, {t '00:00:00'}",
                "3, {d '2024-03-01'}, {t '11:57:00'}", "NULL, {d '2024-03-01'}, {t '11:58:00'}",
                "4, {d '2024-03-01'}, {t '11:59:00'}"});
        Insert(m_nSecond, {"-5, {d '2024-03-01'}, {t '11:59:00'}"});
    }

    int Register(const std::string& host, int slot)
    {
        CSensor sensor;
        sensor.m_strAddress = host;
        sensor.m_nSensorNo = slot;
        return m_sdb.RegisterSensor(sensor);
    }

    void Insert(int sensorId, const std::vector<std::string>& rows)
    {
        RawOdbc raw("DSN=" + m_database.Dsn());
        for (const std::string& row : rows)
            raw.Exec("INSERT INTO Recording VALUES (" + row + ", " + std::to_string(sensorId) +
                     ")");
    }

    // The first point, another, the first again, and one never recorded.
    CReadingHistory History(const std::string& dsn)
    {
        return CReadingHistory(
            {dsn, true, {}, {}},
            {{"10.0.0.5", 80, 1}, {"10.0.0.6", 80, 0}, {"10.0.0.5", 80, 1}, {"10.0.0.7", 80, 0}});
    }

    std::string Points(const CReadingHistory& history, size_t line)
    {
        return Describe(history.Lines()[line].m_readings.Points());
    }

    TestDatabase m_database{GetParam()};
    RecordingUi m_ui;
    CSensorDatabase m_sdb{m_ui};
    int m_nFirst = -1;
    int m_nSecond = -1;
};

TEST_P(ReadingHistoryTest, LastDaysWithGapsThenOnlyTheRowsThatCameSince)
{
    std::optional<FakeClock> clock(CivilTime{2024, 3, 1, 12, 0, 0});
    CReadingHistory history = History(m_database.Dsn());
    ASSERT_TRUE(history.Load(3, 1000)) << history.ErrorText();
    // Three days are today and the two before, from midnight on.
    EXPECT_EQ(history.RangeStart(), Msecs(2024, 2, 28, 0, 0, 0));
    EXPECT_EQ(history.RangeEnd(), Msecs(2024, 3, 1, 12, 0, 0));
    const std::string first = Describe({{static_cast<double>(Msecs(2024, 2, 28, 0, 0, 0)), 2},
                                        At(11, 57, 3),
                                        At(11, 58, kGap),
                                        At(11, 59, 4)});
    EXPECT_EQ(Points(history, 0), first);
    EXPECT_EQ(Points(history, 1), Describe({At(11, 59, -5)}));
    EXPECT_EQ(Points(history, 2), first);
    EXPECT_EQ(history.Lines()[3].m_nSensorId, -1);
    EXPECT_EQ(history.Lines()[3].m_readings.Rows(), 0u);

    // A new row, one stored late but within the hour before the newest,
    // one too late to be looked for, and the first row of a point that
    // recording registered meanwhile.
    Insert(m_nFirst, {"5, {d '2024-03-01'}, {t '12:00:00'}", "6, {d '2024-03-01'}, {t '11:30:00'}",
                      "7, {d '2024-03-01'}, {t '10:00:00'}"});
    Insert(Register("10.0.0.7", 0), {"8, {d '2024-03-01'}, {t '12:00:00'}"});
    clock.emplace(CivilTime{2024, 3, 1, 12, 1, 0});
    for (int update = 0; update < 2; ++update)
    {
        ASSERT_TRUE(history.Update()) << history.ErrorText();
        EXPECT_EQ(Points(history, 0),
                  Describe({{static_cast<double>(Msecs(2024, 2, 28, 0, 0, 0)), 2},
                            At(11, 30, 6),
                            At(11, 57, 3),
                            At(11, 58, kGap),
                            At(11, 59, 4),
                            At(12, 0, 5)}))
            << "update " << update;
        EXPECT_EQ(Points(history, 3), Describe({At(12, 0, 8)}));
        EXPECT_EQ(history.RangeEnd(), Msecs(2024, 3, 1, 12, 1, 0));
    }
    EXPECT_EQ(history.Lines()[1].m_readings.Rows(), 1u);
}

TEST_P(ReadingHistoryTest, EveryReadingASpanInDetailAndFailuresSayWhy)
{
    const FakeClock clock(CivilTime{2024, 3, 1, 12, 0, 0});
    CReadingHistory history = History(m_database.Dsn());
    ASSERT_TRUE(history.Load(0, 1000)) << history.ErrorText();
    EXPECT_EQ(history.RangeStart(), Msecs(2024, 2, 27, 23, 59, 59));
    EXPECT_EQ(history.Lines()[0].m_readings.Rows(), 5u);

    ASSERT_TRUE(history.LoadDetail(Msecs(2024, 3, 1, 11, 57, 0), Msecs(2024, 3, 1, 11, 58, 0), 10))
        << history.ErrorText();
    ASSERT_EQ(history.Detail().size(), 4u);
    EXPECT_EQ(Describe(history.Detail()[0].Points()), Describe({At(11, 57, 3)}));
    EXPECT_EQ(history.Detail()[0].Rows(), 2u);
    EXPECT_EQ(history.Detail()[1].Rows(), 0u);

    if (GetParam() == Backend::Sqlite)
    {
        // A read given up after its first block lets go of its result: a
        // writer on another connection, waiting 1 ms at most, gets through.
        RawOdbc("DSN=" + m_database.Dsn())
            .Exec("INSERT INTO Recording SELECT 1.0, {d '2024-03-01'}, {t '10:00:00'}, " +
                  std::to_string(m_nSecond) +
                  " FROM (WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                  "WHERE i < 3000) SELECT i FROM n) AS rows");
        CReadingHistory cancelled = History(m_database.Dsn());
        cancelled.Cancel();
        EXPECT_FALSE(cancelled.Load(0, 1000));
        CDbAccess writer;
        writer.SetUserInterface(&m_ui);
        ASSERT_TRUE(writer.DriverConnect("DSN=" + m_database.Dsn() + ";Timeout=1"));
        EXPECT_TRUE(writer.Execute("INSERT INTO Recording VALUES (1.0, {d '2024-03-01'}, "
                                   "{t '10:01:00'}, 1)"));
    }
    else
    {
        // A server that stops answering fails a read after the bound.
        CReadingHistory stalled({m_database.Dsn(), true, {}, {}, 1}, {{"10.0.0.5", 80, 1}});
        ASSERT_TRUE(stalled.Load(0, 1000)) << stalled.ErrorText();
        EXPECT_TRUE(
            EndsWhileSuspended(PgServer::Shared(), [&] { EXPECT_FALSE(stalled.Update()); }));
        EXPECT_EQ(stalled.ErrorText(), NoAnswerText(1));
    }

    CReadingHistory missing = History("Keine solche Datenquelle");
    EXPECT_FALSE(missing.Load(3, 1000));
    EXPECT_EQ(missing.ErrorText(), "Die angegebene Datenquelle existiert nicht.");
    RawOdbc("DSN=" + m_database.Dsn()).Exec("DROP TABLE Recording");
    EXPECT_FALSE(history.Update());
    EXPECT_NE(history.ErrorText(), "");
}

INSTANTIATE_TEST_SUITE_P(Drivers, ReadingHistoryTest,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return BackendName(info.param); });

} // namespace
