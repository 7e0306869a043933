#include "db/DbConnection.h"

#include "db/DbAccess.h"

#include <algorithm>
#include <array>
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

SQLPOINTER Value(long value)
{
    return reinterpret_cast<SQLPOINTER>(value);
}

} // namespace

CDbConnection::~CDbConnection()
{
    Close();
    if (m_hEnv != SQL_NULL_HENV)
        SQLFreeHandle(SQL_HANDLE_ENV, m_hEnv);
}

bool CDbConnection::Open(const CDbEndpoint& endpoint, std::string& failure)
{
    Close();
    if (m_hEnv == SQL_NULL_HENV)
    {
        if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_hEnv)))
        {
            m_hEnv = SQL_NULL_HENV;
            failure = kStrNotConnected;
            return false;
        }
        if (!Succeeded(
                SQLSetEnvAttr(m_hEnv, SQL_ATTR_ODBC_VERSION, Value(SQL_OV_ODBC3), SQL_IS_INTEGER)))
        {
            failure = Diagnostics(SQL_HANDLE_ENV);
            SQLFreeHandle(SQL_HANDLE_ENV, m_hEnv);
            m_hEnv = SQL_NULL_HENV;
            return false;
        }
    }
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, m_hEnv, &m_hDbc)))
    {
        m_hDbc = SQL_NULL_HDBC;
        failure = Diagnostics(SQL_HANDLE_ENV);
        return false;
    }
    m_nTimeout = endpoint.m_nTimeout;
    // Five seconds to log in, or less when every call must end sooner.
    SQLSetConnectAttr(m_hDbc, SQL_ATTR_LOGIN_TIMEOUT,
                      Value(m_nTimeout > 0 ? std::min(m_nTimeout, 5) : 5), SQL_IS_UINTEGER);
    if (m_nTimeout > 0)
        SQLSetConnectAttr(m_hDbc, SQL_ATTR_CONNECTION_TIMEOUT, Value(m_nTimeout), SQL_IS_UINTEGER);
    SQLRETURN rc = SQL_ERROR;
    if (endpoint.m_kind == CDbEndpoint::Kind::DataSource)
        // Without a user name the data source's own stored credentials apply,
        // so a password typed for some other account must not go along.
        rc = endpoint.m_strUserName.empty()
                 ? SQLConnect(m_hDbc, Chars(endpoint.m_strTarget), SQL_NTS, nullptr, 0, nullptr, 0)
                 : SQLConnect(m_hDbc, Chars(endpoint.m_strTarget), SQL_NTS,
                              Chars(endpoint.m_strUserName), SQL_NTS, Chars(endpoint.m_strPassword),
                              SQL_NTS);
    else
    {
        std::array<SQLCHAR, 1024> completed{};
        SQLSMALLINT completedLength = 0;
        rc = SQLDriverConnect(m_hDbc, nullptr, Chars(endpoint.m_strTarget), SQL_NTS,
                              completed.data(), static_cast<SQLSMALLINT>(completed.size()),
                              &completedLength, SQL_DRIVER_NOPROMPT);
    }
    if (!Succeeded(rc) || !AllocateStatement())
    {
        failure = Diagnostics(SQL_HANDLE_DBC);
        if (Succeeded(rc))
            SQLDisconnect(m_hDbc);
        SQLFreeHandle(SQL_HANDLE_DBC, m_hDbc);
        m_hDbc = SQL_NULL_HDBC;
        return false;
    }
    return true;
}

bool CDbConnection::AllocateStatement()
{
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, m_hDbc, &m_hStmt)))
    {
        m_hStmt = SQL_NULL_HSTMT;
        return false;
    }
    if (m_nTimeout > 0)
        SQLSetStmtAttr(m_hStmt, SQL_ATTR_QUERY_TIMEOUT, Value(m_nTimeout), 0);
    return true;
}

void CDbConnection::Close()
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
}

bool CDbConnection::Run(const std::string& sql)
{
    if (m_hStmt != SQL_NULL_HSTMT)
        ResetStatement();
    m_bCursorClosed = false;
    return Succeeded(SQLExecDirect(m_hStmt, Chars(sql), static_cast<SQLINTEGER>(sql.size())));
}

