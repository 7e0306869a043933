#include "db/DbAccess.h"

#include "db/DbUserInterface.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <sqlext.h>
#include <string_view>

namespace
{

bool Succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// ODBC takes unsigned character pointers; the texts are never written to.
SQLCHAR* Chars(const std::string& text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.c_str()));
}

SQLCHAR* Chars(const char* text)
{
    return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

void TrimRight(std::string& text)
{
    const size_t end = text.find_last_not_of(" \t\r\n\v\f");
    text.erase(end == std::string::npos ? 0 : end + 1);
}

} // namespace

CDbAccess::CDbAccess()
{
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_hEnv)))
    {
        m_hEnv = SQL_NULL_HENV;
        return;
    }
    if (!Succeeded(SQLSetEnvAttr(m_hEnv, SQL_ATTR_ODBC_VERSION,
                                 reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), SQL_IS_INTEGER)))
        ReportError(SQL_HANDLE_ENV);
}

CDbAccess::~CDbAccess()
{
    Close();
    if (m_hEnv != SQL_NULL_HENV)
        SQLFreeHandle(SQL_HANDLE_ENV, m_hEnv);
}

bool CDbAccess::Connect(const std::string& dataSource)
{
    if (Open({CDbEndpoint::Kind::DataSource, dataSource, m_strUserName, m_strPassword, m_nTimeout}))
        return true;
    ReportText(m_strLastError);
    return false;
}

bool CDbAccess::DriverConnect(const std::string& connectionString)
{
    if (Open({CDbEndpoint::Kind::ConnectionString, connectionString, m_strUserName, m_strPassword,
              m_nTimeout}))
        return true;
    ReportText(m_strLastError);
    return false;
}

bool CDbAccess::Open(const CDbEndpoint& endpoint)
{
    Close();
    m_target = endpoint.m_kind;
    m_strTarget = endpoint.m_strTarget;
    m_strUserName = endpoint.m_strUserName;
    m_strPassword = endpoint.m_strPassword;
    m_nTimeout = endpoint.m_nTimeout;
    std::string failure;
    if (OpenConnection(failure))
        return true;
    m_target = CDbEndpoint::Kind::None;
    m_strTarget.clear();
    m_strLastError = failure;
    m_bLastTemporary = true;
    return false;
}

CDbEndpoint CDbAccess::Endpoint() const
{
    return {m_target, m_strTarget, m_strUserName, m_strPassword, m_nTimeout};
}

bool CDbAccess::OpenConnection(std::string& failure)
{
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, m_hEnv, &m_hDbc)))
    {
        m_hDbc = SQL_NULL_HDBC;
        failure = GetDiagnosticText(SQL_HANDLE_ENV);
        return false;
    }
    // Five seconds to log in, or less when every call must end sooner. A
    // server that accepts but never answers is only bounded here.
    const long loginTimeout = m_nTimeout > 0 ? std::min(m_nTimeout, 5) : 5;
    SQLSetConnectAttr(m_hDbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(loginTimeout),
                      SQL_IS_UINTEGER);
    if (m_nTimeout > 0)
        SQLSetConnectAttr(m_hDbc, SQL_ATTR_CONNECTION_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(static_cast<long>(m_nTimeout)),
                          SQL_IS_UINTEGER);
    SQLRETURN rc = SQL_ERROR;
    if (m_target == CDbEndpoint::Kind::DataSource)
        // Without a user name the data source's own stored credentials apply,
        // so a password typed for some other account must not go along.
        rc = m_strUserName.empty()
                 ? SQLConnect(m_hDbc, Chars(m_strTarget), SQL_NTS, nullptr, 0, nullptr, 0)
                 : SQLConnect(m_hDbc, Chars(m_strTarget), SQL_NTS, Chars(m_strUserName), SQL_NTS,
                              Chars(m_strPassword), SQL_NTS);
    else
    {
        std::array<SQLCHAR, 1024> completed{};
        SQLSMALLINT completedLength = 0;
        rc = SQLDriverConnect(m_hDbc, nullptr, Chars(m_strTarget), SQL_NTS, completed.data(),
                              static_cast<SQLSMALLINT>(completed.size()), &completedLength,
                              SQL_DRIVER_NOPROMPT);
    }
    if (!Succeeded(rc))
    {
        failure = GetDiagnosticText(SQL_HANDLE_DBC);
        SQLFreeHandle(SQL_HANDLE_DBC, m_hDbc);
        m_hDbc = SQL_NULL_HDBC;
        return false;
    }
    if (!AllocateStatement())
    {
        failure = GetDiagnosticText(SQL_HANDLE_DBC);
        SQLDisconnect(m_hDbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_hDbc);
        m_hDbc = SQL_NULL_HDBC;
        return false;
    }
    return true;
}

