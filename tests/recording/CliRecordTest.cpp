#include "net/NetTestSupport.h"
#include "common/Process.h"
#include "recording/RecordingTestSupport.h"
#include "common/TempDir.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>

namespace
{

using namespace std::chrono_literals;

// tessaro-cli as a user with an empty home; its data sources are the test's.
class CliRecordTest : public ::testing::Test
{
protected:
    CliRecordTest()
    {
        TestOdbcEnv();
        setenv("HOME", m_home.Path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_home / ".config").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_home / ".local/share").c_str(), 1);
    }

    std::string WriteConfiguration(const std::vector<std::string>& lines)
    {
        std::string text = "ZELD1\r\n";
        for (const std::string& line : lines)
            text += line + "\r\n";
        const std::filesystem::path file = m_home / "sensors.cfg";
        WriteFileBytes(file, text);
        return file.string();
    }

    // The recorder with its stderr in a file, signalled directly.
    std::unique_ptr<ChildProcess> Record(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv = {
            "/bin/sh",   "-c",    "exec \"$@\" 2>\"$0\"", (m_home / "stderr").string(),
            TESSARO_CLI, "record"};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<ChildProcess>(argv);
    }
    std::string Errors() const { return ReadFileBytes(m_home / "stderr"); }

    TempDir m_home;
};

