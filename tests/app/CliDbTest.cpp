#include "common/OdbcTestEnv.h"
#include "common/Process.h"
#include "common/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace
{

// tessaro-cli as a user with an empty home: no settings, no data sources
// but those the test adds.
class CliDbTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            if (const char* value = std::getenv(name))
                m_saved.emplace_back(name, value);
            else
                m_saved.emplace_back(name, std::nullopt);
        setenv("HOME", m_home.Path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_home / ".config").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_home / ".local/share").c_str(), 1);
    }

    void TearDown() override
    {
        for (const auto& [name, value] : m_saved)
            if (value)
                setenv(name, value->c_str(), 1);
            else
                unsetenv(name);
    }

    void WriteSettings(const std::string& lines)
    {
        std::filesystem::create_directories(m_home / ".config/Arveda");
        WriteFileBytes(m_home / ".config/Arveda/Tessaro.conf", "[Settings]\n" + lines);
    }

    static ProcessResult Db(std::vector<std::string> args)
    {
        args.insert(args.begin(), {TESSARO_CLI, "db"});
        return RunProcess(args);
    }

    TempDir m_home;
    OdbcTestEnv m_odbc;
    std::vector<std::pair<const char*, std::optional<std::string>>> m_saved;
};

TEST_F(CliDbTest, InitThenCheckCreatesTheTablesOnce)
{
    const ProcessResult init = Db({"init"});
    ASSERT_EQ(init.exitCode, 0) << init.err;
    const std::filesystem::path file =
        m_home / ".local/share/Arveda/Tessaro/Arveda Sensor Database.sqlite";
    EXPECT_EQ(init.out, "dsn\tArveda Sensor Database\nfile\t" + file.string() + "\n");
    const std::string sources = ReadFileBytes(m_odbc.UserIni());
    EXPECT_NE(sources.find("[Arveda Sensor Database]"), std::string::npos) << sources;

    const ProcessResult first = Db({"check"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(first.out, "dbms\tSQLite\ncreated\tSensors\ncreated\tRecording\n"
                         "tables\tSensors\tRecording\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(file));

    const ProcessResult second = Db({"check", "--dsn", "Arveda Sensor Database"});
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(second.out, "dbms\tSQLite\ntables\tSensors\tRecording\n");

    // A second init leaves the data source as it is.
    const ProcessResult again = Db({"init", "--file", (m_home / "other.sqlite").string()});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, "");
    EXPECT_NE(again.err.find("Arveda Sensor Database"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(m_odbc.UserIni()), sources);
}

TEST_F(CliDbTest, TheSettingsNameTheDataSourceUnlessGiven)
{
    WriteSettings("DataSource=Werkhalle\n");
    const std::string file = (m_home / "halle.sqlite").string();
    ASSERT_EQ(Db({"init", "--file", file}).exitCode, 0);
    const ProcessResult check = Db({"check"});
    EXPECT_EQ(check.exitCode, 0) << check.err;
    EXPECT_TRUE(std::filesystem::is_regular_file(file));

    const ProcessResult missing = Db({"check", "--dsn", "Nirgendwo"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Die angegebene Datenquelle existiert nicht.\n");

    // Login required: without a user name nobody can answer.
    WriteSettings("DataSource=Werkhalle\nQuickConnect=0\n");
    const ProcessResult login = Db({"check"});
    EXPECT_EQ(login.exitCode, 1);
    EXPECT_EQ(login.out, "");
    EXPECT_NE(login.err, "");
    EXPECT_EQ(Db({"check", "--user", "messwart"}).exitCode, 0);
    // So does every command that uses the database.
    const std::string config = (m_home / "lager.ini").string();
    WriteFileBytes(config, "ZELD1\r\n10.0.0.5\t80\t0\t1\tV\tx\t0x00\r\n");
    const std::string out = (m_home / "reihe.txt").string();
    const std::vector<std::vector<std::string>> commands = {{"stats", config},
                                                            {"import", config},
                                                            {"export-series", config, "0", out},
                                                            {"export-summary", config, "0", out}};
    for (const std::vector<std::string>& command : commands)
    {
        std::vector<std::string> argv{TESSARO_CLI};
        argv.insert(argv.end(), command.begin(), command.end());
        const ProcessResult asked = RunProcess(argv);
        EXPECT_EQ(asked.exitCode, 1) << command[0];
        EXPECT_NE(asked.err.find("--user"), std::string::npos) << command[0] << asked.err;
        argv.insert(argv.end(), {"--user", "messwart"});
        const ProcessResult given = RunProcess(argv);
        EXPECT_EQ(given.exitCode, 0) << command[0] << given.err;
    }
}

TEST_F(CliDbTest, FailuresAndBadUsage)
{
    m_odbc.AddDriver("Entfernt", "/nonexistent/libentfernt.so");
    m_odbc.AddDataSource("Verwaist", "Entfernt", {});
    const std::string sources = ReadFileBytes(m_odbc.UserIni());
    const ProcessResult orphan = Db({"check", "--dsn", "Verwaist"});
    EXPECT_EQ(orphan.exitCode, 1);
    EXPECT_NE(orphan.err.find("/nonexistent/libentfernt.so"), std::string::npos) << orphan.err;

    const ProcessResult badName = Db({"init", "--dsn", "a;b", "--file", "/tmp/x.sqlite"});
    EXPECT_EQ(badName.exitCode, 1);
    EXPECT_NE(badName.err, "");
    EXPECT_EQ(ReadFileBytes(m_odbc.UserIni()), sources);

    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"drop"},
                                                 {"check", "--dsn"},
                                                 {"check", "--file", "x"},
                                                 {"init", "--user", "x"},
                                                 {"init", "--dsn", "a", "--dsn", "b"},
                                                 {"check", "extra"}})
    {
        const ProcessResult usage = Db(args);
        EXPECT_EQ(usage.exitCode, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(usage.out, "");
    }
    EXPECT_EQ(ReadFileBytes(m_odbc.UserIni()), sources);
}

} // namespace