bool CDbAccess::AllocateStatement()
{
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, m_hDbc, &m_hStmt)))
    {
        m_hStmt = SQL_NULL_HSTMT;
        return false;
    }
    if (m_nTimeout > 0)
        SQLSetStmtAttr(m_hStmt, SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<long>(m_nTimeout)), 0);
    return true;
}

void CDbAccess::Close()
{
    FreeConnection();
    m_target = CDbEndpoint::Kind::None;
    m_strTarget.clear();
    m_bLost = false;
}

void CDbAccess::FreeConnection()
{
    if (m_hStmt != SQL_NULL_HSTMT)
    {
        SQLFreeHandle(SQL_HANDLE_STMT, m_hStmt);
        m_hStmt = SQL_NULL_HSTMT;
    }
    if (m_hDbc != SQL_NULL_HDBC)
    {
        // Whatever a transaction held goes with the connection.
        if (m_bInTransaction)
            SQLEndTran(SQL_HANDLE_DBC, m_hDbc, SQL_ROLLBACK);
        SQLDisconnect(m_hDbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_hDbc);
        m_hDbc = SQL_NULL_HDBC;
    }
    m_bInTransaction = false;
    m_row.clear();
}

bool CDbAccess::Execute(const std::string& sql)
{
    if (m_target == CDbEndpoint::Kind::None)
    {
        // Nothing to run it on: never a silent success.
        m_bLastTemporary = false;
        ReportText(std::string(kStrNotConnected));
        return false;
    }
    bool reconnected = false;
    if (m_bLost)
    {
        m_bLastTemporary = true;
        if (m_bInTransaction || !Reconnect({}))
            return false;
        reconnected = true;
    }
    if (RunStatement(sql))
        return true;
    NoteFailure(SQL_HANDLE_STMT);
    if (IsConnectionLost(SQL_HANDLE_STMT))
    {
        const std::string lostText = GetDiagnosticText(SQL_HANDLE_STMT);
        if (m_bInTransaction || reconnected)
        {
            // The transaction went with the connection; the caller decides.
            FreeConnection();
            m_bLost = true;
            ReportText(lostText);
            return false;
        }
        if (!Reconnect(lostText))
            return false;
        if (RunStatement(sql))
            return true;
        NoteFailure(SQL_HANDLE_STMT);
    }
    ReportError(SQL_HANDLE_STMT);
    return false;
}

bool CDbAccess::ExecuteInTransaction(const std::string& sql)
{
    if (!m_bInTransaction || m_hStmt == SQL_NULL_HSTMT)
        return Execute(sql);
    // Nothing to fetch from the statement before: closing its cursor is all
    // the next one needs.
    SQLFreeStmt(m_hStmt, SQL_CLOSE);
    m_row.clear();
    if (Succeeded(SQLExecDirect(m_hStmt, Chars(sql), static_cast<SQLINTEGER>(sql.size()))))
        return true;
    NoteFailure(SQL_HANDLE_STMT);
    if (IsConnectionLost(SQL_HANDLE_STMT))
    {
        FreeConnection();
        m_bLost = true;
        ReportText(m_strLastError);
        return false;
    }
    ReportError(SQL_HANDLE_STMT);
    return false;
}

bool CDbAccess::RunStatement(const std::string& sql)
{
    if (m_hStmt != SQL_NULL_HSTMT)
        ResetStatement();
    return Succeeded(SQLExecDirect(m_hStmt, Chars(sql), static_cast<SQLINTEGER>(sql.size())));
}

void CDbAccess::NoteFailure(SQLSMALLINT handleType)
{
    m_strLastError = GetDiagnosticText(handleType);
    m_bLastTemporary = IsConnectionLost(handleType);
    const SQLHANDLE handle = handleType == SQL_HANDLE_DBC ? SQLHANDLE(m_hDbc) : SQLHANDLE(m_hStmt);
    for (SQLSMALLINT record = 1; !m_bLastTemporary; ++record)
    {
        std::array<SQLCHAR, 6> state{};
        SQLINTEGER nativeError = 0;
        std::array<SQLCHAR, 512> message{};
        SQLSMALLINT messageLength = 0;
        if (!Succeeded(SQLGetDiagRec(handleType, handle, record, state.data(), &nativeError,
                                     message.data(), static_cast<SQLSMALLINT>(message.size()),
                                     &messageLength)))
            break;
        const std::string_view code(reinterpret_cast<const char*>(state.data()), 5);
        const std::string_view text(reinterpret_cast<const char*>(message.data()));
        // Time-outs, a statement cancelled by the server's own time-out, a
        // lock someone else holds, a transaction the server gave up: all
        // may pass. SQLite reports its busy and locked codes as natives.
        m_bLastTemporary = code == "HYT00" || code == "HYT01" || code == "57014" ||
                           code == "55P03" || code == "40001" || code == "40P01" ||
                           ((nativeError == 5 || nativeError == 6) &&
                            text.find("locked") != std::string_view::npos);
    }
}

