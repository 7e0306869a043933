// Storing readings: 10,000 rows through StoreReading, one statement on a
// fresh handle each, against the same rows through one prepared INSERT with
// bound parameters, both in autocommit, on the embedded driver and on a
// private PostgreSQL server. Neither database waits for the disk: with
// syncs, both paths measure the disk and nothing else.

#include "Clock.h"
#include "DbUserInterface.h"
#include "OdbcTestEnv.h"
#include "PgServer.h"
#include "Sensor.h"
#include "SensorDatabase.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sqlext.h>
#include <stdexcept>
#include <string>

namespace
{

using Clock = std::chrono::steady_clock;

class CountingUi : public IDbUserInterface
{
public:
    bool ReportOdbcError(const std::string& diagnostics) override
    {
        std::fprintf(stderr, "bench-db-store: %s\n", diagnostics.c_str());
        ++m_nErrors;
        return false;
    }
    bool AskLogin(std::string&, std::string&) override { return false; }
    void ShowMessage(const std::string& text) override
    {
        std::fprintf(stderr, "bench-db-store: %s\n", text.c_str());
        ++m_nErrors;
    }
    void ChooseDriver(const std::vector<std::string>&, std::string& driver, bool&) override
    {
        driver.clear();
    }
    bool EditDriverSettings(const std::string&, std::string&,
                            std::vector<std::pair<std::string, std::string>>&) override
    {
        return false;
    }

    int m_nErrors = 0;
};

float ValueOf(int row)
{
    return static_cast<float>(row % 1000) / 10.0f - 20.0f;
}

void Check(bool ok, const std::string& what)
{
    if (!ok)
        throw std::runtime_error(what);
}

long CountRows(CDbAccess& db)
{
    Check(db.Execute("SELECT COUNT(*) FROM Recording") && db.Fetch(), "cannot count the rows");
    return std::atol(db.GetColumn(1).c_str());
}

// Rows per second through the program's own path.
double StoreThroughProgram(const std::string& dsn, int rows)
{
    CountingUi ui;
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
    CountingUi ui;
    CSensorDatabase database(ui);
    database.m_strDataSource = dsn;
    Check(database.OpenDatabase(false), "cannot open " + dsn);

    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string connection = "DSN=" + dsn;
    Check(
        SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(connection.data()),
                                       SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)),
        "reference connect failed");
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    std::string insert =
        "INSERT INTO Recording (Reading, Calendar, Clock, SensorID) VALUES (?, ?, ?, ?)";
    Check(SQL_SUCCEEDED(SQLPrepare(stmt, reinterpret_cast<SQLCHAR*>(insert.data()), SQL_NTS)),
          "prepare failed");
    double reading = 0;
    SQL_DATE_STRUCT date{};
    SQL_TIME_STRUCT time{};
    SQLINTEGER id = 1;
    SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &reading, 0,
                     nullptr);
    SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 0, 0, &date, 0,
                     nullptr);
    SQLBindParameter(stmt, 3, SQL_PARAM_INPUT, SQL_C_TYPE_TIME, SQL_TYPE_TIME, 0, 0, &time, 0,
                     nullptr);
    SQLBindParameter(stmt, 4, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, nullptr);

    const auto start = Clock::now();
    int failed = 0;
    for (int row = 0; row < rows; ++row)
    {
        // The same work per row as the program: read the clock, then insert.
        const CivilTime now = CClock::Current().LocalNow();
        date = {static_cast<SQLSMALLINT>(now.year), static_cast<SQLUSMALLINT>(now.month),
                static_cast<SQLUSMALLINT>(now.day)};
        time = {static_cast<SQLUSMALLINT>(now.hour), static_cast<SQLUSMALLINT>(now.minute),
                static_cast<SQLUSMALLINT>(now.second)};
        reading = static_cast<double>(ValueOf(row));
        if (!SQL_SUCCEEDED(SQLExecute(stmt)))
            ++failed;
    }
    const std::chrono::duration<double> elapsed = Clock::now() - start;

    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
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
        OdbcTestEnv env;
        PgServer server;
        std::printf("bench-db-store: %d readings, one row per statement, autocommit\n", rows);
        int sources = 0;
        Compare("SQLite", rows,
                [&]
                {
                    const std::string name = "bench " + std::to_string(++sources);
                    env.AddDataSource(name, "SQLite3",
                                      {{"Database", (env.Folder() / (name + ".sqlite")).string()},
                                       {"SyncPragma", "OFF"}});
                    return name;
                });
        Compare("PostgreSQL", rows,
                [&]
                {
                    const std::string name = "bench " + std::to_string(++sources);
                    env.AddPostgresDataSource(name, server.Port(), server.CreateDatabase(),
                                              PgServer::User());
                    return name;
                });
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "bench-db-store: %s\n", error.what());
        return 1;
    }
    return 0;
}
