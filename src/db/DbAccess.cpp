#include "db/DbAccess.h"

#include "db/DbConnection.h"
#include "db/DbUserInterface.h"

#include <sqlext.h>

// How a statement ended, on the connection's thread.
struct CStatementOutcome
{
    bool m_bOk = false;
    CDbFailure m_failure;
    // Nothing to report: the failure was known before.
    bool m_bSilent = false;
};

namespace
{

// A statement, made again once on a fresh connection when the connection
// turns out to be gone; never inside a transaction, which went with it.
CStatementOutcome RunStatement(CDbConnection& connection, const std::string& sql,
                               const CDbEndpoint& endpoint, bool lost, bool inTransaction)
{
    CStatementOutcome outcome;
    const auto reconnect = [&](const std::string& lostText)
    {
        std::string failure;
        if (connection.Open(endpoint, failure))
            return true;
        outcome.m_failure = {lostText.empty() ? failure : lostText + '\n' + failure, true, true};
        return false;
    };
    if (lost && !reconnect({}))
        return outcome;
    if ((outcome.m_bOk = connection.Run(sql)))
        return outcome;
    outcome.m_failure = connection.Failure(SQL_HANDLE_STMT);
    if (!outcome.m_failure.m_bLost)
        return outcome;
    if (inTransaction || lost)
    {
        // The transaction went with the connection; the caller decides.
        connection.Close();
        return outcome;
    }
    if (!reconnect(outcome.m_failure.m_strText))
        return outcome;
    if (!(outcome.m_bOk = connection.Run(sql)))
        outcome.m_failure = connection.Failure(SQL_HANDLE_STMT);
    return outcome;
}

} // namespace

std::string NoAnswerText(int seconds)
{
    return "Die Datenbank hat nicht innerhalb von " + std::to_string(seconds) +
           " Sekunden geantwortet.";
}

template <typename Result> struct CDbAccess::CCallResult
{
    Result m_result;
    bool m_bOpen = false;
    bool m_bInTransaction = false;
};

CDbAccess::CDbAccess(Calls calls) : m_calls(calls)
{
    if (m_calls == Calls::OnCallersThread)
        m_pConnection = std::make_unique<CDbConnection>();
}

CDbAccess::~CDbAccess()
{
    Close();
}

bool CDbAccess::Run(CDbCallThread::Work work)
{
    if (m_calls == Calls::OnCallersThread)
    {
        CDbCallThread::CCall call;
        work(call, *m_pConnection);
        return true;
    }
    if (!m_pCallThread)
        m_pCallThread = std::make_unique<CDbCallThread>();
    if (m_pCallThread->Run(std::move(work), Bound()))
        return true;
    GiveUp();
    return false;
}

template <typename Result, typename Work> std::optional<Result> CDbAccess::Call(Work work)
{
    std::optional<CCallResult<Result>> result;
    if (!Run(
            [&result, work](CDbCallThread::CCall& call, CDbConnection& connection)
            {
                CCallResult<Result> value{work(connection), connection.IsOpen(),
                                          connection.InTransaction()};
                call.Progress([&] { result = std::move(value); });
            }))
        return std::nullopt;
    m_bConnected = result->m_bOpen;
    m_bInTransaction = result->m_bInTransaction;
    return std::move(result->m_result);
}

void CDbAccess::GiveUp()
{
    // The thread is left with its connection; nobody touches either again.
    m_pCallThread.reset();
    m_bConnected = false;
    m_bInTransaction = false;
    m_bLost = m_target != CDbEndpoint::Kind::None;
    m_row.clear();
    NoteFailure(NoAnswerText(m_nTimeout), true);
}

bool CDbAccess::Conclude(const std::optional<CStatementOutcome>& outcome)
{
    if (outcome)
        m_bLost = !m_bConnected;
    if (outcome && outcome->m_bOk)
        return true;
    if (outcome)
        NoteFailure(outcome->m_failure.m_strText, outcome->m_failure.m_bTemporary);
    ReportText(m_strLastError);
    return false;
}

bool CDbAccess::Tidy(void (CDbConnection::*step)())
{
    return Call<bool>(
               [step](CDbConnection& connection)
               {
                   (connection.*step)();
                   return true;
               })
        .has_value();
}

