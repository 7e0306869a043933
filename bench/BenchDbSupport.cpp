#include "bench/BenchDbSupport.h"

#include "db/DbAccess.h"
#include "sensors/Clock.h"

#include <cstdio>
#include <cstdlib>
#include <sqlext.h>
#include <stdexcept>

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

bool CountingUi::ReportOdbcError(const std::string& diagnostics)
{
    std::fprintf(stderr, "%s: %s\n", m_strProgram.c_str(), diagnostics.c_str());
    ++m_nErrors;
    return false;
}

void CountingUi::ShowMessage(const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", m_strProgram.c_str(), text.c_str());
    ++m_nErrors;
}

std::string BenchDataSources::NewSqlite()
{
    const std::string name = "bench " + std::to_string(++m_nSources);
    m_env.AddDataSource(
        name, "SQLite3",
        {{"Database", (m_env.Folder() / (name + ".sqlite")).string()}, {"SyncPragma", "OFF"}});
    return name;
}

std::string BenchDataSources::NewPostgres()
{
    const std::string name = "bench " + std::to_string(++m_nSources);
    m_env.AddPostgresDataSource(name, m_server.Port(), m_server.CreateDatabase(), PgServer::User());
    return name;
}

PreparedInsert::PreparedInsert(const std::string& dsn, bool autocommit)
{
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_hEnv);
    SQLSetEnvAttr(m_hEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, m_hEnv, &m_hDbc);
    std::string connection = "DSN=" + dsn;
    Check(SQL_SUCCEEDED(SQLDriverConnect(m_hDbc, nullptr,
                                         reinterpret_cast<SQLCHAR*>(connection.data()), SQL_NTS,
                                         nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT)),
          "reference connect failed");
    if (!autocommit)
        SQLSetConnectAttr(m_hDbc, SQL_ATTR_AUTOCOMMIT,
                          reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER);
    SQLAllocHandle(SQL_HANDLE_STMT, m_hDbc, &m_hStmt);
    std::string insert =
        "INSERT INTO Recording (Reading, Calendar, Clock, SensorID) VALUES (?, ?, ?, ?)";
    Check(SQL_SUCCEEDED(SQLPrepare(m_hStmt, reinterpret_cast<SQLCHAR*>(insert.data()), SQL_NTS)),
          "prepare failed");
    SQLBindParameter(m_hStmt, 1, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &m_reading, 0,
                     &m_readingIndicator);
    SQLBindParameter(m_hStmt, 2, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 0, 0, &m_date, 0,
                     nullptr);
    SQLBindParameter(m_hStmt, 3, SQL_PARAM_INPUT, SQL_C_TYPE_TIME, SQL_TYPE_TIME, 0, 0, &m_time, 0,
                     nullptr);
    SQLBindParameter(m_hStmt, 4, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &m_nSensorId, 0,
                     nullptr);
}

PreparedInsert::~PreparedInsert()
{
    SQLFreeHandle(SQL_HANDLE_STMT, m_hStmt);
    SQLDisconnect(m_hDbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_hDbc);
    SQLFreeHandle(SQL_HANDLE_ENV, m_hEnv);
}

bool PreparedInsert::Insert(double reading, int sensorId)
{
    return Insert(reading, CClock::Current().LocalNow(), sensorId);
}

bool PreparedInsert::Insert(std::optional<double> reading, const CivilTime& at, int sensorId)
{
    m_date = {static_cast<SQLSMALLINT>(at.year), static_cast<SQLUSMALLINT>(at.month),
              static_cast<SQLUSMALLINT>(at.day)};
    m_time = {static_cast<SQLUSMALLINT>(at.hour), static_cast<SQLUSMALLINT>(at.minute),
              static_cast<SQLUSMALLINT>(at.second)};
    m_reading = reading.value_or(0);
    m_readingIndicator = reading ? 0 : SQL_NULL_DATA;
    m_nSensorId = sensorId;
    return SQL_SUCCEEDED(SQLExecute(m_hStmt));
}

bool PreparedInsert::Commit()
{
    return SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, m_hDbc, SQL_COMMIT));
}