bool CDbAccess::IsConnectionLost(SQLSMALLINT handleType) const
{
    if (m_hDbc == SQL_NULL_HDBC || m_target == CDbEndpoint::Kind::None)
        return false;
    const SQLHANDLE handle = handleType == SQL_HANDLE_DBC ? SQLHANDLE(m_hDbc) : SQLHANDLE(m_hStmt);
    // Class 08 is a connection exception; a server that ended the session
    // (shut down, restarted) reports a state of its own but marks the
    // connection dead.
    for (SQLSMALLINT record = 1;; ++record)
    {
        std::array<SQLCHAR, 6> state{};
        SQLINTEGER nativeError = 0;
        SQLSMALLINT messageLength = 0;
        if (!Succeeded(SQLGetDiagRec(handleType, handle, record, state.data(), &nativeError,
                                     nullptr, 0, &messageLength)))
            break;
        if (state[0] == '0' && state[1] == '8')
            return true;
    }
    SQLUINTEGER dead = SQL_CD_FALSE;
    return Succeeded(SQLGetConnectAttr(m_hDbc, SQL_ATTR_CONNECTION_DEAD, &dead, SQL_IS_UINTEGER,
                                       nullptr)) &&
           dead == SQL_CD_TRUE;
}

bool CDbAccess::Reconnect(const std::string& lostText)
{
    FreeConnection();
    std::string failure;
    if (OpenConnection(failure))
    {
        m_bLost = false;
        return true;
    }
    m_bLost = true;
    m_bLastTemporary = true;
    ReportText(lostText.empty() ? failure : lostText + '\n' + failure);
    return false;
}

bool CDbAccess::BeginTransaction(bool serializable)
{
    if (m_bLost && !Reconnect({}))
        return false;
    if (m_hDbc == SQL_NULL_HDBC)
    {
        m_bLastTemporary = false;
        ReportText(std::string(kStrNotConnected));
        return false;
    }
    if (serializable)
        SQLSetConnectAttr(m_hDbc, SQL_ATTR_TXN_ISOLATION,
                          reinterpret_cast<SQLPOINTER>(SQL_TXN_SERIALIZABLE), SQL_IS_UINTEGER);
    if (!Succeeded(SQLSetConnectAttr(m_hDbc, SQL_ATTR_AUTOCOMMIT,
                                     reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF),
                                     SQL_IS_UINTEGER)))
    {
        NoteFailure(SQL_HANDLE_DBC);
        ReportError(SQL_HANDLE_DBC);
        return false;
    }
    m_bInTransaction = true;
    return true;
}

bool CDbAccess::EndTransaction(bool commit)
{
    if (!m_bInTransaction || m_hDbc == SQL_NULL_HDBC)
    {
        m_bInTransaction = false;
        return !commit;
    }
    bool ended = Succeeded(SQLEndTran(SQL_HANDLE_DBC, m_hDbc, commit ? SQL_COMMIT : SQL_ROLLBACK));
    if (!ended)
    {
        NoteFailure(SQL_HANDLE_DBC);
        if (IsConnectionLost(SQL_HANDLE_DBC))
        {
            m_bInTransaction = false;
            FreeConnection();
            m_bLost = true;
            ReportText(m_strLastError);
            return false;
        }
        ReportError(SQL_HANDLE_DBC);
        // A refused commit may leave the transaction open; switching back
        // to autocommit must not commit it after all.
        if (commit)
            SQLEndTran(SQL_HANDLE_DBC, m_hDbc, SQL_ROLLBACK);
    }
    m_bInTransaction = false;
    SQLSetConnectAttr(m_hDbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                      SQL_IS_UINTEGER);
    return ended;
}

