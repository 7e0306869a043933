// Exporting a series: 1,000,000 readings of one sensor from the embedded
// driver into the tab-separated file, through the program's path (a fresh
// statement, typed reads of every column, formatting with three decimals),
// against the command-line client of the same database engine writing the
// same query's columns to a file with a TAB separator. Both sort the same
// rows; the best of three runs counts for each. Each is timed on the wall
// clock and by the processor time it used (the program's own process, the
// client's child process), since a busy machine stretches wall times. The
// workbook made from the file afterwards is timed as well.

#include "common/OdbcTestEnv.h"
#include "common/Process.h"
#include "common/TempDir.h"
#include "db/DbTestSupport.h"
#include "db/SensorDatabase.h"
#include "export/ExportWorkbook.h"
#include "export/SensorExport.h"
#include "sensors/Sensor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <time.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

constexpr int kRows = 1'000'000;
constexpr int kRuns = 3;
constexpr const char* kQuery =
    "SELECT Calendar, Clock, Reading FROM Recording WHERE SensorID=1 ORDER BY Calendar, Clock";

struct Times
{
    double wall = 1e9;
    double processor = 1e9;
};

double ProcessSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Runs argv with stdout into outFile (or nowhere) and returns the processor
// time it used; throws when it fails.
double Run(const std::vector<std::string>& argv, const std::string& outFile = "/dev/null")
{
    const ProcessResult result = RunProcess(argv, {}, std::chrono::minutes(10), outFile);
    if (result.exitCode != 0)
        throw std::runtime_error("failed: " + argv[0] + ": " + result.err);
    return result.usage.ProcessorSeconds();
}

// The best of kRuns. work returns the processor time of a child it ran, or
// a negative number when it ran in this process.
template <typename Work> Times Best(Work work)
{
    Times best;
    for (int run = 0; run < kRuns; ++run)
    {
        const auto start = Clock::now();
        const double startProcessor = ProcessSeconds();
        const double child = work();
        const double processor = child >= 0 ? child : ProcessSeconds() - startProcessor;
        best.wall =
            std::min(best.wall, std::chrono::duration<double>(Clock::now() - start).count());
        best.processor = std::min(best.processor, processor);
    }
    return best;
}

void Print(const char* what, const Times& times)
{
    std::printf("  %-30s %8.0f rows/s %6.3f s wall, %8.0f rows/s %6.3f s processor\n", what,
                kRows / times.wall, times.wall, kRows / times.processor, times.processor);
}

size_t CountLines(const std::filesystem::path& file)
{
    const std::string bytes = ReadFileBytes(file);
    return static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
}

} // namespace

int main()
{
    try
    {
        OdbcTestEnv env;
        TempDir dir;
        const std::filesystem::path database = dir / "bench.sqlite";
        env.AddSqliteDataSource("Bench Export", database);

        // A minute's reading for about two years, one in fifty missing, and
        // as many rows of a second sensor that the query passes over.
        Run({SQLITE3, database.string(),
             "CREATE TABLE Sensors (SensorID INT, Host VARCHAR( 64 ), Port INT, Slot INT, "
             "Unit VARCHAR( 32 ), Location VARCHAR( 80 ));"
             "CREATE TABLE Recording (Reading FLOAT, Calendar DATE, Clock TIME, SensorID INT);"
             "INSERT INTO Sensors VALUES (1, '10.0.0.5', 80, 1, 'C', 'Serverraum');"
             "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                 std::to_string(kRows - 1) +
                 ") INSERT INTO Recording SELECT CASE WHEN i % 50 = 7 THEN NULL "
                 "ELSE (i % 4000) / 100.0 - 10.125 END, date('2005-01-01', '+' || (i / 1440) "
                 "|| ' days'), printf('%02d:%02d:00', (i / 60) % 24, i % 60), 1 "
                 "FROM n;"
                 "INSERT INTO Recording SELECT Reading, Calendar, Clock, 2 FROM Recording;"});

        RecordingUi ui;
        CSensorDatabase sensors(ui);
        sensors.m_strDataSource = "Bench Export";
        if (!sensors.OpenDatabase(false))
            throw std::runtime_error("cannot open the bench database");
        CSensorExport exporter(sensors);
        const std::filesystem::path file = dir / "export.xls";
        const Times program = Best(
            [&]
            {
                if (!exporter.WriteSeriesFile(1, file.string(), 0))
                    throw std::runtime_error("export failed: " + exporter.ErrorText());
                return -1.0;
            });
        const std::filesystem::path reference = dir / "client.txt";
        const Times client = Best(
            [&] {
                return Run({SQLITE3, "-separator", "\t", database.string(), kQuery},
                           reference.string());
            });
        if (CountLines(file) != kRows + 1 || CountLines(reference) != kRows || !ui.m_errors.empty())
            throw std::runtime_error("the two files do not hold the same rows");

        CExportWorkbook workbook;
        const Times book = Best(
            [&]
            {
                if (!workbook.Write(file.string(), false))
                    throw std::runtime_error(workbook.ErrorText());
                return -1.0;
            });

        std::printf("series export of %d readings, best of %d runs\n", kRows, kRuns);
        Print("program (ODBC, typed reads):", program);
        Print("sqlite3 client, -separator:", client);
        std::printf("  ratio program/client: %.2f wall, %.2f processor (goal: at most 2)\n",
                    program.wall / client.wall, program.processor / client.processor);
        Print("workbook from the file:", book);
        return 0;
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "bench-export: %s\n", error.what());
        return 1;
    }
}
