#include "DbTestSupport.h"
#include "Process.h"
#include "TempDir.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace
{

std::string LocalDate(int daysAgo)
{
    const std::time_t then = std::time(nullptr) - daysAgo * 86400;
    std::tm local{};
    localtime_r(&then, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return text;
}

// tessaro-cli on the embedded driver, as a user without settings: the data
// source comes from --dsn.
class CliExportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const char* home = std::getenv("HOME"))
            m_oldHome = home;
        setenv("HOME", m_home.Path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_home / ".config").c_str(), 1);
        WriteFileBytes(m_config, "ZELD1\r\n"
                                 "10.0.0.9\t80\t0\t1\t%\tFeuchte\t0x00\r\n"
                                 "10.0.0.5\t80\t1\t1\t\xC2\xB0"
                                 "C\tServerraum\t0x00\r\n");
        Exec("CREATE TABLE Sensors (SensorID INT, Host VARCHAR(64), Port INT, Slot INT, "
             "Unit VARCHAR(32), Location VARCHAR(80))");
        Exec("CREATE TABLE Recording (Reading FLOAT, Calendar DATE, Clock TIME, SensorID INT)");
    }

    void TearDown() override
    {
        if (m_oldHome)
            setenv("HOME", m_oldHome->c_str(), 1);
        unsetenv("XDG_CONFIG_HOME");
    }

    void Exec(const std::string& sql) { RawOdbc("DSN=" + m_database.Dsn()).Exec(sql); }

    ProcessResult Cli(std::vector<std::string> args, bool withDsn = true)
    {
        args.insert(args.begin(), TESSARO_CLI);
        if (withDsn)
            args.insert(args.end(), {"--dsn", m_database.Dsn()});
        return RunProcess(args);
    }

    TempDir m_home;
    TestDatabase m_database{Backend::Sqlite};
    std::filesystem::path m_config = m_home / "sensors.ini";
    std::optional<std::string> m_oldHome;
};

TEST_F(CliExportTest, ExportsWriteTheFileAndTheWorkbookBesideIt)
{
    Exec("INSERT INTO Sensors VALUES (4, '10.0.0.5', 80, 1, 'alt', 'alt')");
    Exec("INSERT INTO Recording VALUES (21.5, {d '2005-06-01'}, {t '12:00:00'}, 4)");
    Exec("INSERT INTO Recording VALUES (NULL, {d '2005-06-01'}, {t '12:01:00'}, 4)");
    Exec("INSERT INTO Recording VALUES (21.75, {d '2005-06-01'}, {t '12:02:00'}, 4)");
    const std::filesystem::path out = m_home / "serie.xls";

    const ProcessResult series = Cli({"export-series", m_config.string(), "1", out.string()});
    ASSERT_EQ(series.exitCode, 0) << series.err;
    EXPECT_EQ(series.out,
              "export\t" + out.string() + "\nworkbook\t" + (m_home / "serie.xlsx").string() + "\n");
    // The configuration's texts replace the old ones in the header.
    EXPECT_EQ(ReadFileBytes(out), "Serverraum\t\xC2\xB0"
                                  "C\t10.0.0.5\t80\t1\r\n"
                                  "2005-06-01 12:00:00\t21.500\r\n"
                                  "2005-06-01 12:01:00\t\r\n"
                                  "2005-06-01 12:02:00\t21.750\r\n");
    EXPECT_EQ(ReadFileBytes(m_home / "serie.xlsx").substr(0, 2), "PK");

    const ProcessResult summary =
        Cli({"export-summary", m_config.string(), "1", (m_home / "summe.xls").string()});
    ASSERT_EQ(summary.exitCode, 0) << summary.err;
    EXPECT_EQ(ReadFileBytes(m_home / "summe.xls"), "Serverraum\tMax\tAvg\tMin \xC2\xB0"
                                                   "C\tValues\r\n"
                                                   "2005-06-01\t21.750\t21.625\t21.500\t2\r\n");
    EXPECT_TRUE(std::filesystem::exists(m_home / "summe.xlsx"));

    // --days counts calendar days back from today on the real clock.
    const std::string before = LocalDate(0);
    Exec("INSERT INTO Recording VALUES (1, {d '" + LocalDate(0) + "'}, {t '00:00:00'}, 4)");
    Exec("INSERT INTO Recording VALUES (2, {d '" + LocalDate(3) + "'}, {t '00:00:00'}, 4)");
    const ProcessResult recent =
        Cli({"export-series", m_config.string(), "1", out.string(), "--days", "3"});
    ASSERT_EQ(recent.exitCode, 0) << recent.err;
    // Across midnight the days have moved under the command; nothing to say.
    if (LocalDate(0) == before)
    {
        EXPECT_EQ(ReadFileBytes(out), "Serverraum\t\xC2\xB0"
                                      "C\t10.0.0.5\t80\t1\r\n" +
                                          LocalDate(0) + " 00:00:00\t1.000\r\n");
    }
}

