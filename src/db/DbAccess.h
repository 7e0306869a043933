#pragma once

#include "db/ColumnValue.h"
#include "db/DbCallThread.h"

#include <functional>
#include <memory>
#include <optional>
#include <sql.h>
#include <string>
#include <string_view>
#include <vector>

class CDbConnection;
class IDbUserInterface;

// String 603: what a statement reports that has no connection to run on.
inline constexpr std::string_view kStrNotConnected = "Keine Verbindung zur Datenbank.";
// String 604: a call the database did not answer within the bound.
std::string NoAnswerText(int seconds);

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
//
// Every call is bounded by the program itself, whatever the driver does:
// the ODBC calls run on a thread of the connection's own, and the caller
// waits for each at most the time-out (a read of many rows: for each
// fetch). A call past it fails as a lost connection with NoAnswerText;
// that connection is never touched again, and the next call opens a fresh
// one.
class CDbAccess
{
public:
    static constexpr int kDefaultTimeout = 15;

    // Where the ODBC calls run: on the connection's own thread (bounded),
    // or on the caller's, for a caller on a thread of its own that keeps a
    // bound itself.
    enum class Calls
    {
        Bounded,
        OnCallersThread,
    };

    explicit CDbAccess(Calls calls = Calls::Bounded);
    virtual ~CDbAccess();
    CDbAccess(const CDbAccess&) = delete;
    CDbAccess& operator=(const CDbAccess&) = delete;

    // Where failures are reported; nothing is shown while none is set.
    void SetUserInterface(IDbUserInterface* ui) { m_pUserInterface = ui; }
    // Seconds any one call may take: the program's bound, and where the
    // driver offers one the login (5 at most), the connection and each
    // statement. 0 leaves the drivers' own and waits for ever.
    void SetTimeout(int seconds) { m_nTimeout = seconds; }
    int Timeout() const { return m_nTimeout; }

    bool Connect(const std::string& dataSource);
    bool DriverConnect(const std::string& connectionString);
    // Connects like the connection endpoint describes, without showing
    // anything; LastError() says why not.
    bool Open(const CDbEndpoint& endpoint);
    void Close();
    bool IsOpen() const { return m_bConnected || m_bLost; }
    bool IsLost() const { return m_bLost; }
    CDbEndpoint Endpoint() const;
    void SetPassword(const std::string& password) { m_strPassword = password; }
    void SetUserName(const std::string& userName) { m_strUserName = userName; }

    bool Execute(const std::string& sql);
    bool ListTables();
    // False at the end of the result, which closes its cursor.
    bool Fetch();
    std::string GetColumn(int column);
    // Ends a result that is not read to its end: with SQLite, an open
    // result holds a lock that makes writers on other connections wait.
    void CloseCursor();
    // Reads the result of the last statement to its end on the connection's
    // thread: bind first, when given, then after each successful SQLFetch
    // readFetched, which reads the row (or block of rows) just fetched
    // (SQLGetData, bound arrays). The caller waits meanwhile, so both may
    // use its memory, but never after ReadRows has returned. Memory the
    // driver writes into (bound columns) must belong to the functions
    // handed in: a fetch that ran past the bound may still write into it.
    // Each fetch is bounded. False when a fetch or readFetched failed (the
    // statement's messages are reported) or the bound ran out; the result
    // and its bindings are gone afterwards either way.
    bool ReadRows(const std::function<bool(SQLHSTMT)>& readFetched,
                  const std::function<bool(SQLHSTMT)>& bind = {});
    void ResetStatement();
    void ReportError(SQLSMALLINT handleType);
    // Shows a failure's text unless quiet; "Abbrechen" sets m_bCancelled.
    void ReportText(const std::string& diagnostics);
    std::string GetDiagnosticText(SQLSMALLINT handleType);

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
    std::string GetDbmsName();

    // Set when the user leaves the error dialog with "Abbrechen"; whoever
    // acts on it clears it.
    bool m_bCancelled = false;
    // While set, failures are not shown. Callers save and restore it.
    bool m_bQuiet = false;

private:
    // A call's own result, and the state the connection was left in.
    template <typename Result> struct CCallResult;

    // Runs work with the connection, on its thread or on the caller's;
    // false when it ran past the bound and the connection was given up.
    bool Run(CDbCallThread::Work work);
    // Runs work(connection) and hands its result back; nothing when it ran
    // past the bound.
    template <typename Result, typename Work> std::optional<Result> Call(Work work);
    // The connection's thread ran past the bound: it and its connection
    // are left to themselves, and the failure is noted as a lost
    // connection.
    void GiveUp();
    CDbCallThread::Bound Bound() const;
    void NoteFailure(const std::string& text, bool temporary);
    void ReportNotConnected();

    Calls m_calls;
    // The connection, for calls on the caller's thread only.
    std::unique_ptr<CDbConnection> m_pConnection;
    // Owns the connection for bounded calls; made at the first call.
    std::unique_ptr<CDbCallThread> m_pCallThread;
    std::vector<CColumnValue> m_row;
    std::string m_strPassword;
    std::string m_strUserName;
    IDbUserInterface* m_pUserInterface = nullptr;
    CDbEndpoint::Kind m_target = CDbEndpoint::Kind::None;
    std::string m_strTarget;
    int m_nTimeout = kDefaultTimeout;
    // The connection holds its handles.
    bool m_bConnected = false;
    // The connection went away and could not be made again yet; the next
    // statement tries first.
    bool m_bLost = false;
    bool m_bInTransaction = false;
    bool m_bLastTemporary = false;
    std::string m_strLastError;
};
