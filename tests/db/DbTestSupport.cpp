#include "db/DbTestSupport.h"

#include "common/PgServer.h"
#include "common/Process.h"

#include <array>
#include <condition_variable>
#include <mutex>
#include <regex>
#include <sqlext.h>
#include <stdexcept>
#include <thread>

namespace
{

int g_nDataSources = 0;

bool Succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

SQLCHAR* Chars(const std::string& text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

std::string Join(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + '\n';
    return text;
}

std::vector<std::string> DiagnosticRecords(SQLSMALLINT type, SQLHANDLE handle)
{
    std::vector<std::string> records;
    for (SQLSMALLINT record = 1;; ++record)
    {
        std::array<SQLCHAR, 6> state{};
        SQLINTEGER native = 0;
        std::array<SQLCHAR, 4096> message{};
        SQLSMALLINT length = 0;
        if (!Succeeded(SQLGetDiagRec(type, handle, record, state.data(), &native, message.data(),
                                     static_cast<SQLSMALLINT>(message.size()), &length)))
            return records;
        records.emplace_back(reinterpret_cast<const char*>(message.data()));
    }
}

} // namespace

std::string BackendName(Backend backend)
{
    return backend == Backend::Sqlite ? "SQLite" : "PostgreSQL";
}

OdbcTestEnv& TestOdbcEnv()
{
    static OdbcTestEnv env;
    return env;
}

TestDatabase::TestDatabase(Backend backend)
{
    OdbcTestEnv& env = TestOdbcEnv();
    m_strDsn = "Test Database " + std::to_string(++g_nDataSources);
    if (backend == Backend::Sqlite)
    {
        m_dir = std::make_unique<TempDir>();
        env.AddSqliteDataSource(m_strDsn, *m_dir / "sensors.db");
    }
    else
    {
        PgServer& server = PgServer::Shared();
        env.AddPostgresDataSource(m_strDsn, server.Port(), server.CreateDatabase(),
                                  PgServer::User());
    }
}

RawOdbc::RawOdbc(const std::string& connectionString)
{
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_hEnv);
    SQLSetEnvAttr(m_hEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, m_hEnv, &m_hDbc);
    if (!Succeeded(SQLDriverConnect(m_hDbc, nullptr, Chars(connectionString), SQL_NTS, nullptr, 0,
                                    nullptr, SQL_DRIVER_NOPROMPT)))
    {
        const std::string text = Join(DiagnosticRecords(SQL_HANDLE_DBC, m_hDbc));
        SQLFreeHandle(SQL_HANDLE_DBC, m_hDbc);
        SQLFreeHandle(SQL_HANDLE_ENV, m_hEnv);
        throw std::runtime_error("test connection to " + connectionString + " failed: " + text);
    }
}

RawOdbc::~RawOdbc()
{
    if (m_hStmt != SQL_NULL_HSTMT)
        SQLFreeHandle(SQL_HANDLE_STMT, m_hStmt);
    SQLDisconnect(m_hDbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_hDbc);
    SQLFreeHandle(SQL_HANDLE_ENV, m_hEnv);
}

SQLRETURN RawOdbc::Run(const std::string& sql)
{
    if (m_hStmt != SQL_NULL_HSTMT)
        SQLFreeHandle(SQL_HANDLE_STMT, m_hStmt);
    SQLAllocHandle(SQL_HANDLE_STMT, m_hDbc, &m_hStmt);
    return SQLExecDirect(m_hStmt, Chars(sql), SQL_NTS);
}

void RawOdbc::Exec(const std::string& sql)
{
    const SQLRETURN rc = Run(sql);
    if (!Succeeded(rc) && rc != SQL_NO_DATA)
        throw std::runtime_error("test statement " + sql +
                                 " failed: " + Join(DiagnosticRecords(SQL_HANDLE_STMT, m_hStmt)));
}

