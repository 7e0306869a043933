#pragma once

#include "ColumnValue.h"

#include <sql.h>
#include <string>
#include <vector>

class IDbUserInterface;

// The one object through which the program talks to ODBC: one connection,
// one statement at a time, columns as right-trimmed text, and every failure
// shown to the user with all diagnostic messages of the failing handle.
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
    bool FinishConnect(SQLRETURN rc);

    SQLHENV m_hEnv = SQL_NULL_HENV;
    SQLHDBC m_hDbc = SQL_NULL_HDBC;
    SQLHSTMT m_hStmt = SQL_NULL_HSTMT;
    std::vector<CColumnValue> m_row;
    std::string m_strPassword;
    std::string m_strUserName;
    IDbUserInterface* m_pUserInterface = nullptr;
};
