#include "common/Process.h"
#include "db/DbTestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace
{

// tessaro-cli db as a user without settings or data sources but the test's.
class CliDbTest : public ::testing::Test
{
protected:
    static ProcessResult Db(std::vector<std::string> args)
    {
        args.insert(args.begin(), {TESSARO_CLI, "db"});
        return RunProcess(args);
    }

    CliHome m_home;
    OdbcTestEnv m_odbc;
};

TEST_F(CliDbTest, InitThenCheckCreatesTheTablesOnce)
{
    const ProcessResult init = Db({"init"});
    ASSERT_EQ(init.exitCode, 0) << init.err;
    const std::filesystem::path file = m_home.DataFolder() / "Arveda Sensor Database.sqlite";
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

TEST_F(CliDbTest, TheSettingsNameTheDataSourceUnlessGivenAndFailuresAreNamed)
{
    m_home.WriteSettings("[Settings]\nDataSource=Werkhalle\n");
    const std::string file = (m_home / "halle.sqlite").string();
    ASSERT_EQ(Db({"init", "--file", file}).exitCode, 0);
    const ProcessResult check = Db({"check"});
    EXPECT_EQ(check.exitCode, 0) << check.err;
    EXPECT_TRUE(std::filesystem::is_regular_file(file));

    const ProcessResult missing = Db({"check", "--dsn", "Nirgendwo"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "Die angegebene Datenquelle existiert nicht.\n");

    // A data source whose driver is gone: the driver manager's reason, not
    // the message for a missing data source.
    m_odbc.AddDriver("Entfernt", "/nonexistent/libentfernt.so");
    m_odbc.AddDataSource("Verwaist", "Entfernt", {});
    const std::string sources = ReadFileBytes(m_odbc.UserIni());
    const ProcessResult orphan = Db({"check", "--dsn", "Verwaist"});
    EXPECT_EQ(orphan.exitCode, 1);
    EXPECT_NE(orphan.err.find("/nonexistent/libentfernt.so"), std::string::npos) << orphan.err;
    EXPECT_EQ(orphan.err.find("existiert nicht"), std::string::npos) << orphan.err;

    const ProcessResult badName = Db({"init", "--dsn", "a;b", "--file", "/tmp/x.sqlite"});
    EXPECT_EQ(badName.exitCode, 1);
    EXPECT_NE(badName.err, "");

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
