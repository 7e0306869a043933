#include "app/cli/CliRecording.h"
#include "common/PgServer.h"
#include "common/Process.h"
#include "net/NetTestSupport.h"
#include "net/SensorChannel.h"
#include "recording/Journal.h"
#include "recording/RecordingTestSupport.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace
{

using namespace std::chrono_literals;

// tessaro-cli as a user with an empty home; its data sources are the test's.
class CliRecordTest : public ::testing::Test
{
protected:
    CliRecordTest() { TestOdbcEnv(); }

    // The recorder with its stderr in a file, signalled directly; journal:
    // the file stands for the journal, as a service manager names it.
    std::unique_ptr<ChildProcess> Record(const std::vector<std::string>& args,
                                         const std::string& errors = "stderr", bool journal = false)
    {
        const char* start = journal ? ": >\"$0\"; export JOURNAL_STREAM=$(stat -c %d:%i \"$0\"); "
                                      "exec \"$@\" 2>>\"$0\""
                                    : "exec \"$@\" 2>\"$0\"";
        std::vector<std::string> argv = {"/bin/sh",   "-c",    start, (m_home / errors).string(),
                                         TESSARO_CLI, "record"};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<ChildProcess>(argv);
    }
    std::string Errors(const std::string& errors = "stderr") const
    {
        return ReadFileBytes(m_home / errors);
    }

    // Rows an earlier run left in the journal of a data source: ticks a
    // minute apart, rows of SensorIDs 1 to rowsPerTick.
    std::filesystem::path LeaveJournal(const std::string& dsn, int ticks, int rowsPerTick)
    {
        CJournal journal;
        std::string note;
        EXPECT_TRUE(journal.Open(m_home.DataFolder().string(), dsn, CJournal::kDefaultLimit, note));
        for (int t = 0; t < ticks; ++t)
        {
            CTick tick;
            tick.m_time = {2026, 3, 1 + t / 1440, t / 60 % 24, t % 60, 1};
            for (int id = 1; id <= rowsPerTick; ++id)
                tick.m_rows.push_back({id, std::to_string(t) + ".500000"});
            std::size_t dropped = 0;
            EXPECT_TRUE(journal.Append(tick, dropped));
        }
        return journal.Path();
    }
    CliHome m_home;
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
        CreateTables(raw);
        raw.Exec("INSERT INTO Sensors VALUES (7, '127.0.0.2', " + refusing + ", 0, 'V', '')");
        raw.Exec("CREATE TRIGGER refuse BEFORE INSERT ON Recording WHEN NEW.SensorID = 7 "
                 "BEGIN SELECT RAISE(ABORT, 'no rows for seven'); END");
    }
    const std::string file = m_home.WriteConfiguration({
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
    EXPECT_EQ(std::set<std::string>(stored.begin(), stored.end()),
              (std::set<std::string>{"stored\t" + std::to_string(valued) + "\t21.500000",
                                     "stored\t" + std::to_string(empty) + "\tNULL"}));
    const std::vector<StoredRow> rows = ReadRecording(db.Dsn());
    EXPECT_GE(rows.size(), 2u);
    EXPECT_EQ(rows.size() % 2, 0u);
    for (const StoredRow& row : rows)
        EXPECT_EQ(row.reading.has_value(), row.sensorId == valued) << row.sensorId;
    EXPECT_NE(Errors().find("no rows for seven"), std::string::npos) << Errors();
}

TEST_F(CliRecordTest, RefusesWhatItCannotRecordAndStopsCleanlyOnInterrupt)
{
    const std::string file = m_home.WriteConfiguration({"127.0.0.1\t9\t0\t1\tV\tx\t0x01"});
    // A data source that does not exist is not created here.
    const std::string iniBefore = ReadFileBytes(TestOdbcEnv().UserIni());
    const ProcessResult missing =
        RunProcess({TESSARO_CLI, "record", file, "--dsn", "Nicht vorhanden"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err, "Die angegebene Datenquelle existiert nicht.\n");
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(ReadFileBytes(TestOdbcEnv().UserIni()), iniBefore);

    for (const std::vector<std::string>& argv : std::vector<std::vector<std::string>>{
             {TESSARO_CLI, "record"},
             {TESSARO_CLI, "record", file, "--dns", "x"},
             {TESSARO_CLI, "record", file, "--db-timeout"},
             {TESSARO_CLI, "record", file, "--db-timeout", "0"},
             {TESSARO_CLI, "record", file, "--db-timeout", "15s"},
             {TESSARO_CLI, "record", file, "--user"},
             {TESSARO_CLI, "record", file, "--dsn", "a", "--dsn", "b"}})
        EXPECT_EQ(RunProcess(argv).exitCode, 2) << ::testing::PrintToString(argv);
    WriteFileBytes(m_home / "other.cfg", "ZELD2\r\n");
    const ProcessResult wrong =
        RunProcess({TESSARO_CLI, "record", (m_home / "other.cfg").string()});
    EXPECT_EQ(wrong.exitCode, 2);
    EXPECT_EQ(wrong.err, "Die ausgewählte Datei entspricht nicht dem erwarteten Format.\n");

    // Under a service manager, on stderr as its journal: a file of the wrong
    // format on SIGHUP changes nothing and is told as an error; a good one
    // is taken over and told as news, and a point that got no SensorID is
    // tried again.
    const std::string unrecorded = "127.0.0.1\t9\t2\t1\tV\t" + std::string(81, 'L') + "\t0x01";
    m_home.WriteConfiguration({"127.0.0.1\t9\t0\t1\tV\tx\t0x01", unrecorded});
    TestDatabase db(Backend::Sqlite);
    auto recorder = Record({file, "--dsn", db.Dsn()}, "stderr", true);
    std::string line;
    for (const char* cell : {"0", "2"})
    {
        ASSERT_TRUE(recorder->ReadLine(line));
        EXPECT_EQ(line, std::string("status\t127.0.0.1:9/") + cell + "\tdeaktiviert");
    }
    WriteFileBytes(file, "ZELD2\r\n127.0.0.1\t9\t0\t1\tV\tx\t0x01\r\n");
    recorder->Signal(SIGHUP);
    ASSERT_TRUE(PumpUntil([&] { return Errors().find("recorded on") != std::string::npos; }, 10s))
        << Errors();
    m_home.WriteConfiguration(
        {"127.0.0.1\t9\t0\t1\tV\tx\t0x01", unrecorded, "127.0.0.1\t9\t1\t1\tV\ty\t0x01"});
    recorder->Signal(SIGHUP);
    // The points that stay keep their cells; the new one gets its own.
    ASSERT_TRUE(recorder->ReadLine(line));
    EXPECT_EQ(line, "status\t127.0.0.1:9/1\tdeaktiviert");
    recorder->Signal(SIGINT);
    EXPECT_EQ(recorder->Wait(), 0);
    EXPECT_EQ(recorder->ReadRest(),
              "status\t127.0.0.1:9/0\t\nstatus\t127.0.0.1:9/2\t\nstatus\t127.0.0.1:9/1\t\n");
    const std::string tooLong =
        "<3>tessaro-cli: record: 127.0.0.1:9/2 not recorded: Location longer than 80 characters\n";
    EXPECT_EQ(Errors(), tooLong + "<3>tessaro-cli: record: " + file +
                            " not read again: Die ausgewählte Datei entspricht nicht dem "
                            "erwarteten Format.\n"
                            "<3>tessaro-cli: record: the points read before are recorded on\n" +
                            tooLong + "<6>tessaro-cli: record: " + file +
                            " read again: kept 2, stopped 0, started 1\n");
}

TEST_F(CliRecordTest, AJournalIsWrittenOutOnceAcrossAKillAStalledServerAndALock)
{
    PgServer server; // of its own: it is stalled here
    // The driver manager remembers a data source's settings for a while.
    static int s_nRuns = 0;
    const std::string dsn = "Nachtrag " + std::to_string(++s_nRuns);
    TestOdbcEnv().AddPostgresDataSource(dsn, server.Port(), server.CreateDatabase(),
                                        PgServer::User());
    const std::string file = m_home.WriteConfiguration({});
    const std::filesystem::path journal = LeaveJournal(dsn, 400, 100);
    std::string line;

    // Killed while writing it out.
    {
        auto recorder = Record({file, "--dsn", dsn});
        ASSERT_TRUE(recorder->WaitForLine("replayed\t", line, 60s)) << Errors();
        recorder->Signal(SIGKILL);
        recorder->Wait();
    }
    // Stopped while the server hangs: the stop waits for the bound only.
    {
        auto recorder = Record({file, "--dsn", dsn, "--db-timeout", "2"});
        ASSERT_TRUE(recorder->WaitForLine("replayed\t", line, 60s)) << Errors();
        server.Suspend();
        recorder->Signal(SIGTERM);
        const int status = recorder->Wait(30s);
        server.Resume();
        EXPECT_EQ(status, 0) << Errors();
    }
    // Killed while its rows wait for a lock another program holds.
    {
        RawOdbc holder("DSN=" + dsn);
        holder.Exec("BEGIN");
        holder.Exec("LOCK TABLE Recording IN ACCESS EXCLUSIVE MODE");
        auto recorder = Record({file, "--dsn", dsn, "--db-timeout", "1"});
        EXPECT_TRUE(PumpUntil([&] { return Errors().find("timeout") != std::string::npos; }, 60s))
            << Errors();
        recorder->Signal(SIGKILL);
        recorder->Wait();
        holder.Exec("ROLLBACK");
    }
    // The last run writes out the rest, whether or not anyone reads its
    // output; neither that nor a hangup ends it.
    ASSERT_TRUE(std::filesystem::exists(journal));
    auto recorder = Record({file, "--dsn", dsn});
    ASSERT_TRUE(recorder->WaitForLine("replayed\t", line, 60s)) << Errors();
    recorder->CloseOutput();
    ASSERT_TRUE(PumpUntil([&] { return !std::filesystem::exists(journal); }, 120s)) << Errors();
    recorder->Signal(SIGHUP);
    ASSERT_TRUE(PumpUntil([&] { return Errors().find("read again") != std::string::npos; }, 10s));
    recorder->Signal(SIGTERM);
    EXPECT_EQ(recorder->Wait(), 0);
    const std::string errors = Errors();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 2) << errors;
    // Plain where stderr is no journal.
    EXPECT_TRUE(errors.starts_with("tessaro-cli: record: stdout: ")) << errors;
    // Every row once.
    RawOdbc raw("DSN=" + dsn);
    EXPECT_EQ(raw.Query("SELECT COUNT(*) FROM Recording")[0][0], "40000");
    EXPECT_TRUE(raw.Query("SELECT SensorID, Calendar, Clock FROM Recording GROUP BY SensorID, "
                          "Calendar, Clock HAVING COUNT(*) > 1")
                    .empty());
}

TEST_F(CliRecordTest, RegisteringThousandsOfPointsEndsBetweenTwoWhenStopped)
{
    TestDatabase db(Backend::Sqlite);
    RawOdbc raw("DSN=" + db.Dsn());
    CreateTables(raw);
    std::vector<std::string> points;
    for (int i = 0; i < 2000; ++i)
        points.push_back("10.7." + std::to_string(i / 250) + "." + std::to_string(i % 250) +
                         "\t80\t0\t1\tV\t\t0x01");
    auto registering = Record({m_home.WriteConfiguration(points, "many.cfg"), "--dsn", db.Dsn()});
    const auto registered = [&]
    {
        return std::stoul(
            RawOdbc("DSN=" + db.Dsn()).Query("SELECT COUNT(*) FROM Sensors")[0][0].value());
    };
    ASSERT_TRUE(PumpUntil([&] { return registered() > 0; }, 60s)) << Errors();
    registering->Signal(SIGTERM);
    EXPECT_EQ(registering->Wait(30s), 0);
    EXPECT_EQ(registering->ReadRest(), "");
    EXPECT_LT(registered(), 2000u);
}

TEST_F(CliRecordTest, HangupTakesOverTheFileBetweenTwoMinutesWithoutMissingOrDoublingOne)
{
    EnsureApplication();
    UseHalfHourTimeZone();
    SimulatedDevices devices({"127.0.0.1:0 reply 10.0.0.5;Halle;21.5\xb0"
                              "C;45.0%;230.0V;\\r\\n",
                              "127.0.0.2:0 reply 10.0.0.6;Keller;12.5\xb0"
                              "C;60.0%;\\r\\n"});
    const std::string halle = "127.0.0.1\t" + std::to_string(devices.Port(0));
    const std::string keller = "127.0.0.2\t" + std::to_string(devices.Port(1));
    // The second point of the cellar follows the first, which goes: it
    // polls on its own from then on. The hall's second point changes its
    // interval, and a third joins.
    const std::string kept[] = {halle + "\t0\t1\tC\tHalle\t0x00",
                                keller + "\t1\t2\t%\tFeuchte\t0x00"};
    const std::string file = m_home.WriteConfiguration(
        {kept[0], keller + "\t0\t1\tC\tKeller\t0x00", kept[1], halle + "\t1\t1\t%\talt\t0x00"});
    TestDatabase db(Backend::Sqlite);
    std::FILE* lines = std::fopen((m_home / "lines").c_str(), "w");
    ASSERT_NE(lines, nullptr);
    ScaledClock clock(Utc(10, 59, 20), kScale);
    {
        CDbOptions options;
        options.m_strDsn = db.Dsn();
        CCliRecording recording(file, options, kPace, lines);
        ASSERT_EQ(recording.Start(), std::nullopt);
        const std::vector<CSensorChannel*> before = {recording.Recorder().Channels()[0].get(),
                                                     recording.Recorder().Channels()[2].get()};
        ASSERT_TRUE(PumpUntil([&] { return clock.UtcNow() >= Utc(11, 1, 5); }, 60s));
        m_home.WriteConfiguration(
            {kept[0], kept[1], halle + "\t1\t5\t%\tneu\t0x00", halle + "\t2\t1\tV\tdazu\t0x00"});
        std::raise(SIGHUP);
        ASSERT_TRUE(PumpUntil(
            [&] { return recording.Recorder().Channels().back()->m_sensor.m_nSensorNo == 2; },
            10s));
        ASSERT_LT(clock.UtcNow(), Utc(11, 2, 0)) << "the reload came too late for this test";
        EXPECT_EQ(recording.Recorder().Channels()[0].get(), before[0]);
        EXPECT_EQ(recording.Recorder().Channels()[1].get(), before[1]);
        ASSERT_TRUE(PumpUntil([&] { return clock.UtcNow() >= Utc(11, 5, 30); }, 60s));
    }
    std::fclose(lines);

    // Minute ticks from 11:00 to 11:05 UTC, stored in local time.
    const std::vector<StoredRow> rows = ReadRecording(db.Dsn());
    const auto minutes = [&](const std::string& host, int slot)
    { return MinutesOf(rows, SensorIdOf(db.Dsn(), host, slot)); };
    EXPECT_EQ(minutes("127.0.0.1", 0),
              (Minutes{"16:30", "16:31", "16:32", "16:33", "16:34", "16:35"}));
    EXPECT_EQ(minutes("127.0.0.2", 0), (Minutes{"16:30", "16:31"}));
    EXPECT_EQ(minutes("127.0.0.2", 1), (Minutes{"16:30", "16:32", "16:34"}));
    EXPECT_EQ(minutes("127.0.0.1", 1), (Minutes{"16:30", "16:31", "16:35"}));
    EXPECT_EQ(minutes("127.0.0.1", 2), (Minutes{"16:32", "16:33", "16:34", "16:35"}));
    ASSERT_EQ(rows.size(), 6u + 2 + 3 + 3 + 4);
    for (const StoredRow& row : rows)
        EXPECT_TRUE(row.reading.has_value()) << row.sensorId << " at " << row.clock;
    // The cell of the point that went is emptied.
    EXPECT_NE(ReadFileBytes(m_home / "lines")
                  .find("status\t127.0.0.2:" + std::to_string(devices.Port(1)) + "/0\t\n"),
              std::string::npos);
}

class CliRegistrationTest : public CliRecordTest, public ::testing::WithParamInterface<Backend>
{
};

TEST_P(CliRegistrationTest, RecordersStartingTogetherGiveEveryPointItsOwnNumber)
{
    TestDatabase db(GetParam());
    // On the server they log in as a user of their own, with the password
    // of the environment, and make the tables through its connection.
    const bool server = GetParam() == Backend::Postgres;
    const std::string database =
        server ? RawOdbc("DSN=" + db.Dsn()).Query("SELECT current_database()")[0][0].value() : "";
    ScopedEnv password;
    password.Set("TESSARO_DB_PASSWORD", "falsch");
    if (server)
    {
        static const bool s_bUser =
            (PgServer::Shared().CreatePasswordUser("messwart", "geheim"), true);
        ASSERT_TRUE(s_bUser);
        PgServer::Shared().Psql("ALTER DATABASE " + database + " OWNER TO messwart");
        const ProcessResult refused =
            RunProcess({TESSARO_CLI, "record", m_home.WriteConfiguration({}), "--dsn", db.Dsn(),
                        "--user", "messwart"});
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_NE(refused.err.find("messwart"), std::string::npos) << refused.err;
        password.Set("TESSARO_DB_PASSWORD", "geheim");
        // The other commands log in so too.
        const ProcessResult check =
            RunProcess({TESSARO_CLI, "db", "check", "--dsn", db.Dsn(), "--user", "messwart"});
        EXPECT_EQ(check.exitCode, 0) << check.err;
    }
    password.Set("TESSARO_DB_PASSWORD", "geheim");
    // Four recorders, each with fifty points of its own and ten shared.
    std::vector<std::unique_ptr<ChildProcess>> recorders;
    for (int r = 0; r < 4; ++r)
    {
        std::vector<std::string> lines;
        for (int i = 0; i < 50; ++i)
            lines.push_back("10." + std::to_string(r) + ".0." + std::to_string(i) +
                            "\t80\t0\t1\tV\t\t0x01");
        for (int i = 0; i < 10; ++i)
            lines.push_back("shared.example\t80\t" + std::to_string(i) + "\t1\tV\t\t0x01");
        const std::string name = "recorder" + std::to_string(r);
        recorders.push_back(Record({m_home.WriteConfiguration(lines, name + ".cfg"), "--dsn",
                                    db.Dsn(), "--user", "messwart"},
                                   name + ".err"));
    }
    // Each says every point's state once all are registered.
    for (size_t r = 0; r < recorders.size(); ++r)
    {
        std::string line;
        for (int i = 0; i < 60; ++i)
            ASSERT_TRUE(recorders[r]->WaitForLine("status\t", line, 120s))
                << Errors("recorder" + std::to_string(r) + ".err");
    }
    for (auto& recorder : recorders)
        recorder->Signal(SIGTERM);
    for (auto& recorder : recorders)
        EXPECT_EQ(recorder->Wait(), 0);

    if (server) // the tables are the login's
    {
        EXPECT_EQ(PgServer::Shared().Psql(
                      "SELECT tableowner FROM pg_tables WHERE tablename = 'sensors'", database),
                  "messwart\n");
        PgServer::Shared().Psql("GRANT SELECT ON sensors TO " + std::string(PgServer::User()),
                                database);
    }
    const auto rows =
        RawOdbc("DSN=" + db.Dsn()).Query("SELECT SensorID, Host, Port, Slot FROM Sensors");
    std::set<std::string> ids, points;
    for (const RawOdbc::Row& row : rows)
    {
        ids.insert(row[0].value_or(""));
        points.insert(row[1].value_or("") + ":" + row[2].value_or("") + "/" + row[3].value_or(""));
    }
    EXPECT_EQ(rows.size(), 210u);
    EXPECT_EQ(ids.size(), 210u);
    EXPECT_EQ(points.size(), 210u);
    EXPECT_TRUE(ids.count("1") && ids.count("210"));
}

INSTANTIATE_FOR_BOTH_DRIVERS(CliRegistrationTest);

} // namespace