TEST_F(CliExportTest, WhatCannotBeHandledEndsWithAReason)
{
    const std::string config = m_config.string();
    const std::string out = (m_home / "x.xls").string();
    // Bad usage and a file that is no configuration: 2.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"export-series", config, "1"},
             {"export-series", config, "-1", out},
             {"export-series", config, "1", out, "--days", "sieben"},
             {"export-summary", config, "1", out, "--days", "3"},
             {"stats"},
             {"import", config, "--days", "1"}})
        EXPECT_EQ(Cli(args, false).exitCode, 2) << args[0] << " " << args.back();
    WriteFileBytes(m_home / "other.ini", "not a configuration\r\n");
    EXPECT_EQ(Cli({"stats", (m_home / "other.ini").string()}).exitCode, 2);

    // No such sensor, no such data source, no place for the file: 1.
    ProcessResult result = Cli({"export-series", config, "2", out});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("2 sensors"), std::string::npos) << result.err;
    result = Cli({"export-summary", config, "0", out, "--dsn", "Nowhere"}, false);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("Die angegebene Datenquelle existiert nicht."), std::string::npos);
    const std::string lost = (m_home / "no/such/folder/x.xls").string();
    result = Cli({"export-series", config, "0", lost});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(lost), std::string::npos) << result.err;
    // The workbook cannot be written where its name is taken by a folder;
    // the export file stays.
    std::filesystem::create_directory(m_home / "x.xlsx");
    result = Cli({"export-series", config, "0", out});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find((m_home / "x.xlsx").string()), std::string::npos) << result.err;
    EXPECT_EQ(ReadFileBytes(out), "Feuchte\t%\t10.0.0.9\t80\t0\r\n");
}

TEST_F(CliExportTest, StatsPrintTheFilesSensorsAndImportAddsTheRestOnce)
{
    Exec("INSERT INTO Sensors VALUES (1, '10.0.0.5', 80, 1, '', '')");
    Exec("INSERT INTO Sensors VALUES (2, '10.0.0.7', 65616, 3, 'hPa', 'Dach')");
    Exec("INSERT INTO Recording VALUES (1.5, {d '2005-06-01'}, {t '12:00:00'}, 1)");
    Exec("INSERT INTO Recording VALUES (NULL, {d '2005-06-01'}, {t '12:01:00'}, 1)");

    const std::string config = m_config.string();
    ProcessResult result = Cli({"stats", config});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "10.0.0.9\t80\t0\t1\t%\tFeuchte\t0x00\t\n"
                          "10.0.0.5\t80\t1\t1\t\xC2\xB0"
                          "C\tServerraum\t0x00\t2 Werte, 1 g\xC3\xBCltig, 0 von heute\n");
    const std::string unchanged = ReadFileBytes(m_config);

    result = Cli({"import", config});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "10.0.0.7\t80\t3\t1\thPa\tDach\t0x00\n");
    EXPECT_EQ(ReadFileBytes(m_config), unchanged + "10.0.0.7\t80\t3\t1\thPa\tDach\t0x00\r\n");

    result = Cli({"import", config});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(ReadFileBytes(m_config), unchanged + "10.0.0.7\t80\t3\t1\thPa\tDach\t0x00\r\n");
}

} // namespace
