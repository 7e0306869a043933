#include "common/PgServer.h"
#include "common/Process.h"
#include "common/TempDir.h"
#include "db/DbAccess.h"
#include "db/DbTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace
{

using namespace std::chrono_literals;

// tessaro-cli on the embedded driver, as a user without settings.
class CliExportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("XDG_CONFIG_HOME", (m_home / ".config").c_str(), 1);
        WriteFileBytes(m_config, "ZELD1\r\n10.0.0.9\t80\t0\t1\t%\tFeuchte\t0x00\r\n"
                                 "10.0.0.5\t80\t1\t1\t\xC2\xB0"
                                 "C\tServerraum\t0x00\r\n");
        for (const char* sql :
             {"CREATE TABLE Sensors (SensorID INT, Host VARCHAR(64), Port INT, Slot INT, "
              "Unit VARCHAR(32), Location VARCHAR(80))",
              "CREATE TABLE Recording (Reading FLOAT, Calendar DATE, Clock TIME, SensorID INT)",
              "INSERT INTO Sensors VALUES (4, '10.0.0.5', 80, 1, 'alt', 'alt')",
              "INSERT INTO Sensors VALUES (5, '10.0.0.7', 65616, 3, 'hPa', 'Dach')",
              "INSERT INTO Recording VALUES (21.5, {d '2005-06-01'}, {t '12:00:00'}, 4)",
              "INSERT INTO Recording VALUES (NULL, {d '2005-06-01'}, {t '12:01:00'}, 4)"})
            RawOdbc("DSN=" + m_database.Dsn()).Exec(sql);
    }
    void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }

    ProcessResult Cli(std::vector<std::string> args)
    {
        args.insert(args.begin(), TESSARO_CLI);
        args.insert(args.end(), {"--dsn", m_database.Dsn()});
        return RunProcess(args);
    }

    TempDir m_home;
    TestDatabase m_database{Backend::Sqlite};
    std::filesystem::path m_config = m_home / "sensors.ini";
};

TEST_F(CliExportTest, ExportsWriteTheFileAndTheWorkbookBesideIt)
{
    const std::string out = (m_home / "serie.xls").string();
    ProcessResult result = Cli({"export-series", m_config.string(), "1", out});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "export\t" + out + "\nworkbook\t" + (m_home / "serie.xlsx").string() + "\n");
    // The configuration's texts replace the old ones in the header.
    EXPECT_EQ(ReadFileBytes(out), "Serverraum\t\xC2\xB0"
                                  "C\t10.0.0.5\t80\t1\r\n2005-06-01 12:00:00\t21.500\r\n"
                                  "2005-06-01 12:01:00\t\r\n");
    EXPECT_EQ(ReadFileBytes(m_home / "serie.xlsx").substr(0, 2), "PK");

    // A workbook there that no export wrote stays; the next free name is
    // taken, and replaced by the next export of the same file.
    WriteFileBytes(m_home / "summe.xlsx", "meine");
    const std::string sum = (m_home / "summe.xls").string();
    for (int round = 0; round < 2; ++round)
    {
        result = Cli({"export-summary", m_config.string(), "1", sum});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out,
                  "export\t" + sum + "\nworkbook\t" + (m_home / "summe (2).xlsx").string() + "\n");
    }
    EXPECT_EQ(ReadFileBytes(m_home / "summe.xlsx"), "meine");

    // Never over its inputs, by whatever name they are given.
    std::filesystem::create_symlink(m_config, m_home / "link.xls");
    for (const std::filesystem::path& input : {m_config, m_home / "link.xls", m_database.File()})
    {
        const std::string start = ReadFileBytes(input).substr(0, 16);
        result = Cli({"export-series", m_config.string(), "1", input.string()});
        EXPECT_EQ(result.exitCode, 1) << input;
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with("tessaro-cli: " + input.string() + " ist die "))
            << result.err;
        EXPECT_EQ(ReadFileBytes(input).substr(0, 16), start);
    }

    // Bad usage: 2. No such sensor, no place for the file: 1, with a reason.
    EXPECT_EQ(Cli({"export-series", m_config.string(), "1", out, "--days", "x"}).exitCode, 2);
    EXPECT_EQ(Cli({"export-summary", m_config.string(), "-1", out}).exitCode, 2);
    result = Cli({"export-summary", m_config.string(), "2", out});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("2 sensors"), std::string::npos) << result.err;
    const std::string lost = (m_home / "no/such/x.xls").string();
    result = Cli({"export-summary", m_config.string(), "1", lost});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(lost), std::string::npos) << result.err;
}