TEST_F(CliRecordTest, RecordsUntilTerminatedPrintingCellChangesAndRows)
{
    SimulatedDevices devices({"127.0.0.1:0 reply 10.0.0.5;Lager;21.5\xb0"
                              "C;-\xb0"
                              "C;\\r\\n",
                              "127.0.0.2:0 refuse"});
    const std::string lager = std::to_string(devices.Port(0));
    const std::string refusing = std::to_string(devices.Port(1));
    TestDatabase db(Backend::Sqlite);
    // The refused device's rows fail in the database, which must not stop
    // the others.
    {
        RawOdbc raw("DSN=" + db.Dsn());
        raw.Exec("CREATE TABLE Sensors (SensorID INT, Host VARCHAR( 64 ), Port INT, Slot INT, "
                 "Unit VARCHAR( 32 ), Location VARCHAR( 80 ))");
        raw.Exec("CREATE TABLE Recording (Reading FLOAT, Calendar DATE, Clock TIME, SensorID INT)");
        raw.Exec("INSERT INTO Sensors VALUES (7, '127.0.0.2', " + refusing + ", 0, 'V', '')");
        raw.Exec("CREATE TRIGGER refuse BEFORE INSERT ON Recording WHEN NEW.SensorID = 7 "
                 "BEGIN SELECT RAISE(ABORT, 'no rows for seven'); END");
    }
    const std::string file = WriteConfiguration({
        "127.0.0.1\t" + lager + "\t0\t1\t\xb0" + "C\tLager\t0x00",
        "127.0.0.1\t" + lager + "\t1\t1\t\xb0" + "C\tLeer\t0x00",
        "localhost\t" + lager + "\t2\t1\t%\tAus\t0x01",
        "127.0.0.2\t" + refusing + "\t0\t1\tV\tWeg\t0x00",
    });
    const std::string cells[] = {"127.0.0.1:" + lager + "/0", "127.0.0.1:" + lager + "/1",
                                 "localhost:" + lager + "/2", "127.0.0.2:" + refusing + "/0"};

    auto recorder = Record({file, "--dsn", db.Dsn()});
    // Status lines until the first minute tick has stored its two rows.
    std::map<std::string, std::vector<std::string>> shown;
    std::vector<std::string> stored;
    std::string line;
    while (stored.size() < 2 && recorder->ReadLine(line, 75s))
    {
        if (line.starts_with("stored\t"))
            stored.push_back(line);
        else if (line.starts_with("status\t"))
        {
            const size_t tab = line.find('\t', 7);
            shown[line.substr(7, tab - 7)].push_back(line.substr(tab + 1));
        }
        else
            ADD_FAILURE() << line;
    }
    ASSERT_EQ(stored.size(), 2u) << Errors();
    auto saw = [&](const std::string& cell, const std::string& text)
    { return std::count(shown[cell].begin(), shown[cell].end(), text) > 0; };
    // The configuration's Latin-1 unit is shown as UTF-8.
    EXPECT_TRUE(saw(cells[0], "21.5 °C"));
    EXPECT_TRUE(saw(cells[1], "~ °C"));
    EXPECT_EQ(shown[cells[2]], std::vector<std::string>{"deaktiviert"});
    EXPECT_TRUE(saw(cells[3], "[10061] Verbindung abgewiesen"));
    // Only changes are printed.
    for (const auto& [cell, texts] : shown)
        EXPECT_EQ(std::adjacent_find(texts.begin(), texts.end()), texts.end()) << cell;

    recorder->Signal(SIGTERM);
    EXPECT_EQ(recorder->Wait(), 0);
    // Stopping empties every Status cell: the last lines, whatever the
    // devices and the next tick printed before.
    const std::string rest = recorder->ReadRest();
    std::string cleared;
    for (const std::string& cell : cells)
        cleared += "status\t" + cell + "\t\n";
    EXPECT_TRUE(rest.ends_with(cleared)) << rest;

    // The rows written are those reported, and the failure of the third was
    // reported with the driver's text.
    const int valued = SensorIdOf(db.Dsn(), "127.0.0.1", 0);
    const int empty = SensorIdOf(db.Dsn(), "127.0.0.1", 1);
    std::sort(stored.begin(), stored.end());
    std::vector<std::string> expected = {"stored\t" + std::to_string(valued) + "\t21.500000",
                                         "stored\t" + std::to_string(empty) + "\tNULL"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(stored, expected);
    const std::vector<StoredRow> rows = ReadRecording(db.Dsn());
    EXPECT_GE(rows.size(), 2u);
    EXPECT_EQ(rows.size() % 2, 0u);
    for (const StoredRow& row : rows)
        EXPECT_EQ(row.reading.has_value(), row.sensorId == valued) << row.sensorId;
    EXPECT_NE(Errors().find("no rows for seven"), std::string::npos) << Errors();
}

TEST_F(CliRecordTest, RefusesWhatItCannotRecordAndStopsCleanlyOnInterrupt)
{
    const std::string file = WriteConfiguration({"127.0.0.1\t9\t0\t1\tV\tx\t0x01"});
    // A data source that does not exist is not created here.
    const std::string iniBefore = ReadFileBytes(TestOdbcEnv().UserIni());
    const ProcessResult missing =
        RunProcess({TESSARO_CLI, "record", file, "--dsn", "Nicht vorhanden"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "Die angegebene Datenquelle existiert nicht.\n");
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(ReadFileBytes(TestOdbcEnv().UserIni()), iniBefore);

    EXPECT_EQ(RunProcess({TESSARO_CLI, "record"}).exitCode, 2);
    EXPECT_EQ(RunProcess({TESSARO_CLI, "record", file, "--dns", "x"}).exitCode, 2);
    WriteFileBytes(m_home / "other.cfg", "ZELD2\r\n");
    const ProcessResult wrong =
        RunProcess({TESSARO_CLI, "record", (m_home / "other.cfg").string()});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_EQ(wrong.err, "Die ausgewählte Datei entspricht nicht dem erwarteten Format.\n");

    TestDatabase db(Backend::Sqlite);
    auto recorder = Record({file, "--dsn", db.Dsn()});
    std::string line;
    ASSERT_TRUE(recorder->ReadLine(line));
    EXPECT_EQ(line, "status\t127.0.0.1:9/0\tdeaktiviert");
    recorder->Signal(SIGINT);
    EXPECT_EQ(recorder->Wait(), 0);
    EXPECT_EQ(recorder->ReadRest(), "status\t127.0.0.1:9/0\t\n");
    EXPECT_EQ(Errors(), "");
}

} // namespace
