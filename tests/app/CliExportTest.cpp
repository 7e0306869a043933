#include "common/Process.h"
#include "db/DbAccess.h"
#include "db/DbTestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace
{

using Command = std::vector<std::string>;

ProcessResult Cli(Command args)
{
    args.insert(args.begin(), TESSARO_CLI);
    return RunProcess(args);
}

// tessaro-cli on the embedded driver, as a user without settings.
class CliExportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RawOdbc raw("DSN=" + m_database.Dsn());
        CreateTables(raw);
        raw.Exec("INSERT INTO Sensors VALUES (4, '10.0.0.5', 80, 1, 'alt', 'alt')");
        raw.Exec("INSERT INTO Sensors VALUES (5, '10.0.0.7', 65616, 3, 'hPa', 'Dach')");
        raw.Exec("INSERT INTO Recording VALUES (21.5, {d '2005-06-01'}, {t '12:00:00'}, 4)");
        raw.Exec("INSERT INTO Recording VALUES (NULL, {d '2005-06-01'}, {t '12:01:00'}, 4)");
    }

    ProcessResult CliOnDsn(Command args)
    {
        args.insert(args.end(), {"--dsn", m_database.Dsn()});
        return Cli(args);
    }

    CliHome m_home;
    TestDatabase m_database{Backend::Sqlite};
    std::string m_config = m_home.WriteConfiguration({"10.0.0.9\t80\t0\t1\t%\tFeuchte\t0x00",
                                                      "10.0.0.5\t80\t1\t1\t\xC2\xB0"
                                                      "C\tServerraum\t0x00"},
                                                     "sensors.ini");
};

TEST_F(CliExportTest, ExportsWriteTheFileAndTheWorkbookBesideIt)
{
    const std::string out = (m_home / "serie.xls").string();
    ProcessResult result = CliOnDsn({"export-series", m_config, "1", out});
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
        result = CliOnDsn({"export-summary", m_config, "1", sum});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out,
                  "export\t" + sum + "\nworkbook\t" + (m_home / "summe (2).xlsx").string() + "\n");
    }
    EXPECT_EQ(ReadFileBytes(m_home / "summe.xlsx"), "meine");

    // Never over its inputs, by whatever name they are given.
    std::filesystem::create_symlink(m_config, m_home / "link.xls");
    for (const std::filesystem::path& input :
         {std::filesystem::path(m_config), m_home / "link.xls", m_database.File()})
    {
        const std::string start = ReadFileBytes(input).substr(0, 16);
        result = CliOnDsn({"export-series", m_config, "1", input.string()});
        EXPECT_EQ(result.exitCode, 1) << input;
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(result.err.starts_with("tessaro-cli: " + input.string() + " ist die "))
            << result.err;
        EXPECT_EQ(ReadFileBytes(input).substr(0, 16), start);
    }

    // Bad usage: 2. No such sensor, no place for the file: 1, with a reason.
    EXPECT_EQ(CliOnDsn({"export-series", m_config, "1", out, "--days", "x"}).exitCode, 2);
    EXPECT_EQ(CliOnDsn({"export-summary", m_config, "-1", out}).exitCode, 2);
    result = CliOnDsn({"export-summary", m_config, "2", out});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("2 sensors"), std::string::npos) << result.err;
    const std::string lost = (m_home / "no/such/x.xls").string();
    result = CliOnDsn({"export-summary", m_config, "1", lost});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(lost), std::string::npos) << result.err;
}

TEST_F(CliExportTest, StatsPrintTheFilesSensorsAndImportAddsTheRestOnce)
{
    ProcessResult result = CliOnDsn({"stats", m_config});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "10.0.0.9\t80\t0\t1\t%\tFeuchte\t0x00\t\n"
                          "10.0.0.5\t80\t1\t1\t\xC2\xB0"
                          "C\tServerraum\t0x00\t2 Werte, 1 g\xC3\xBCltig, 0 von heute\n");
    const std::string before = ReadFileBytes(m_config);
    const std::string added = "10.0.0.7\t80\t3\t1\thPa\tDach\t0x00";
    for (const std::string& expected : {added + "\n", std::string()})
    {
        result = CliOnDsn({"import", m_config});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, expected);
        EXPECT_EQ(ReadFileBytes(m_config), before + added + "\r\n");
    }
}

TEST_F(CliExportTest, EveryDatabaseCommandAsksForALoginAndWaitsNoLongerThanTheBoundGiven)
{
    // The settings name the data source, want a login and wait an hour; a
    // command that ignored its option would run into the test's own limit.
    m_home.WriteSettings("[Settings]\nDataSource=" + m_database.Dsn() +
                         "\nQuickConnect=0\n[Database]\nTimeout=3600\n");
    const std::string out = (m_home / "x.xls").string();
    const std::vector<Command> commands = {{"db", "check"},
                                           {"stats", m_config},
                                           {"import", m_config},
                                           {"export-series", m_config, "1", out},
                                           {"export-summary", m_config, "1", out}};
    {
        SqliteLock lock(m_database.File());
        for (Command command : commands)
        {
            const ProcessResult asked = Cli(command);
            EXPECT_EQ(asked.exitCode, 1) << command[0];
            EXPECT_NE(asked.err.find("--user"), std::string::npos) << command[0] << asked.err;
            command.insert(command.end(), {"--user", "messwart", "--db-timeout", "0"});
            EXPECT_EQ(Cli(command).exitCode, 2) << command[0];
            command.back() = "1";
            const ProcessResult result = Cli(command);
            EXPECT_EQ(result.exitCode, 1) << command[0];
            // The driver's busy time-out and the program's own bound end together.
            EXPECT_TRUE(result.err.find("locked") != std::string::npos ||
                        result.err.find(NoAnswerText(1)) != std::string::npos)
                << command[0] << result.err;
        }
        // Without the option the settings' bound holds.
        m_home.WriteSettings("[Database]\nTimeout=1\n");
        const ProcessResult bound = Cli({"stats", m_config, "--dsn", m_database.Dsn()});
        EXPECT_EQ(bound.exitCode, 1) << bound.err;
    }
    m_home.WriteSettings("[Settings]\nDataSource=" + m_database.Dsn() + "\nQuickConnect=0\n");
    for (Command command : commands)
    {
        command.insert(command.end(), {"--user", "messwart"});
        const ProcessResult given = Cli(command);
        EXPECT_EQ(given.exitCode, 0) << command[0] << given.err;
    }
}

} // namespace