TEST_F(CliExportTest, StatsPrintTheFilesSensorsAndImportAddsTheRestOnce)
{
    ProcessResult result = Cli({"stats", m_config.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "10.0.0.9\t80\t0\t1\t%\tFeuchte\t0x00\t\n"
                          "10.0.0.5\t80\t1\t1\t\xC2\xB0"
                          "C\tServerraum\t0x00\t2 Werte, 1 g\xC3\xBCltig, 0 von heute\n");
    const std::string before = ReadFileBytes(m_config);
    const std::string added = "10.0.0.7\t80\t3\t1\thPa\tDach\t0x00";
    for (const std::string& expected : {added + "\n", std::string()})
    {
        result = Cli({"import", m_config.string()});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, expected);
        EXPECT_EQ(ReadFileBytes(m_config), before + added + "\r\n");
    }
}

TEST_F(CliExportTest, EveryDatabaseCommandWaitsForALockedFileNoLongerThanTheBoundGiven)
{
    // Set up to wait an hour; a command that ignored its option would run
    // into the test's own limit.
    std::filesystem::create_directories(m_home / ".config/Arveda");
    WriteFileBytes(m_home / ".config/Arveda/Tessaro.conf", "[Database]\nTimeout=3600\n");
    const std::string config = m_config.string(), out = (m_home / "x.xls").string();
    const std::vector<std::vector<std::string>> commands = {{"db", "check"},
                                                            {"stats", config},
                                                            {"import", config},
                                                            {"export-series", config, "1", out},
                                                            {"export-summary", config, "1", out}};
    SqliteLock lock(m_database.File());
    for (std::vector<std::string> command : commands)
    {
        command.insert(command.end(), {"--db-timeout", "0"});
        EXPECT_EQ(Cli(command).exitCode, 2) << command[0];
        command.back() = "1";
        const ProcessResult result = Cli(command);
        EXPECT_EQ(result.exitCode, 1) << command[0];
        // The driver's busy time-out and the program's own bound end together.
        EXPECT_TRUE(result.err.find("locked") != std::string::npos ||
                    result.err.find(NoAnswerText(1)) != std::string::npos)
            << command[0] << result.err;
    }
}

// A server that stops answering in the middle of a statement (held up by a
// lock first, so that it is surely under way): the command ends after the
// bound of the settings with the program's text, and status 1.
class CliBoundTest : public ::testing::Test
{
protected:
    void SetUp() override { setenv("XDG_CONFIG_HOME", (m_home / ".config").c_str(), 1); }
    void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }

    TempDir m_home;
};

TEST_F(CliBoundTest, StatsAndExportEndAfterTheBoundWhenTheServerStopsAnswering)
{
    std::filesystem::create_directories(m_home / ".config/Arveda");
    WriteFileBytes(m_home / ".config/Arveda/Tessaro.conf", "[Database]\nTimeout=2\n");
    const std::filesystem::path config = m_home / "sensors.ini";
    WriteFileBytes(config, "ZELD1\r\n10.0.0.5\t80\t1\t1\t%\tServerraum\t0x00\r\n");
    PgServer& server = PgServer::Shared();
    const TestDatabase database(Backend::Postgres);
    RawOdbc holder("DSN=" + database.Dsn());
    holder.Exec("CREATE TABLE Sensors (SensorID INT, Host VARCHAR(64), Port INT, Slot INT, "
                "Unit VARCHAR(32), Location VARCHAR(80))");
    holder.Exec("CREATE TABLE Recording (Reading FLOAT, Calendar DATE, Clock TIME, SensorID INT)");
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"stats", config.string()},
          {"export-series", config.string(), "0", (m_home / "serie.xls").string()}})
    {
        holder.Exec("BEGIN");
        holder.Exec("LOCK TABLE Sensors IN ACCESS EXCLUSIVE MODE");
        std::vector<std::string> argv = {TESSARO_CLI};
        argv.insert(argv.end(), command.begin(), command.end());
        argv.insert(argv.end(), {"--dsn", database.Dsn()});
        ProcessResult result;
        EXPECT_TRUE(EndsWhileSuspended(
            server, [&] { result = RunProcess(argv, {}, 60s); },
            [&] { return WaitsForALock(server); }));
        EXPECT_EQ(result.exitCode, 1) << command[0];
        EXPECT_NE(result.err.find(NoAnswerText(2)), std::string::npos) << result.err;
        holder.Exec("ROLLBACK");
    }
}

} // namespace
