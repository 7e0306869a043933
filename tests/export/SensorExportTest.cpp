#include "SensorExport.h"

#include "DbTestSupport.h"
#include "ExportHost.h"
#include "ExportRange.h"
#include "Sensor.h"
#include "SensorDatabase.h"

#include <climits>
#include <filesystem>
#include <gtest/gtest.h>

namespace
{

// The front end of an export: answers the file question and remembers
// everything it was asked to do.
class HostStandIn : public IExportHost
{
public:
    explicit HostStandIn(CSensorDatabase& database) : m_database(database) {}

    bool OpenDatabase() override
    {
        ++m_nOpens;
        return m_database.OpenDatabase(false);
    }
    bool AskExportFile(std::string& path, int* range) override
    {
        m_asked.push_back(range != nullptr);
        if (m_strPath.empty())
            return false;
        path = m_strPath;
        if (range)
            *range = m_nRange;
        return true;
    }
    void SetStatusText(unsigned id) override { m_statusTexts.push_back(id); }
    void OpenInSpreadsheet(const std::string& path, bool summary) override
    {
        m_opened.emplace_back(path, summary);
    }

    std::string m_strPath; // empty: cancel
    int m_nRange = 0;
    int m_nOpens = 0;
    std::vector<bool> m_asked; // with a range?
    std::vector<unsigned> m_statusTexts;
    std::vector<std::pair<std::string, bool>> m_opened;

private:
    CSensorDatabase& m_database;
};

class SensorExportTest : public ::testing::TestWithParam<Backend>
{
protected:
    void SetUp() override
    {
        m_sdb.m_strDataSource = m_database.Dsn();
        ASSERT_TRUE(m_sdb.OpenDatabase(false));
        m_sensor.m_strAddress = "10.0.0.5";
        m_sensor.m_nSensorNo = 1;
        m_sensor.m_strUnit = "\xC2\xB0"
                             "C";
        m_sensor.m_strDescription = "Serverraum";
        m_nId = m_sdb.RegisterSensor(m_sensor);
        ASSERT_GT(m_nId, 0);
    }

