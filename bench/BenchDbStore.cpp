// Storing readings: 10,000 rows through StoreReading, one statement on a
// fresh handle each, against the same rows through one prepared INSERT with
// bound parameters, both in autocommit, on the embedded driver and on a
// private PostgreSQL server.

#include "bench/BenchDbSupport.h"
#include "sensors/Sensor.h"
#include "db/SensorDatabase.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{

using Clock = std::chrono::steady_clock;

float ValueOf(int row)
{
    return static_cast<float>(row % 1000) / 10.0f - 20.0f;
}

// Rows per second through the program's own path.
double StoreThroughProgram(const std::string& dsn, int rows)
{
    CountingUi ui("bench-db-store");
    CSensorDatabase database(ui);
    database.m_strDataSource = dsn;
    Check(database.OpenDatabase(false), "cannot open " + dsn);
    CSensor sensor;
    const int id = database.RegisterSensor(sensor);
    Check(id > 0, "cannot register a sensor");

    const auto start = Clock::now();
    for (int row = 0; row < rows; ++row)
        database.StoreReading(id, ValueOf(row));
    const std::chrono::duration<double> elapsed = Clock::now() - start;

    Check(ui.m_nErrors == 0 && CountRows(database.m_db) == rows, "rows went missing");
    return rows / elapsed.count();
}

// Rows per second through one prepared statement with bound parameters.
double StoreThroughPreparedInsert(const std::string& dsn, int rows)
{
    // The tables are made the program's way first.
    CountingUi ui("bench-db-store");
    CSensorDatabase database(ui);
    database.m_strDataSource = dsn;
    Check(database.OpenDatabase(false), "cannot open " + dsn);

    PreparedInsert insert(dsn);
    int failed = 0;
    const auto start = Clock::now();
    for (int row = 0; row < rows; ++row)
        if (!insert.Insert(static_cast<double>(ValueOf(row)), 1))
            ++failed;
    const std::chrono::duration<double> elapsed = Clock::now() - start;
    Check(failed == 0 && CountRows(database.m_db) == rows, "reference rows went missing");
    return rows / elapsed.count();
}

// Disk syncs make single runs noisy: two rounds in turned order, each
// measurement on a fresh database, and the better rate of each path.
template <typename NewDataSource>
void Compare(const char* driver, int rows, NewDataSource newDataSource)
{
    double program = 0;
    double reference = 0;
    for (int round = 0; round < 2; ++round)
        for (int turn = 0; turn < 2; ++turn)
        {
            if ((round + turn) % 2 == 0)
                reference = std::max(reference, StoreThroughPreparedInsert(newDataSource(), rows));
            else
                program = std::max(program, StoreThroughProgram(newDataSource(), rows));
        }
    std::printf("%-11s StoreReading %8.0f rows/s   prepared INSERT %8.0f rows/s   ratio %.2f\n",
                driver, program, reference, program / reference);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    const int rows = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (rows <= 0)
    {
        std::fprintf(stderr, "usage: bench-db-store [ROWS]\n");
        return 2;
    }
    try
    {
        BenchDataSources sources;
        std::printf("bench-db-store: %d readings, one row per statement, autocommit\n", rows);
        Compare("SQLite", rows, [&] { return sources.NewSqlite(); });
        Compare("PostgreSQL", rows, [&] { return sources.NewPostgres(); });
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "bench-db-store: %s\n", error.what());
        return 1;
    }
    return 0;
}