std::vector<RawOdbc::Row> RawOdbc::Query(const std::string& sql)
{
    Exec(sql);
    SQLSMALLINT columns = 0;
    SQLNumResultCols(m_hStmt, &columns);
    std::vector<Row> rows;
    while (Succeeded(SQLFetch(m_hStmt)))
    {
        Row row;
        for (SQLUSMALLINT column = 1; column <= columns; ++column)
        {
            std::array<char, 65536> buffer{};
            SQLLEN indicator = 0;
            SQLGetData(m_hStmt, column, SQL_C_CHAR, buffer.data(),
                       static_cast<SQLLEN>(buffer.size()), &indicator);
            row.push_back(indicator == SQL_NULL_DATA ? std::nullopt
                                                     : std::optional<std::string>(buffer.data()));
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::string> RawOdbc::FailingExec(const std::string& sql)
{
    if (Succeeded(Run(sql)))
        throw std::runtime_error("test statement " + sql + " did not fail");
    return DiagnosticRecords(SQL_HANDLE_STMT, m_hStmt);
}

CSensor MakeSensor(const std::string& host, int port, int slot, const std::string& unit,
                   const std::string& description)
{
    CSensor sensor;
    sensor.m_strAddress = host;
    sensor.m_nPort = static_cast<std::uint16_t>(port);
    sensor.m_nSensorNo = slot;
    sensor.m_strUnit = unit;
    sensor.m_strDescription = description;
    return sensor;
}

void CreateTables(RawOdbc& raw)
{
    raw.Exec("CREATE TABLE Sensors (SensorID INT, Host VARCHAR( 64 ), Port INT, Slot INT, Unit "
             "VARCHAR( 32 ), Location VARCHAR( 80 ))");
    raw.Exec("CREATE TABLE Recording (Reading FLOAT, Calendar DATE, Clock TIME, SensorID INT)");
}

bool RecordingUi::ReportOdbcError(const std::string& diagnostics)
{
    m_errors.push_back(diagnostics);
    return m_bCancelErrors;
}

bool RecordingUi::AskLogin(std::string& userName, std::string& password)
{
    m_loginsShown.emplace_back(userName, password);
    if (!m_login)
        return false;
    userName = m_login->first;
    password = m_login->second;
    return true;
}

void RecordingUi::ChooseDriver(const std::vector<std::string>&, std::string& driver, bool&)
{
    ++m_nDriverChoices;
    driver.clear();
}

CliHome::CliHome()
{
    m_env.Set("HOME", m_dir.Path());
    m_env.Set("XDG_CONFIG_HOME", m_dir / ".config");
    m_env.Set("XDG_DATA_HOME", m_dir / ".local/share");
}

void CliHome::WriteSettings(const std::string& lines) const
{
    std::filesystem::create_directories(m_dir / ".config/Arveda");
    WriteFileBytes(m_dir / ".config/Arveda/Tessaro.conf", lines);
}

std::string CliHome::WriteConfiguration(const std::vector<std::string>& lines,
                                        const std::string& name) const
{
    std::string text = "ZELD1\r\n";
    for (const std::string& line : lines)
        text += line + "\r\n";
    WriteFileBytes(m_dir / name, text);
    return (m_dir / name).string();
}

StatementTrace::StatementTrace()
{
    const std::string file = (m_dir / "trace.log").string();
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_hEnv);
    SQLSetEnvAttr(m_hEnv, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, m_hEnv, &m_hDbc);
    if (!Succeeded(SQLSetConnectAttr(m_hDbc, SQL_ATTR_TRACEFILE, Chars(file), SQL_NTS)) ||
        !Succeeded(SQLSetConnectAttr(m_hDbc, SQL_ATTR_TRACE,
                                     reinterpret_cast<SQLPOINTER>(SQL_OPT_TRACE_ON), 0)))
        throw std::runtime_error("cannot trace the driver manager");
}

StatementTrace::~StatementTrace()
{
    SQLSetConnectAttr(m_hDbc, SQL_ATTR_TRACE, reinterpret_cast<SQLPOINTER>(SQL_OPT_TRACE_OFF), 0);
    SQLFreeHandle(SQL_HANDLE_DBC, m_hDbc);
    SQLFreeHandle(SQL_HANDLE_ENV, m_hEnv);
}

std::vector<std::string> StatementTrace::Statements() const
{
    // The driver manager writes the text of each statement on one line as
    // "SQL = [text][length = n]".
    static const std::regex kLine(R"(\tSQL = \[(.*)\]\[length = -?\d+\])");
    const std::string log = ReadFileBytes(m_dir / "trace.log");
    std::vector<std::string> statements;
    for (std::sregex_iterator it(log.begin(), log.end(), kLine), end; it != end; ++it)
        statements.push_back((*it)[1].str());
    return statements;
}

std::size_t StatementTrace::Commits() const
{
    static const std::regex kCommit(
        R"(\[SQLEndTran\.c\]\[\d+\]\n\t\tEntry:\s*\n\t\t\tConnection = \S+\s*\n\t\t\tCompletion Type = 0\n)");
    const std::string log = ReadFileBytes(m_dir / "trace.log");
    return static_cast<std::size_t>(std::distance(
        std::sregex_iterator(log.begin(), log.end(), kCommit), std::sregex_iterator()));
}

bool EndsWhileSuspended(PgServer& server, const std::function<void()>& work,
                        const std::function<bool()>& underWay, std::chrono::seconds deadline)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool suspended = false;
    bool ended = false;
    bool late = false;
    std::thread suspender(
        [&]
        {
            std::unique_lock lock(mutex);
            while (underWay && !ended && !underWay())
                changed.wait_for(lock, std::chrono::milliseconds(20));
            server.Suspend();
            suspended = true;
            changed.notify_all();
            late = !changed.wait_for(lock, deadline, [&] { return ended; });
            server.Resume();
        });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return suspended || underWay; });
    }
    work();
    {
        const std::lock_guard lock(mutex);
        ended = true;
        changed.notify_all();
    }
    suspender.join();
    return !late;
}

bool WaitsForALock(PgServer& server)
{
    return server.Psql("SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'") !=
           "0\n";
}

SqliteLock::SqliteLock(const std::filesystem::path& database)
{
    const std::filesystem::path flag = m_dir / "hold";
    WriteFileBytes(flag, "");
    m_holder = std::make_unique<ChildProcess>(std::vector<std::string>{
        SQLITE3, database.string(), "-cmd", "BEGIN EXCLUSIVE;", "-cmd", ".shell echo locked",
        "-cmd", ".shell while [ -e '" + flag.string() + "' ]; do sleep 0.05; done", "COMMIT;"});
    std::string line;
    if (!m_holder->ReadLine(line) || line != "locked")
        throw std::runtime_error("sqlite3 did not lock " + database.string());
}

SqliteLock::~SqliteLock()
{
    Release();
}

void SqliteLock::Release()
{
    std::filesystem::remove(m_dir / "hold");
    m_holder->Wait();
}