    // rows: "reading, {d ...}, {t ...}" without the sensor.
    void Insert(const std::vector<std::string>& rows, int sensorId = -1)
    {
        RawOdbc raw("DSN=" + m_database.Dsn());
        for (const std::string& row : rows)
            raw.Exec("INSERT INTO Recording VALUES (" + row + ", " +
                     std::to_string(sensorId < 0 ? m_nId : sensorId) + ")");
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
    CSensor m_sensor;
    int m_nId = -1;
    TempDir m_dir;
    std::filesystem::path m_file = m_dir / "sensor.xls";
};

const std::string kHeader = "Serverraum\t\xC2\xB0"
                            "C\t10.0.0.5\t80\t1\r\n";

TEST_P(SensorExportTest, BothFilesAreWrittenByteForByte)
{
    Insert({"21.75, {d '2005-06-01'}, {t '12:02:00'}", "21.5, {d '2005-06-01'}, {t '12:00:00'}",
            "NULL, {d '2005-06-01'}, {t '12:01:00'}", "-3.25, {d '2005-06-02'}, {t '09:05:03'}",
            "21.0, {d '2005-06-02'}, {t '23:59:59'}", "-0.0001, {d '2005-06-03'}, {t '00:00:00'}",
            "NULL, {d '2005-06-04'}, {t '00:00:00'}"});
    Insert({"99, {d '2005-06-01'}, {t '12:00:00'}"}, m_nId + 1);

    EXPECT_EQ(Series(0), kHeader + "2005-06-01 12:00:00\t21.500\r\n"
                                   "2005-06-01 12:01:00\t\r\n"
                                   "2005-06-01 12:02:00\t21.750\r\n"
                                   "2005-06-02 09:05:03\t-3.250\r\n"
                                   "2005-06-02 23:59:59\t21.000\r\n"
                                   "2005-06-03 00:00:00\t-0.000\r\n"
                                   "2005-06-04 00:00:00\t\r\n");

    // Days without a valid reading have no line; the count is of values.
    ASSERT_TRUE(m_export.WriteSummaryFile(m_nId, m_file.string()));
    EXPECT_EQ(ReadFileBytes(m_file), "Serverraum\tMax\tAvg\tMin \xC2\xB0"
                                     "C\tValues\r\n"
                                     "2005-06-01\t21.750\t21.625\t21.500\t2\r\n"
                                     "2005-06-02\t21.000\t8.875\t-3.250\t2\r\n"
                                     "2005-06-03\t-0.000\t-0.000\t-0.000\t1\r\n");
    EXPECT_TRUE(m_ui.m_errors.empty());
}

TEST_P(SensorExportTest, LastDaysAreWholeCalendarDaysUpToToday)
{
    Insert({"1, {d '1700-01-01'}, {t '12:00:00'}", "2, {d '2024-02-23'}, {t '23:59:59'}",
            "3, {d '2024-02-24'}, {t '00:00:00'}", "4, {d '2024-02-29'}, {t '12:00:00'}",
            "5, {d '2024-03-01'}, {t '00:00:10'}"});
    const std::string all = kHeader + "1700-01-01 12:00:00\t1.000\r\n"
                                      "2024-02-23 23:59:59\t2.000\r\n"
                                      "2024-02-24 00:00:00\t3.000\r\n"
                                      "2024-02-29 12:00:00\t4.000\r\n"
                                      "2024-03-01 00:00:10\t5.000\r\n";
    for (const CivilTime& now :
         {CivilTime{2024, 3, 1, 0, 0, 30}, CivilTime{2024, 3, 1, 23, 59, 59}})
    {
        const FakeClock clock(now);
        EXPECT_EQ(Series(1), kHeader + "2024-03-01 00:00:10\t5.000\r\n");
        EXPECT_EQ(Series(7), kHeader + "2024-02-24 00:00:00\t3.000\r\n"
                                       "2024-02-29 12:00:00\t4.000\r\n"
                                       "2024-03-01 00:00:10\t5.000\r\n");
        EXPECT_EQ(Series(0), all);
        EXPECT_EQ(Series(-7), all);
        // Reaching back past 1601 there is no start to compare with, and
        // every reading is inside.
        EXPECT_EQ(Series(200000), all);
        EXPECT_EQ(Series(INT_MAX), all);
    }
    EXPECT_TRUE(m_ui.m_errors.empty());
}

TEST(ExportRangeTest, StartIsTodayMinusTheDaysAndNeverBefore1601)
{
    const auto start = [](CivilTime now, int days)
    {
        const std::optional<CivilTime> day = ExportRangeStart(now, days);
        return day ? std::to_string(day->year) + "-" + std::to_string(day->month) + "-" +
                         std::to_string(day->day)
                   : "none";
    };
    EXPECT_EQ(start({2024, 3, 1, 23, 59, 59}, 1), "2024-2-29");
    EXPECT_EQ(start({2023, 3, 1, 0, 0, 0}, 1), "2023-2-28");
    EXPECT_EQ(start({2100, 3, 1, 0, 0, 0}, 1), "2100-2-28");
    EXPECT_EQ(start({2000, 3, 1, 0, 0, 0}, 1), "2000-2-29");
    EXPECT_EQ(start({2025, 1, 1, 0, 0, 0}, 365), "2024-1-2");
    EXPECT_EQ(start({1601, 1, 5, 0, 0, 0}, 4), "1601-1-1");
    EXPECT_EQ(start({1601, 1, 5, 23, 0, 0}, 5), "none");
    EXPECT_EQ(start({2024, 3, 1, 0, 0, 0}, INT_MAX), "none");
    EXPECT_EQ(ExportRangeCondition({2024, 3, 1, 0, 0, 0}, 7), " AND Calendar>{d '2024-02-23'}");
    EXPECT_EQ(ExportRangeCondition({2024, 3, 1, 0, 0, 0}, 0), "");
    EXPECT_EQ(ExportRangeCondition({2024, 3, 1, 0, 0, 0}, 800000), "");
}

TEST_P(SensorExportTest, FailuresEndTheFileAndSayWhy)
{
    Insert({"1, {d '2005-06-01'}, {t '12:00:00'}"});
    // A sensor the sensor table does not know: rows without a header line.
    ASSERT_TRUE(m_export.WriteSeriesFile(m_nId + 1, m_file.string(), 0));
    EXPECT_EQ(ReadFileBytes(m_file), "");

    // No file can be made there: false, with the reason and the path.
    EXPECT_FALSE(m_export.WriteSeriesFile(m_nId, m_dir.Path().string(), 0));
    EXPECT_NE(m_export.ErrorText().find(m_dir.Path().string()), std::string::npos);
    EXPECT_FALSE(m_export.WriteSummaryFile(m_nId, (m_dir / "no/such/folder").string()));
    EXPECT_TRUE(m_ui.m_errors.empty());

    // The readings cannot be read: the header stays, the database says why.
    RawOdbc("DSN=" + m_database.Dsn()).Exec("DROP TABLE Recording");
    EXPECT_FALSE(m_export.WriteSeriesFile(m_nId, m_file.string(), 0));
    EXPECT_EQ(ReadFileBytes(m_file), kHeader);
    EXPECT_FALSE(m_export.WriteSummaryFile(m_nId, m_file.string()));
    EXPECT_EQ(ReadFileBytes(m_file), "Serverraum\tMax\tAvg\tMin \xC2\xB0"
                                     "C\tValues\r\n");
    EXPECT_EQ(m_ui.m_errors.size(), 2u);
}

TEST_P(SensorExportTest, CommandOpensAsksWritesAndHandsOn)
{
    Insert({"1, {d '2024-02-29'}, {t '12:00:00'}", "2, {d '2024-03-01'}, {t '08:00:00'}"});
    const FakeClock clock({2024, 3, 1, 9, 0, 0});
    HostStandIn host(m_sdb);
    m_sdb.m_db.Close();
    // The description changed since the sensor was registered.
    m_sensor.m_strDescription = "Rechenzentrum";

    host.m_strPath = m_file.string();
    host.m_nRange = 1;
    EXPECT_TRUE(m_export.Export(m_sensor, false, host));
    EXPECT_EQ(ReadFileBytes(m_file), "Rechenzentrum\t\xC2\xB0"
                                     "C\t10.0.0.5\t80\t1\r\n2024-03-01 08:00:00\t2.000\r\n");
    EXPECT_EQ(host.m_statusTexts, (std::vector<unsigned>{331, 57345}));
    EXPECT_EQ(host.m_opened, (std::vector<std::pair<std::string, bool>>{{m_file.string(), false}}));
    EXPECT_EQ(host.m_nOpens, 1);
    EXPECT_FALSE(m_sdb.m_db.IsOpen());

    // The summary asks without a range; an open connection stays open.
    ASSERT_TRUE(m_sdb.OpenDatabase(false));
    EXPECT_TRUE(m_export.Export(m_sensor, true, host));
    EXPECT_EQ(host.m_asked, (std::vector<bool>{true, false}));
    EXPECT_EQ(host.m_opened.back(), std::make_pair(m_file.string(), true));
    EXPECT_EQ(host.m_nOpens, 1);
    EXPECT_TRUE(m_sdb.m_db.IsOpen());

    // Cancelled: nothing written, nothing handed on.
    std::filesystem::remove(m_file);
    host.m_strPath.clear();
    EXPECT_FALSE(m_export.Export(m_sensor, false, host));
    EXPECT_FALSE(std::filesystem::exists(m_file));
    EXPECT_EQ(host.m_opened.size(), 2u);

    // A file that cannot be made is not handed on.
    host.m_strPath = m_dir.Path().string();
    EXPECT_FALSE(m_export.Export(m_sensor, false, host));
    EXPECT_EQ(host.m_opened.size(), 2u);
    EXPECT_EQ(host.m_statusTexts.back(), 57345u);

    // Without a sensor number there is no question at all.
    RawOdbc("DSN=" + m_database.Dsn()).Exec("DROP TABLE Sensors");
    EXPECT_FALSE(m_export.Export(m_sensor, false, host));
    EXPECT_EQ(host.m_asked.size(), 4u);
    EXPECT_TRUE(m_sdb.m_db.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Drivers, SensorExportTest,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return BackendName(info.param); });

} // namespace