CDbCallThread::Bound CDbAccess::Bound() const
{
    if (m_nTimeout <= 0)
        return std::nullopt;
    return std::chrono::seconds(m_nTimeout);
}

void CDbAccess::NoteFailure(const std::string& text, bool temporary)
{
    m_strLastError = text;
    m_bLastTemporary = temporary;
}

void CDbAccess::ReportNotConnected()
{
    // Nothing to run it on: never a silent success.
    m_bLastTemporary = false;
    ReportText(std::string(kStrNotConnected));
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
    const auto opened = Call<CDbFailure>(
        [endpoint](CDbConnection& connection)
        {
            std::string failure;
            return connection.Open(endpoint, failure) ? CDbFailure{}
                                                      : CDbFailure{failure, false, true};
        });
    if (opened && m_bConnected)
        return true;
    if (opened)
        NoteFailure(opened->m_strText, true);
    m_target = CDbEndpoint::Kind::None;
    m_strTarget.clear();
    m_bLost = false;
    return false;
}

CDbEndpoint CDbAccess::Endpoint() const
{
    return {m_target, m_strTarget, m_strUserName, m_strPassword, m_nTimeout};
}

void CDbAccess::Close()
{
    if (m_bConnected)
        Tidy(&CDbConnection::Close);
    m_bConnected = false;
    m_bInTransaction = false;
    m_row.clear();
    m_target = CDbEndpoint::Kind::None;
    m_strTarget.clear();
    m_bLost = false;
}

bool CDbAccess::Execute(const std::string& sql)
{
    if (m_target == CDbEndpoint::Kind::None)
    {
        ReportNotConnected();
        return false;
    }
    if (m_bLost && m_bInTransaction)
    {
        m_bLastTemporary = true;
        return false;
    }
    m_row.clear();
    const auto outcome = Call<CStatementOutcome>(
        [sql, endpoint = Endpoint(), lost = m_bLost,
         inTransaction = m_bInTransaction](CDbConnection& connection)
        { return RunStatement(connection, sql, endpoint, lost, inTransaction); });
    return Conclude(outcome);
}

bool CDbAccess::ExecuteInTransaction(const std::string& sql)
{
    if (!m_bInTransaction || !m_bConnected)
        return Execute(sql);
    m_row.clear();
    const auto outcome = Call<CStatementOutcome>(
        [sql](CDbConnection& connection)
        {
            CStatementOutcome result;
            if ((result.m_bOk = connection.RunAgain(sql)))
                return result;
            result.m_failure = connection.Failure(SQL_HANDLE_STMT);
            if (result.m_failure.m_bLost)
                connection.Close();
            return result;
        });
    return Conclude(outcome);
}

bool CDbAccess::BeginTransaction(bool serializable)
{
    if (m_target == CDbEndpoint::Kind::None)
    {
        ReportNotConnected();
        return false;
    }
    const auto outcome = Call<CStatementOutcome>(
        [serializable, endpoint = Endpoint(), lost = m_bLost](CDbConnection& connection)
        {
            CStatementOutcome result;
            std::string failure;
            if (lost && !connection.Open(endpoint, failure))
                result.m_failure = {failure, true, true};
            else if (!(result.m_bOk = connection.BeginTransaction(serializable)))
                result.m_failure = connection.Failure(SQL_HANDLE_DBC);
            return result;
        });
    return Conclude(outcome);
}

bool CDbAccess::EndTransaction(bool commit)
{
    if (!m_bInTransaction || !m_bConnected)
    {
        m_bInTransaction = false;
        return !commit;
    }
    const auto outcome = Call<CStatementOutcome>(
        [commit](CDbConnection& connection)
        {
            CStatementOutcome result;
            if (!(result.m_bOk = connection.EndTransaction(commit)))
            {
                result.m_failure = connection.Failure(SQL_HANDLE_DBC);
                if (result.m_failure.m_bLost)
                {
                    connection.Close();
                    return result;
                }
            }
            connection.RestoreAutocommit(commit && !result.m_bOk);
            return result;
        });
    return Conclude(outcome);
}

