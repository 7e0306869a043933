#include "export/SensorExport.h"

#include "common/PgServer.h"
#include "db/DbTestSupport.h"
#include "db/SensorDatabase.h"
#include "export/ExportRange.h"
#include "export/ReadingHistory.h"
#include "export/ReadingReduction.h"

#include <QDateTime>
#include <climits>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>

namespace
{

constexpr double kGap = std::numeric_limits<double>::quiet_NaN();

// Points as "x=y", "x=gap" for a break.
std::string Describe(const std::vector<CChartPoint>& points)
{
    std::string text;
    for (const CChartPoint& point : points)
        text += (text.empty() ? "" : " ") + std::to_string(static_cast<long long>(point.x)) + "=" +
                (std::isnan(point.y) ? "gap" : QString::number(point.y).toStdString());
    return text;
}

TEST(ReadingReduction, ColumnsKeepTheirExtremesAndEveryGap)
{
    // Rows as "time=value", "time=-" for a NULL; points as Describe writes them.
    const struct
    {
        const char* name;
        int columns;
        std::int64_t width, widthAfter;
        const char* rows;
        const char* points;
    } cases[] = {
        {"one row per column is drawn as read", 10, 1000, 1000, "0=1 1000=2 2000=- 3000=3 4000=4",
         "0=1 1000=2 2000=gap 3000=3 4000=4"},
        {"NULL rows at either end draw nothing", 10, 1000, 1000, "0=- 1000=5 2000=-", "1000=5"},
        {"a column keeps first, highest, lowest and last in time order", 10, 10000, 10000,
         "0=5 1000=9 2000=1 3000=7 4000=3 9000=5", "0=5 1000=9 2000=1 9000=5"},
        {"a NULL inside a column splits it", 10, 10000, 10000,
         "0=1 1000=3 2000=- 3000=2 4000=4 5000=3", "0=1 1000=3 2000=gap 3000=2 4000=4 5000=3"},
        {"rows past the last column make the columns twice as wide, with their gaps", 4, 1000, 2000,
         "0=0 500=- 1000=1 2000=2 3000=- 4000=4 7000=7",
         "0=0 500=gap 1000=1 2000=2 3000=gap 4000=4 7000=7"},
        {"merged columns keep the extremes of both", 2, 1000, 2000,
         "0=5 500=6 1000=4 1200=9 1500=0 1900=3 2000=2", "0=5 1200=9 1500=0 1900=3 2000=2"},
        {"a late row goes to its place", 10, 1000, 1000, "2000=2 0=0.5 1000=-",
         "0=0.5 1000=gap 2000=2"},
    };
    for (const auto& test : cases)
    {
        CReadingReduction reduction(test.columns, 0, test.width);
        std::istringstream rows(test.rows);
        size_t count = 0;
        std::vector<double> values;
        for (std::string row; rows >> row; ++count)
        {
            const std::string value = row.substr(row.find('=') + 1);
            if (value != "-")
                values.push_back(std::stod(value));
            reduction.Add(std::stoll(row),
                          value == "-" ? std::nullopt : std::optional<double>(values.back()));
        }
        EXPECT_EQ(Describe(reduction.Points()), test.points) << test.name;
        const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
        EXPECT_EQ(reduction.ValueRange(), std::make_pair(*lowest, *highest)) << test.name;
        EXPECT_EQ(reduction.ColumnWidth(), test.widthAfter) << test.name;
        EXPECT_EQ(reduction.Rows(), count) << test.name;
    }
}

// Local time.
std::int64_t Msecs(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second)).toMSecsSinceEpoch();
}

CChartPoint At(int hour, int minute, double value)
{
    return {static_cast<double>(Msecs(2024, 3, 1, hour, minute, 0)), value};
}

