#include "export/SensorExport.h"

#include "db/DbTestSupport.h"
#include "export/ExportRange.h"
#include "sensors/Sensor.h"
#include "db/SensorDatabase.h"

#include <climits>
#include <filesystem>
#include <gtest/gtest.h>

namespace
{

class SensorExportTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        m_sdb.m_strDataSource = m_database.Dsn();
        ASSERT_TRUE(m_sdb.OpenDatabase(false));
        CSensor sensor;
        sensor.m_strAddress = "10.0.0.5";
        sensor.m_nSensorNo = 1;
        sensor.m_strUnit = "\xC2\xB0"
                           "C";
        sensor.m_strDescription = "Serverraum";
        m_nId = m_sdb.RegisterSensor(sensor);
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

const std::string kHeader = "Serverraum\t\xC2\xB0"
                            "C\t10.0.0.5\t80\t1\r\n";
const std::string kSummaryHeader = "Serverraum\tMax\tAvg\tMin \xC2\xB0"
                                   "C\tValues\r\n";

TEST_P(SensorExportTest, BothFilesAreWrittenByteForByte)
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

TEST_P(SensorExportTest, FailuresEndTheFileAndSayWhy)
{
    Insert({"1, {d '2005-06-01'}, {t '12:00:00'}"});
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

INSTANTIATE_TEST_SUITE_P(Drivers, SensorExportTest,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return BackendName(info.param); });

} // namespace
