// Exporting a series: 10,000,000 readings of one sensor (ten years at one a
// minute) into the tab-separated file, from the embedded driver and from
// PostgreSQL, through the program's path (a fresh statement, typed reads of
// every column, formatting with three decimals). Each database is read
// through two data sources: one as data sources were before (the driver
// reads the whole result when the query runs) and one as the program
// creates them now (the result comes a few rows at a time). The reference is
// the database's command-line client writing the same query's columns to a
// file with a TAB separator. Every export runs as a child process of its
// own, so that its processor time and peak memory are the kernel's account
// of that export alone; the best of the runs counts. The workbook made from
// the first million lines of the file is timed as well.

#include "common/OdbcTestEnv.h"
#include "common/PgServer.h"
#include "common/Process.h"
#include "common/TempDir.h"
#include "db/DataSource.h"
#include "db/DbTestSupport.h"
#include "db/SensorDatabase.h"
#include "export/ExportWorkbook.h"
#include "export/SensorExport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

constexpr long kDefaultRows = 10'000'000;
constexpr long kWorkbookRows = 1'000'000;
constexpr int kRuns = 2;
constexpr auto kRunLimit = std::chrono::minutes(20);
constexpr const char* kQuery =
    "SELECT Calendar, Clock, Reading FROM Recording WHERE SensorID=1 ORDER BY Calendar, Clock";

struct Figures
{
    double wall = 1e9;
    double processor = 1e9;
    double peakMegabytes = 0;
};

// The best of kRuns of argv, its stdout into outFile; throws when it fails.
Figures Best(const std::vector<std::string>& argv, const std::string& outFile)
{
    Figures best;
    for (int run = 0; run < kRuns; ++run)
    {
        const auto start = Clock::now();
        const ProcessResult result = RunProcess(argv, {}, kRunLimit, outFile);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        if (result.exitCode != 0)
            throw std::runtime_error("failed: " + argv[0] + " " + argv[1] + ": " + result.err);
        best.wall = std::min(best.wall, wall);
        best.processor = std::min(best.processor, result.usage.ProcessorSeconds());
        best.peakMegabytes = std::max(best.peakMegabytes, result.usage.peakRssKb / 1024.0);
    }
    return best;
}

size_t CountLines(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return static_cast<size_t>(
        std::count(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), '\n'));
}

// One series export through the program's path: what the child runs.
int ExportOnce(const std::string& dataSource, const std::string& file)
{
    RecordingUi ui;
    CSensorDatabase sensors(ui);
    sensors.m_strDataSource = dataSource;
    if (!sensors.OpenDatabase(false))
        return 1;
    CSensorExport exporter(sensors);
    const bool written = exporter.WriteSeriesFile(1, file, 0);
    for (const std::string& error : ui.m_errors)
        std::fprintf(stderr, "%s\n", error.c_str());
    return written && ui.m_errors.empty() ? 0 : 1;
}

// Creates the tables through the program, as recording would.
void OpenOnce(const std::string& dataSource)
{
    RecordingUi ui;
    CSensorDatabase sensors(ui);
    sensors.m_strDataSource = dataSource;
    if (!sensors.OpenDatabase(false))
        throw std::runtime_error("cannot open " + dataSource);
}

DataSourceAttributes With(DataSourceAttributes attributes, const DataSourceAttributes& more)
{
    attributes.insert(attributes.end(), more.begin(), more.end());
    return attributes;
}

void PrintLine(const char* what, long rows, const Figures& figures)
{
    std::printf("  %-34s %9.0f rows/s %7.2f s wall, %9.0f rows/s %7.2f s processor, "
                "peak %7.1f MB\n",
                what, rows / figures.wall, figures.wall, rows / figures.processor,
                figures.processor, figures.peakMegabytes);
}

// The program before and after, the client, and the ratios, for one database.
void Compare(const char* database, long rows, const std::string& before, const std::string& after,
             const std::vector<std::string>& client, const std::filesystem::path& dir)
{
    const std::string self = "/proc/self/exe";
    const std::filesystem::path file = dir / "export.xls";
    const std::filesystem::path reference = dir / "client.txt";
    const Figures old = Best({self, "--export", before, file.string()}, "/dev/null");
    const Figures now = Best({self, "--export", after, file.string()}, "/dev/null");
    const Figures byClient = Best(client, reference.string());
    if (CountLines(file) != static_cast<size_t>(rows) + 1 ||
        CountLines(reference) != static_cast<size_t>(rows))
        throw std::runtime_error(std::string(database) + ": the files do not hold the same rows");
    std::printf("%s\n", database);
    PrintLine("program, whole result (before):", rows, old);
    PrintLine("program, row by row (after):", rows, now);
    PrintLine("command-line client:", rows, byClient);
    std::printf("  ratio program (after) / client: %.2f wall, %.2f processor (goal: at most 1.5); "
                "peak memory %.1f MB (goal: under 64 MB)\n",
                now.wall / byClient.wall, now.processor / byClient.processor, now.peakMegabytes);
    std::fflush(stdout);
}

