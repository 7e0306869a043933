// Reading a chart: 1,000,000 readings of one sensor (a minute's reading for
// about two years, one in fifty missing) read and reduced to the columns of
// a chart, on the embedded driver and on PostgreSQL, against the series
// export of the same rows into a file, measured in the same run. The chart
// window must show a million rows within a few seconds; the export is the
// program's other full read of a series. The best of three runs counts.

#include "bench/BenchDbSupport.h"
#include "common/TempDir.h"
#include "db/DbTestSupport.h"
#include "db/SensorDatabase.h"
#include "export/ReadingHistory.h"
#include "export/SensorExport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace
{

constexpr int kRows = 1'000'000;
constexpr int kRuns = 3;
constexpr int kColumns = 1000;

template <typename Work> double Best(Work work)
{
    double best = 1e9;
    for (int run = 0; run < kRuns; ++run)
    {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void Fill(const std::string& dsn, bool postgres)
{
    RawOdbc raw("DSN=" + dsn);
    raw.Exec("CREATE TABLE Sensors (SensorID INT, Host VARCHAR( 64 ), Port INT, Slot INT, "
             "Unit VARCHAR( 32 ), Location VARCHAR( 80 ))");
    raw.Exec("CREATE TABLE Recording (Reading FLOAT, Calendar DATE, Clock TIME, SensorID INT)");
    raw.Exec("INSERT INTO Sensors VALUES (1, '10.0.0.5', 80, 1, 'C', 'Serverraum')");
    const std::string last = std::to_string(kRows - 1);
    raw.Exec(postgres
                 ? "INSERT INTO Recording SELECT CASE WHEN i % 50 = 7 THEN NULL ELSE (i % 4000) "
                   "/ 100.0 - 10.125 END, DATE '2005-01-01' + i / 1440, TIME '00:00' + "
                   "make_interval(mins => i % 1440), 1 FROM generate_series(0, " +
                       last + ") AS i"
                 : "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                       last +
                       ") INSERT INTO Recording SELECT CASE WHEN i % 50 = 7 THEN NULL ELSE "
                       "(i % 4000) / 100.0 - 10.125 END, date('2005-01-01', '+' || (i / 1440) "
                       "|| ' days'), printf('%02d:%02d:00', (i / 60) % 24, i % 60), 1 FROM n");
}

void Measure(const char* driver, const std::string& dsn)
{
    size_t rows = 0;
    const double chart = Best(
        [&]
        {
            CReadingHistory history({dsn, true, {}, {}}, {{"10.0.0.5", 80, 1}});
            Check(history.Load(0, kColumns), "chart: " + history.ErrorText());
            rows = history.Lines()[0].m_readings.Rows();
        });
    Check(rows == kRows, "chart: not every row was read");

    CountingUi ui("bench-chart");
    CSensorDatabase database(ui);
    database.m_strDataSource = dsn;
    Check(database.OpenDatabase(false), "cannot open " + dsn);
    CSensorExport exporter(database);
    TempDir dir;
    const std::string file = (dir / "series.xls").string();
    const double series =
        Best([&] { Check(exporter.WriteSeriesFile(1, file, 0), "export failed"); });

    std::printf("%s, %d rows of one sensor\n", driver, kRows);
    std::printf("  chart (read and reduce to %d columns) %6.3f s  %9.0f rows/s\n", kColumns, chart,
                kRows / chart);
    std::printf("  series export into a file             %6.3f s  %9.0f rows/s\n", series,
                kRows / series);
    std::printf("  ratio chart / export                  %6.2f\n", chart / series);
}

} // namespace

int main()
{
    try
    {
        BenchDataSources sources;
        const std::string sqlite = sources.NewSqlite();
        Fill(sqlite, false);
        Measure("SQLite", sqlite);
        const std::string postgres = sources.NewPostgres();
        Fill(postgres, true);
        Measure("PostgreSQL", postgres);
        return 0;
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "bench-chart: %s\n", error.what());
        return 1;
    }
}