bool CDbAccess::ListTables()
{
    if (m_target == CDbEndpoint::Kind::None)
    {
        m_bLastTemporary = false;
        ReportText(std::string(kStrNotConnected));
        return false;
    }
    if (m_hStmt != SQL_NULL_HSTMT)
        ResetStatement();
    if (!Succeeded(SQLTables(m_hStmt, nullptr, 0, nullptr, 0, nullptr, 0, Chars("TABLE"), SQL_NTS)))
    {
        NoteFailure(SQL_HANDLE_STMT);
        ReportError(SQL_HANDLE_STMT);
        return false;
    }
    return true;
}

bool CDbAccess::Fetch()
{
    m_row.clear();
    const SQLRETURN rc = SQLFetch(m_hStmt);
    if (rc == SQL_NO_DATA)
        return false;
    if (Succeeded(rc))
        return true;
    NoteFailure(SQL_HANDLE_STMT);
    ReportError(SQL_HANDLE_STMT);
    return false;
}

std::string CDbAccess::GetColumn(int column)
{
    for (const CColumnValue& value : m_row)
        if (value.m_nColumn == column)
            return value.m_strText;

    const auto number = static_cast<SQLUSMALLINT>(column);
    std::array<SQLCHAR, 256> name{};
    SQLSMALLINT nameLength = 0, dataType = 0, decimalDigits = 0, nullable = 0;
    SQLULEN columnSize = 0;
    SQLDescribeCol(m_hStmt, number, name.data(), static_cast<SQLSMALLINT>(name.size()), &nameLength,
                   &dataType, &columnSize, &decimalDigits, &nullable);
    const SQLSMALLINT cType = dataType == SQL_LONGVARBINARY ? SQL_C_DEFAULT : SQL_C_CHAR;

    // Zeroed so that binary data shorter than the buffer ends as a string,
    // and a read that fails leaves nothing behind.
    std::array<char, 8192> buffer{};
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(m_hStmt, number, cType, buffer.data(),
                                    static_cast<SQLLEN>(buffer.size()), &indicator);
    std::string text;
    if (Succeeded(rc) && indicator != SQL_NULL_DATA)
    {
        buffer.back() = '\0';
        text = buffer.data();
        TrimRight(text);
    }
    m_row.push_back({text, column});
    return text;
}

void CDbAccess::ResetStatement()
{
    if (m_hStmt == SQL_NULL_HSTMT)
        return;
    SQLFreeHandle(SQL_HANDLE_STMT, m_hStmt);
    m_row.clear();
    m_hStmt = SQL_NULL_HSTMT;
    AllocateStatement();
}

void CDbAccess::ReportError(SQLSMALLINT handleType)
{
    if (!m_bQuiet)
        ReportText(GetDiagnosticText(handleType));
}

void CDbAccess::ReportText(const std::string& diagnostics)
{
    m_strLastError = diagnostics;
    if (m_bQuiet)
        return;
    if (!diagnostics.empty() && m_pUserInterface && m_pUserInterface->ReportOdbcError(diagnostics))
        m_bCancelled = true;
}

std::string CDbAccess::GetDiagnosticText(SQLSMALLINT handleType) const
{
    SQLHANDLE handle = handleType == SQL_HANDLE_ENV   ? SQLHANDLE(m_hEnv)
                       : handleType == SQL_HANDLE_DBC ? SQLHANDLE(m_hDbc)
                                                      : SQLHANDLE(m_hStmt);
    if (handleType != SQL_HANDLE_ENV && handleType != SQL_HANDLE_DBC)
        handleType = SQL_HANDLE_STMT;
    std::string text;
    for (SQLSMALLINT record = 1;; ++record)
    {
        std::array<SQLCHAR, 6> state{};
        SQLINTEGER nativeError = 0;
        std::array<SQLCHAR, 512> message{};
        SQLSMALLINT messageLength = 0;
        // SQL_SUCCESS_WITH_INFO means the message was cut; it ends the list.
        if (SQLGetDiagRec(handleType, handle, record, state.data(), &nativeError, message.data(),
                          static_cast<SQLSMALLINT>(message.size()), &messageLength) != SQL_SUCCESS)
            break;
        text += reinterpret_cast<const char*>(message.data());
        text += '\n';
    }
    TrimRight(text);
    return text;
}

std::string CDbAccess::GetDbmsName() const
{
    std::array<char, 265> name{};
    SQLSMALLINT length = 0;
    if (m_hDbc == SQL_NULL_HDBC ||
        !Succeeded(SQLGetInfo(m_hDbc, SQL_DBMS_NAME, name.data(),
                              static_cast<SQLSMALLINT>(name.size()), &length)))
        return {};
    name.back() = '\0';
    return name.data();
}