// A minute's reading for rows minutes, one in fifty missing, for sensor 1,
// and as many rows of sensor 2 that the query passes over.
std::string SqliteRows(long rows)
{
    return "INSERT INTO Sensors VALUES (1, '10.0.0.5', 80, 1, 'C', 'Serverraum');"
           "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
           std::to_string(rows - 1) +
           ") INSERT INTO Recording SELECT CASE WHEN i % 50 = 7 THEN NULL "
           "ELSE (i % 4000) / 100.0 - 10.125 END, date('2005-01-01', '+' || (i / 1440) "
           "|| ' days'), printf('%02d:%02d:00', (i / 60) % 24, i % 60), 1 FROM n;"
           "INSERT INTO Recording SELECT Reading, Calendar, Clock, 2 FROM Recording;";
}

std::string PostgresRows(long rows)
{
    return "INSERT INTO Sensors VALUES (1, '10.0.0.5', 80, 1, 'C', 'Serverraum');"
           "INSERT INTO Recording SELECT CASE WHEN i % 50 = 7 THEN NULL "
           "ELSE (i % 4000) / 100.0 - 10.125 END, DATE '2005-01-01' + (i / 1440)::int, "
           "TIME '00:00' + (i % 1440) * INTERVAL '1 minute', s FROM generate_series(0, " +
           std::to_string(rows - 1) + ") AS i, (VALUES (1), (2)) AS v(s); ANALYZE Recording;";
}

void BenchSqlite(OdbcTestEnv& env, long rows, const std::filesystem::path& dir)
{
    const std::filesystem::path database = dir / "bench.sqlite";
    const DataSourceAttributes file = {{"Database", database.string()}};
    env.AddDataSource("Bench SQLite before", "SQLite3", file);
    env.AddDataSource("Bench SQLite after", "SQLite3",
                      With(file, CreatedDataSourceAttributes("SQLite3")));
    OpenOnce("Bench SQLite after");
    if (RunProcess({SQLITE3, database.string(), SqliteRows(rows)}, {}, kRunLimit).exitCode != 0)
        throw std::runtime_error("cannot fill the SQLite database");
    Compare("SQLite", rows, "Bench SQLite before", "Bench SQLite after",
            {SQLITE3, "-separator", "\t", database.string(), kQuery}, dir);
}

void BenchPostgres(OdbcTestEnv& env, long rows, const std::filesystem::path& dir)
{
    PgServer server;
    const std::string database = server.CreateDatabase();
    const DataSourceAttributes connection = {{"Servername", "127.0.0.1"},
                                             {"Port", std::to_string(server.Port())},
                                             {"Database", database},
                                             {"Username", PgServer::User()}};
    const std::string driver = OdbcTestEnv::PostgresDriver();
    env.AddDataSource("Bench PostgreSQL before", driver, connection);
    env.AddDataSource("Bench PostgreSQL after", driver,
                      With(connection, CreatedDataSourceAttributes(driver)));
    OpenOnce("Bench PostgreSQL after");
    const std::vector<std::string> psql = {PSQL,
                                           "-X",
                                           "-q",
                                           "-v",
                                           "ON_ERROR_STOP=1",
                                           "-h",
                                           "127.0.0.1",
                                           "-p",
                                           std::to_string(server.Port()),
                                           "-U",
                                           PgServer::User(),
                                           "-d",
                                           database};
    std::vector<std::string> fill = psql;
    fill.insert(fill.end(), {"-c", PostgresRows(rows)});
    if (RunProcess(fill, {}, kRunLimit).exitCode != 0)
        throw std::runtime_error("cannot fill the PostgreSQL database");
    std::vector<std::string> client = psql;
    client.insert(client.end(), {"-A", "-t", "-F", "\t", "-c", kQuery});
    Compare("PostgreSQL", rows, "Bench PostgreSQL before", "Bench PostgreSQL after", client, dir);
}

void BenchWorkbook(const std::filesystem::path& dir)
{
    // The first million lines: as many as a worksheet takes.
    const std::filesystem::path part = dir / "part.xls";
    long lines = 0;
    {
        std::ifstream in(dir / "export.xls", std::ios::binary);
        std::ofstream out(part, std::ios::binary);
        for (std::string line; lines <= kWorkbookRows && std::getline(in, line); ++lines)
            out << line << '\n';
    }
    CExportWorkbook workbook;
    const auto start = Clock::now();
    if (!workbook.Write(part.string(), false))
        throw std::runtime_error(workbook.ErrorText());
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("workbook from %ld lines: %.0f rows/s, %.2f s wall\n", lines, lines / wall, wall);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--export")
        return ExportOnce(argv[2], argv[3]);
    try
    {
        const long rows = argc > 1 ? std::atol(argv[1]) : kDefaultRows;
        if (rows < 1)
            throw std::runtime_error("usage: bench-export [ROWS]");
        OdbcTestEnv env;
        TempDir dir;
        std::printf("series export of %ld readings (beside as many of another sensor), best of %d "
                    "runs\n",
                    rows, kRuns);
        BenchSqlite(env, rows, dir.Path());
        BenchPostgres(env, rows, dir.Path());
        BenchWorkbook(dir.Path());
        return 0;
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "bench-export: %s\n", error.what());
        return 1;
    }
}
