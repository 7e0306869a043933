#pragma once

#include "db/ColumnValue.h"

#include <sql.h>
#include <string>
#include <string_view>
#include <vector>

class IDbUserInterface;

// String 603: what a statement reports that has no connection to run on.
inline constexpr std::string_view kStrNotConnected = "Keine Verbindung zur Datenbank.";

// What a connection was made with, so that a second connection to the same
// database can be opened without asking anyone again.
struct CDbEndpoint
{
    enum class Kind
    {
        None,
        DataSource,       // Connect: name, user name and password
        ConnectionString, // DriverConnect
    };
    Kind m_kind = Kind::None;
    std::string m_strTarget;
    std::string m_strUserName;
    std::string m_strPassword;
    int m_nTimeout = 0;
};

// The one object through which the program talks to ODBC: one connection,
// one statement at a time, columns as right-trimmed text, and every failure
// shown to the user with all diagnostic messages of the failing handle.
// A statement that fails because the connection is gone (the server went
// away or ended the session) is run once more on a fresh connection to the
// same data source before the failure is shown, so that a server restart
// does not cost every later reading of a recording run. A connection that
// went away and could not be made again stays open in name (lost) until a
// later statement makes it again or Close ends it.
class CDbAccess
{
public:
    static constexpr int kDefaultTimeout = 15;

    CDbAccess();
    virtual ~CDbAccess();
    CDbAccess(const CDbAccess&) = delete;
    CDbAccess& operator=(const CDbAccess&) = delete;

    // Where failures are reported; nothing is shown while none is set.
    void SetUserInterface(IDbUserInterface* ui) { m_pUserInterface = ui; }
    // Seconds any one call may take where the driver offers a bound: the
    // login (5 at most), the connection and each statement. 0 leaves the
    // drivers' own.
    void SetTimeout(int seconds) { m_nTimeout = seconds; }
    int Timeout() const { return m_nTimeout; }

    bool Connect(const std::string& dataSource);
    bool DriverConnect(const std::string& connectionString);
    // Connects like the connection endpoint describes, without showing
    // anything; LastError() says why not.
    bool Open(const CDbEndpoint& endpoint);
    void Close();
    bool IsOpen() const { return m_hDbc != SQL_NULL_HDBC || m_bLost; }
    bool IsLost() const { return m_bLost; }
    CDbEndpoint Endpoint() const;
    void SetPassword(const std::string& password) { m_strPassword = password; }
    void SetUserName(const std::string& userName) { m_strUserName = userName; }

    bool Execute(const std::string& sql);
    bool ListTables();
    bool Fetch();
    std::string GetColumn(int column);
    void ResetStatement();
    void ReportError(SQLSMALLINT handleType);
    // Shows a failure's text unless quiet; "Abbrechen" sets m_bCancelled.
    void ReportText(const std::string& diagnostics);
    std::string GetDiagnosticText(SQLSMALLINT handleType) const;

    // Statements up to EndTransaction form one transaction. Inside one, a
    // lost connection is not made again: the transaction is gone with it.
    // serializable: the database aborts one of two transactions that
    // would otherwise see each other's writes half done.
    bool BeginTransaction(bool serializable = false);
    bool EndTransaction(bool commit);
    bool InTransaction() const { return m_bInTransaction; }
    // A statement without a result inside a transaction, on the handle of
    // the statement before: many inserts in a row cost no handle each.
    // Outside a transaction the same as Execute.
    bool ExecuteInTransaction(const std::string& sql);

    // Why the last failing call failed: its diagnostic text, and whether
    // waiting may help (the connection went away, a time-out, a lock held
    // by someone else) rather than the statement being refused.
    const std::string& LastError() const { return m_strLastError; }
    bool LastFailureWasTemporary() const { return m_bLastTemporary; }
    // For a caller that undoes something after a failure and keeps the
    // failure's own account.
    void SetLastFailure(std::string text, bool temporary)
    {
        m_strLastError = std::move(text);
        m_bLastTemporary = temporary;
    }

    // SQL_DBMS_NAME of the open connection; empty when it cannot be read.
    std::string GetDbmsName() const;
    // For reading columns in their native C types after Fetch.
    SQLHSTMT GetStatement() const { return m_hStmt; }

    // Set when the user leaves the error dialog with "Abbrechen"; whoever
    // acts on it clears it.
    bool m_bCancelled = false;
    // While set, failures are not shown. Callers save and restore it.
    bool m_bQuiet = false;

private:
    // Connects to the endpoint without showing anything; on failure the
    // driver's messages are in failure and no handle is left.
    bool OpenConnection(std::string& failure);
    void FreeConnection();
    bool AllocateStatement();
    bool RunStatement(const std::string& sql);
    // Takes the failure of the last call on a handle of that type apart.
    void NoteFailure(SQLSMALLINT handleType);
    bool IsConnectionLost(SQLSMALLINT handleType) const;
    // One fresh connection to the same target, without a dialog; a failure
    // is shown after lostText, the messages of the statement that found the
    // connection gone.
    bool Reconnect(const std::string& lostText);

    SQLHENV m_hEnv = SQL_NULL_HENV;
    SQLHDBC m_hDbc = SQL_NULL_HDBC;
    SQLHSTMT m_hStmt = SQL_NULL_HSTMT;
    std::vector<CColumnValue> m_row;
    std::string m_strPassword;
    std::string m_strUserName;
    IDbUserInterface* m_pUserInterface = nullptr;
    CDbEndpoint::Kind m_target = CDbEndpoint::Kind::None;
    std::string m_strTarget;
    int m_nTimeout = kDefaultTimeout;
    // The connection went away and could not be made again yet; the next
    // statement tries first.
    bool m_bLost = false;
    bool m_bInTransaction = false;
    bool m_bLastTemporary = false;
    std::string m_strLastError;
};