bool CDbConnection::RunAgain(const std::string& sql)
{
    // Nothing to fetch from the statement before: closing its cursor is all
    // the next one needs.
    SQLFreeStmt(m_hStmt, SQL_CLOSE);
    m_bCursorClosed = false;
    return Succeeded(SQLExecDirect(m_hStmt, Chars(sql), static_cast<SQLINTEGER>(sql.size())));
}

bool CDbConnection::ListTables()
{
    if (m_hStmt != SQL_NULL_HSTMT)
        ResetStatement();
    m_bCursorClosed = false;
    return Succeeded(
        SQLTables(m_hStmt, nullptr, 0, nullptr, 0, nullptr, 0, Chars("TABLE"), SQL_NTS));
}

SQLRETURN CDbConnection::Fetch()
{
    if (m_bCursorClosed)
        return SQL_NO_DATA;
    const SQLRETURN rc = SQLFetch(m_hStmt);
    if (rc == SQL_NO_DATA)
        CloseCursor();
    return rc;
}

std::string CDbConnection::Column(int column)
{
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
    return text;
}

void CDbConnection::ResetStatement()
{
    if (m_hStmt == SQL_NULL_HSTMT)
        return;
    SQLFreeHandle(SQL_HANDLE_STMT, m_hStmt);
    m_hStmt = SQL_NULL_HSTMT;
    AllocateStatement();
}

void CDbConnection::CloseCursor()
{
    // The embedded driver lets go of a result, and of the lock it holds,
    // only when its statement is freed; closing the cursor is not enough.
    ResetStatement();
    m_bCursorClosed = true;
}

bool CDbConnection::BeginTransaction(bool serializable)
{
    if (serializable)
        SQLSetConnectAttr(m_hDbc, SQL_ATTR_TXN_ISOLATION, Value(SQL_TXN_SERIALIZABLE),
                          SQL_IS_UINTEGER);
    m_bInTransaction = Succeeded(
        SQLSetConnectAttr(m_hDbc, SQL_ATTR_AUTOCOMMIT, Value(SQL_AUTOCOMMIT_OFF), SQL_IS_UINTEGER));
    return m_bInTransaction;
}

bool CDbConnection::EndTransaction(bool commit)
{
    m_bInTransaction = false;
    return Succeeded(SQLEndTran(SQL_HANDLE_DBC, m_hDbc, commit ? SQL_COMMIT : SQL_ROLLBACK));
}

void CDbConnection::RestoreAutocommit(bool rollBack)
{
    // A refused commit may leave the transaction open; switching back to
    // autocommit must not commit it after all.
    if (rollBack)
        SQLEndTran(SQL_HANDLE_DBC, m_hDbc, SQL_ROLLBACK);
    SQLSetConnectAttr(m_hDbc, SQL_ATTR_AUTOCOMMIT, Value(SQL_AUTOCOMMIT_ON), SQL_IS_UINTEGER);
}

SQLHANDLE CDbConnection::Handle(SQLSMALLINT handleType) const
{
    return handleType == SQL_HANDLE_ENV   ? SQLHANDLE(m_hEnv)
           : handleType == SQL_HANDLE_DBC ? SQLHANDLE(m_hDbc)
                                          : SQLHANDLE(m_hStmt);
}

CDbFailure CDbConnection::Failure(SQLSMALLINT handleType) const
{
    CDbFailure failure{Diagnostics(handleType), IsConnectionLost(handleType), false};
    failure.m_bTemporary = failure.m_bLost;
    const SQLHANDLE handle = Handle(handleType);
    for (SQLSMALLINT record = 1; !failure.m_bTemporary; ++record)
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
        failure.m_bTemporary = code == "HYT00" || code == "HYT01" || code == "57014" ||
                               code == "55P03" || code == "40001" || code == "40P01" ||
                               ((nativeError == 5 || nativeError == 6) &&
                                text.find("locked") != std::string_view::npos);
    }
    return failure;
}

bool CDbConnection::IsConnectionLost(SQLSMALLINT handleType) const
{
    if (m_hDbc == SQL_NULL_HDBC)
        return false;
    const SQLHANDLE handle = Handle(handleType);
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

std::string CDbConnection::Diagnostics(SQLSMALLINT handleType) const
{
    const SQLHANDLE handle = Handle(handleType);
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

std::string CDbConnection::DbmsName() const
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
