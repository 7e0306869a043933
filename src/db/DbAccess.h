#pragma once

#include "db/ColumnValue.h"

#include <sql.h>
#include <string>
#include <vector>

class IDbUserInterface;

// The one object through which the program talks to ODBC: one connection,
// one statement at a time, columns as right-trimmed text, and every failure
// shown to the user with all diagnostic messages of the failing handle.
// A statement that fails because the connection is gone (the server went
// away or ended the session) is run once more on a fresh connection to the
// same data source before the failure is shown, so that a server restart
// does not cost every later reading of a recording run.
class CDbAccess
{
public:
    CDbAccess();
    virtual ~CDbAccess();
    CDbAccess(const CDbAccess&) = delete;
    CDbAccess& operator=(const CDbAccess&) = delete;

    // Where failures are reported; nothing is shown while none is set.
    void SetUserInterface(IDbUserInterface* ui) { m_pUserInterface = ui; }

    bool Connect(const std::string& dataSource);
    bool DriverConnect(const std::string& connectionString);
    void Close();
    bool IsOpen() const { return m_hDbc != SQL_NULL_HDBC; }
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
    enum class Target
    {
        None,
        DataSource,       // Connect: name, user name and password
        ConnectionString, // DriverConnect
    };

    // Connects to m_strTarget without showing anything; on failure the
    // driver's messages are in failure and no handle is left.
    bool OpenConnection(std::string& failure);
    void FreeConnection();
    bool RunStatement(const std::string& sql);
    bool IsConnectionLost() const;
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
    Target m_target = Target::None;
    std::string m_strTarget;
    // The connection went away and could not be made again yet; the next
    // statement tries first.
    bool m_bLost = false;
};
