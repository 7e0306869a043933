#pragma once

#include <sql.h>
#include <string>

struct CDbEndpoint;

// Why a call on a connection failed.
struct CDbFailure
{
    std::string m_strText;     // every diagnostic message of the handle, one a line
    bool m_bLost = false;      // the connection is gone
    bool m_bTemporary = false; // waiting may help: gone, a time-out, a lock
};

// One ODBC connection with its statement: the handles and the calls on
// them, nothing shown to anyone. Used by one thread at a time; CDbAccess
// keeps each on a thread of its own.
class CDbConnection
{
public:
    CDbConnection() = default;
    ~CDbConnection();
    CDbConnection(const CDbConnection&) = delete;
    CDbConnection& operator=(const CDbConnection&) = delete;

    // Connects as the endpoint says, on a fresh connection; on failure
    // nothing stays open and failure holds the driver's messages.
    bool Open(const CDbEndpoint& endpoint, std::string& failure);
    // Rolls back a transaction under way, disconnects and frees.
    void Close();
    bool IsOpen() const { return m_hDbc != SQL_NULL_HDBC; }
    bool InTransaction() const { return m_bInTransaction; }

    // On a fresh statement handle.
    bool Run(const std::string& sql);
    // Inside a transaction, on the handle of the statement before.
    bool RunAgain(const std::string& sql);
    bool ListTables();
    // SQL_NO_DATA at the end, which closes the cursor, so that no lock
    // outlives the result.
    SQLRETURN Fetch();
    // The column of the current row as right-trimmed text; empty for NULL
    // or when it cannot be read.
    std::string Column(int column);
    void ResetStatement();
    void CloseCursor();
    SQLHSTMT Statement() const { return m_hStmt; }

    bool BeginTransaction(bool serializable);
    // Ends it; RestoreAutocommit follows unless the connection is gone.
    bool EndTransaction(bool commit);
    void RestoreAutocommit(bool rollBack);

    // The failure of the last call on a handle of that type.
    CDbFailure Failure(SQLSMALLINT handleType) const;
    std::string Diagnostics(SQLSMALLINT handleType) const;
    std::string DbmsName() const;

private:
    bool AllocateStatement();
    bool IsConnectionLost(SQLSMALLINT handleType) const;
    SQLHANDLE Handle(SQLSMALLINT handleType) const;

    SQLHENV m_hEnv = SQL_NULL_HENV;
    SQLHDBC m_hDbc = SQL_NULL_HDBC;
    SQLHSTMT m_hStmt = SQL_NULL_HSTMT;
    int m_nTimeout = 0;
    bool m_bInTransaction = false;
    // The result was read to its end or closed: further fetches find no
    // row, as they would on the open result.
    bool m_bCursorClosed = false;
};
