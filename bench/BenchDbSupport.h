#pragma once

#include "common/OdbcTestEnv.h"
#include "common/PgServer.h"
#include "db/DbUserInterface.h"
#include "sensors/Clock.h"

#include <optional>
#include <sql.h>
#include <string>
#include <utility>
#include <vector>

class CDbAccess;

// What the benchmarks that write into a database share.

void Check(bool ok, const std::string& what);
long CountRows(CDbAccess& db);

// Nobody answers: every report goes to stderr and is counted.
class CountingUi : public IDbUserInterface
{
public:
    explicit CountingUi(std::string program) : m_strProgram(std::move(program)) {}

    bool ReportOdbcError(const std::string& diagnostics) override;
    bool AskLogin(std::string&, std::string&) override { return false; }
    void ShowMessage(const std::string& text) override;
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

private:
    std::string m_strProgram;
};

// Fresh, empty data sources on both drivers, in a private ODBC
// configuration. Neither database waits for the disk: with syncs, every
// path would measure the disk and nothing else.
class BenchDataSources
{
public:
    std::string NewSqlite();
    std::string NewPostgres();

private:
    OdbcTestEnv m_env;
    PgServer m_server;
    int m_nSources = 0;
};

// The bare-ODBC reference for storing readings: one prepared INSERT into the
// reading table with bound parameters, on a connection of its own, in
// autocommit or in transactions ended by Commit. The tables must exist.
class PreparedInsert
{
public:
    explicit PreparedInsert(const std::string& dsn, bool autocommit = true);
    ~PreparedInsert();
    PreparedInsert(const PreparedInsert&) = delete;
    PreparedInsert& operator=(const PreparedInsert&) = delete;

    // One row stamped with the local time now, the same work per row as the
    // program: read the clock, then insert.
    bool Insert(double reading, int sensorId);
    // One row with its own date and time; nullopt for NULL.
    bool Insert(std::optional<double> reading, const CivilTime& at, int sensorId);
    bool Commit();

private:
    SQLHENV m_hEnv = SQL_NULL_HENV;
    SQLHDBC m_hDbc = SQL_NULL_HDBC;
    SQLHSTMT m_hStmt = SQL_NULL_HSTMT;
    double m_reading = 0;
    SQLLEN m_readingIndicator = 0;
    SQL_DATE_STRUCT m_date{};
    SQL_TIME_STRUCT m_time{};
    SQLINTEGER m_nSensorId = 0;
};