bool CDbAccess::ListTables()
{
    if (m_target == CDbEndpoint::Kind::None)
    {
        ReportNotConnected();
        return false;
    }
    m_row.clear();
    const auto outcome = Call<CStatementOutcome>(
        [](CDbConnection& connection)
        {
            CStatementOutcome result;
            if (!(result.m_bOk = connection.ListTables()))
                result.m_failure = connection.Failure(SQL_HANDLE_STMT);
            return result;
        });
    return Conclude(outcome);
}

bool CDbAccess::Fetch()
{
    m_row.clear();
    if (!m_bConnected)
        return false;
    const auto outcome = Call<CStatementOutcome>(
        [](CDbConnection& connection)
        {
            CStatementOutcome result;
            const SQLRETURN rc = connection.Fetch();
            result.m_bOk = rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
            result.m_bSilent = rc == SQL_NO_DATA;
            if (!result.m_bOk && !result.m_bSilent)
            {
                result.m_failure = connection.Failure(SQL_HANDLE_STMT);
                connection.CloseCursor();
            }
            return result;
        });
    if (outcome && (outcome->m_bOk || outcome->m_bSilent))
        return outcome->m_bOk;
    if (outcome)
        NoteFailure(outcome->m_failure.m_strText, outcome->m_failure.m_bTemporary);
    ReportText(m_strLastError);
    return false;
}

std::string CDbAccess::GetColumn(int column)
{
    for (const CColumnValue& value : m_row)
        if (value.m_nColumn == column)
            return value.m_strText;
    std::string text;
    if (m_bConnected)
    {
        const auto read = Call<std::string>([column](CDbConnection& connection)
                                            { return connection.Column(column); });
        if (read)
            text = *read;
        else
            ReportText(m_strLastError);
    }
    m_row.push_back({text, column});
    return text;
}

void CDbAccess::CloseCursor()
{
    m_row.clear();
    if (m_bConnected && !Tidy(&CDbConnection::CloseCursor))
        ReportText(m_strLastError);
}

bool CDbAccess::ReadRows(const std::function<bool(SQLHSTMT)>& readFetched,
                         const std::function<bool(SQLHSTMT)>& bind)
{
    m_row.clear();
    if (!m_bConnected)
        return false;
    std::optional<CStatementOutcome> outcome;
    const bool ended = Run(
        [&outcome, readFetched, bind](CDbCallThread::CCall& call, CDbConnection& connection)
        {
            const SQLHSTMT statement = connection.Statement();
            CStatementOutcome result;
            bool reading = true;
            if (bind && !call.Progress([&] { reading = bind(statement); }))
                return;
            if (!reading)
                result.m_failure = connection.Failure(SQL_HANDLE_STMT);
            while (reading)
            {
                const SQLRETURN rc = connection.Fetch();
                if (rc == SQL_NO_DATA)
                    break;
                if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO)
                {
                    // Each block read counts as progress: the bound is for
                    // one fetch, not for the whole result.
                    if (!call.Progress([&] { reading = readFetched(statement); }))
                        return;
                    if (reading)
                        continue;
                }
                // The reason is on the statement, if any: a read that
                // failed, a fetch, or nothing for a reader that stopped.
                result.m_failure = connection.Failure(SQL_HANDLE_STMT);
                reading = false;
            }
            result.m_bOk = reading;
            // Also drops the bindings, whose memory goes with the caller.
            connection.ResetStatement();
            call.Progress([&] { outcome = std::move(result); });
        });
    // Nothing came back from a call given up.
    return Conclude(ended ? outcome : std::nullopt);
}

void CDbAccess::ResetStatement()
{
    m_row.clear();
    if (m_bConnected && !Tidy(&CDbConnection::ResetStatement))
        ReportText(m_strLastError);
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

std::string CDbAccess::GetDiagnosticText(SQLSMALLINT handleType)
{
    const auto text = Call<std::string>([handleType](CDbConnection& connection)
                                        { return connection.Diagnostics(handleType); });
    return text.value_or(std::string());
}

std::string CDbAccess::GetDbmsName()
{
    if (!m_bConnected)
        return {};
    const auto name =
        Call<std::string>([](CDbConnection& connection) { return connection.DbmsName(); });
    return name.value_or(std::string());
}