// A point registered as recording registers it, on each driver.
class SensorExportTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        m_sdb.m_strDataSource = m_database.Dsn();
        ASSERT_TRUE(m_sdb.OpenDatabase(false));
        m_nId = m_sdb.RegisterSensor(MakeSensor("10.0.0.5", 80, 1, "°C", "Serverraum"));
        ASSERT_GT(m_nId, 0);
    }

    // rows: "reading, {d ...}, {t ...}" of this sensor, or of another.
    void Insert(const std::vector<std::string>& rows, int sensorId = 0)
    {
        RawOdbc raw("DSN=" + m_database.Dsn());
        for (const std::string& row : rows)
            raw.Exec("INSERT INTO Recording VALUES (" + row + ", " +
                     std::to_string(sensorId ? sensorId : m_nId) + ")");
    }

    std::string Series(int days)
    {
        EXPECT_TRUE(m_export.WriteSeriesFile(m_nId, m_file.string(), days));
        return ReadFileBytes(m_file);
    }

    TestDatabase m_database{GetParam()};
    RecordingUi m_ui;
    CSensorDatabase m_sdb{m_ui};
    CSensorExport m_export{m_sdb};
    int m_nId = -1;
    TempDir m_dir;
    std::filesystem::path m_file = m_dir / "sensor.xls";
};

const std::string kHeader = "Serverraum\t°C\t10.0.0.5\t80\t1\r\n";
const std::string kSummaryHeader = "Serverraum\tMax\tAvg\tMin °C\tValues\r\n";

TEST_P(SensorExportTest, BothFilesAreWrittenByteForByteOrEndSayingWhy)
{
    Insert({"21.75, {d '2005-06-01'}, {t '12:02:00'}", "21.5, {d '2005-06-01'}, {t '12:00:00'}",
            "NULL, {d '2005-06-01'}, {t '12:01:00'}", "-3.25, {d '2005-06-02'}, {t '09:05:03'}",
            "21.0, {d '2005-06-02'}, {t '23:59:59'}", "NULL, {d '2005-06-04'}, {t '00:00:00'}"});
    Insert({"99, {d '2005-06-01'}, {t '12:00:00'}"}, m_nId + 1);

    EXPECT_EQ(Series(0), kHeader + "2005-06-01 12:00:00\t21.500\r\n"
                                   "2005-06-01 12:01:00\t\r\n"
                                   "2005-06-01 12:02:00\t21.750\r\n"
                                   "2005-06-02 09:05:03\t-3.250\r\n"
                                   "2005-06-02 23:59:59\t21.000\r\n"
                                   "2005-06-04 00:00:00\t\r\n");
    // A day without a valid reading has no line; the count is of values.
    ASSERT_TRUE(m_export.WriteSummaryFile(m_nId, m_file.string()));
    EXPECT_EQ(ReadFileBytes(m_file), kSummaryHeader + "2005-06-01\t21.750\t21.625\t21.500\t2\r\n"
                                                      "2005-06-02\t21.000\t8.875\t-3.250\t2\r\n");
    EXPECT_TRUE(m_ui.m_errors.empty());

    // No file can be made there: the reason names the path.
    EXPECT_FALSE(m_export.WriteSeriesFile(m_nId, m_dir.Path().string(), 0));
    EXPECT_NE(m_export.ErrorText().find(m_dir.Path().string()), std::string::npos);
    // The readings cannot be read: the header stays, the database says why.
    RawOdbc("DSN=" + m_database.Dsn()).Exec("DROP TABLE Recording");
    EXPECT_FALSE(m_export.WriteSeriesFile(m_nId, m_file.string(), 0));
    EXPECT_EQ(ReadFileBytes(m_file), kHeader);
    EXPECT_FALSE(m_export.WriteSummaryFile(m_nId, m_file.string()));
    EXPECT_EQ(ReadFileBytes(m_file), kSummaryHeader);
    EXPECT_EQ(m_ui.m_errors.size(), 2u);
}

TEST_P(SensorExportTest, LastDaysAreWholeCalendarDaysUpToToday)
{
    Insert({"1, {d '1700-01-01'}, {t '12:00:00'}", "2, {d '2024-02-23'}, {t '23:59:59'}",
            "3, {d '2024-02-24'}, {t '00:00:00'}", "4, {d '2024-03-01'}, {t '00:00:10'}"});
    const std::string all = kHeader + "1700-01-01 12:00:00\t1.000\r\n"
                                      "2024-02-23 23:59:59\t2.000\r\n"
                                      "2024-02-24 00:00:00\t3.000\r\n"
                                      "2024-03-01 00:00:10\t4.000\r\n";
    // The time of day plays no part.
    for (const CivilTime& now :
         {CivilTime{2024, 3, 1, 0, 0, 30}, CivilTime{2024, 3, 1, 23, 59, 59}})
    {
        const FakeClock clock(now);
        EXPECT_EQ(Series(1), kHeader + "2024-03-01 00:00:10\t4.000\r\n");
        EXPECT_EQ(Series(7), kHeader + "2024-02-24 00:00:00\t3.000\r\n"
                                       "2024-03-01 00:00:10\t4.000\r\n");
        EXPECT_EQ(Series(0), all);
        // Reaching back past 1601 there is no date to compare with, and
        // every reading is inside.
        EXPECT_EQ(Series(200000), all);
        EXPECT_EQ(Series(INT_MAX), all);
    }
    EXPECT_TRUE(ExportRangeStart({1601, 1, 5, 23, 0, 0}, 4).has_value());
    EXPECT_FALSE(ExportRangeStart({1601, 1, 5, 0, 0, 0}, 5).has_value());
    EXPECT_EQ(ExportRangeCondition({2000, 3, 1, 0, 0, 0}, 1), " AND Calendar>{d '2000-02-29'}");
}

// The chart window's readings: the exported point as the first line and
// again as the third, another point, and one never recorded.
class ReadingHistoryTest : public SensorExportTest
{
protected:
    void SetUp() override
    {
        SensorExportTest::SetUp();
        m_nSecond = m_sdb.RegisterSensor(MakeSensor("10.0.0.6", 80, 0));
        Insert({"1, {d '2024-02-27'}, {t '23:59:59'}", "2, {d '2024-02-28'}, {t '00:00:00'}",
                "3, {d '2024-03-01'}, {t '11:57:00'}", "NULL, {d '2024-03-01'}, {t '11:58:00'}",
                "4, {d '2024-03-01'}, {t '11:59:00'}"});
        Insert({"-5, {d '2024-03-01'}, {t '11:59:00'}"}, m_nSecond);
    }

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
    const CChartPoint midnight{static_cast<double>(Msecs(2024, 2, 28, 0, 0, 0)), 2};
    const std::string first = Describe({midnight, At(11, 57, 3), At(11, 58, kGap), At(11, 59, 4)});
    EXPECT_EQ(Points(history, 0), first);
    EXPECT_EQ(Points(history, 1), Describe({At(11, 59, -5)}));
    EXPECT_EQ(Points(history, 2), first);
    EXPECT_EQ(history.Lines()[3].m_nSensorId, -1);
    EXPECT_EQ(history.Lines()[3].m_readings.Rows(), 0u);

    // A new row, one stored late but within the hour before the newest,
    // one too late to be looked for, and the first row of a point that
    // recording registered meanwhile.
    Insert({"5, {d '2024-03-01'}, {t '12:00:00'}", "6, {d '2024-03-01'}, {t '11:30:00'}",
            "7, {d '2024-03-01'}, {t '10:00:00'}"});
    Insert({"8, {d '2024-03-01'}, {t '12:00:00'}"},
           m_sdb.RegisterSensor(MakeSensor("10.0.0.7", 80, 0)));
    clock.emplace(CivilTime{2024, 3, 1, 12, 1, 0});
    for (int update = 0; update < 2; ++update)
    {
        ASSERT_TRUE(history.Update()) << history.ErrorText();
        EXPECT_EQ(Points(history, 0), Describe({midnight, At(11, 30, 6), At(11, 57, 3),
                                                At(11, 58, kGap), At(11, 59, 4), At(12, 0, 5)}))
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

INSTANTIATE_FOR_BOTH_DRIVERS(SensorExportTest);
INSTANTIATE_FOR_BOTH_DRIVERS(ReadingHistoryTest);

} // namespace
