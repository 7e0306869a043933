#pragma once

#include "common/OdbcTestEnv.h"
#include "common/TempDir.h"
#include "db/DbUserInterface.h"
#include "db/SensorDatabase.h"
#include "db/SensorListHost.h"
#include "sensors/Clock.h"
#include "sensors/Sensor.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <sql.h>
#include <string>
#include <utility>
#include <vector>

// The two real drivers the program is used with.
enum class Backend
{
    Sqlite,
    Postgres,
};

std::string BackendName(Backend backend);
// Runs a suite of tests taking a Backend once per driver, named after it.
#define INSTANTIATE_FOR_BOTH_DRIVERS(suite)                                                        \
    INSTANTIATE_TEST_SUITE_P(Drivers, suite,                                                       \
                             ::testing::Values(Backend::Sqlite, Backend::Postgres),                \
                             [](const auto& info) { return BackendName(info.param); })

// The configuration every test of this process shares; created before any
// ODBC call.
OdbcTestEnv& TestOdbcEnv();

// A fresh, empty database behind a data source name of its own.
class TestDatabase
{
public:
    explicit TestDatabase(Backend backend);

    const std::string& Dsn() const { return m_strDsn; }
    // The database file of the embedded driver; empty for a server.
    std::filesystem::path File() const
    {
        return m_dir ? *m_dir / "sensors.db" : std::filesystem::path();
    }

private:
    std::string m_strDsn;
    std::unique_ptr<TempDir> m_dir;
};

// A plain ODBC connection of the test's own, to set up and inspect tables
// without going through the code under test. Failures throw with the
// driver's messages.
class RawOdbc
{
public:
    using Row = std::vector<std::optional<std::string>>; // nullopt for NULL

    explicit RawOdbc(const std::string& connectionString);
    ~RawOdbc();
    RawOdbc(const RawOdbc&) = delete;
    RawOdbc& operator=(const RawOdbc&) = delete;

    void Exec(const std::string& sql);
    // Every row of the result as text.
    std::vector<Row> Query(const std::string& sql);
    // Runs sql, expecting it to fail; returns the statement's diagnostic
    // messages, one per record.
    std::vector<std::string> FailingExec(const std::string& sql);

private:
    SQLRETURN Run(const std::string& sql);

    SQLHENV m_hEnv = SQL_NULL_HENV;
    SQLHDBC m_hDbc = SQL_NULL_HDBC;
    SQLHSTMT m_hStmt = SQL_NULL_HSTMT;
};

// A sensor of the configuration, as a file line would give it.
CSensor MakeSensor(const std::string& host, int port, int slot, const std::string& unit = "°C",
                   const std::string& description = "");

// The program's two tables, as it makes them.
void CreateTables(RawOdbc& raw);

class ChildProcess;
class PgServer;

// Runs work on this thread with the server suspended (it accepts and never
// answers): from the start, or once underWay says that work is under way.
// True when work ended within deadline; past it the server is resumed,
// which lets work end, so that it never outlives the test.
bool EndsWhileSuspended(PgServer& server, const std::function<void()>& work,
                        const std::function<bool()>& underWay = {},
                        std::chrono::seconds deadline = std::chrono::seconds(30));
// Whether a statement of another connection waits for a lock on the server.
bool WaitsForALock(PgServer& server);

// Another program (the sqlite3 shell) holding an SQLite database file in an
// exclusive transaction, from construction until Release.
class SqliteLock
{
public:
    explicit SqliteLock(const std::filesystem::path& database);
    ~SqliteLock();
    // Commits and waits for the shell to end.
    void Release();

private:
    TempDir m_dir;
    std::unique_ptr<ChildProcess> m_holder;
};

// Stands in for the person at the screen and remembers what was shown.
class RecordingUi : public IDbUserInterface
{
public:
    bool ReportOdbcError(const std::string& diagnostics) override;
    bool AskLogin(std::string& userName, std::string& password) override;
    void ShowMessage(const std::string& text) override { m_messages.push_back(text); }
    void ChooseDriver(const std::vector<std::string>& drivers, std::string& driver,
                      bool& system) override;
    bool EditDriverSettings(const std::string&, std::string&,
                            std::vector<std::pair<std::string, std::string>>&) override
    {
        return false;
    }

    // Answers
    bool m_bCancelErrors = false;
    std::optional<std::pair<std::string, std::string>> m_login; // nullopt: Cancel

    // What happened
    std::vector<std::string> m_errors;
    std::vector<std::string> m_messages;
    std::vector<std::pair<std::string, std::string>> m_loginsShown;
    int m_nDriverChoices = 0;
};

// The list view as the statistics see it: rows in display order, the
// selected ones, and what was written where.
class TestSensorList : public ISensorListHost
{
public:
    explicit TestSensorList(CSensorDatabase& database) : m_database(database) {}

    bool OpenDatabase() override
    {
        ++m_nOpens;
        return m_database.OpenDatabase(false);
    }
    void SetStatusText(unsigned id) override { m_statusTexts.push_back(id); }
    void DeselectAll() override { m_selected.clear(); }
    void AddRow(CSensor* record) override
    {
        m_rows.push_back(record);
        m_selected.push_back(record->m_strAddress);
    }
    int GetRowCount() const override { return static_cast<int>(m_rows.size()); }
    CSensor* GetRowRecord(int row) const override { return m_rows[static_cast<size_t>(row)]; }
    void SetStatusCell(int row, const std::string& text) override
    {
        m_cells.resize(m_rows.size());
        m_cells[static_cast<size_t>(row)] = text;
    }

    std::vector<CSensor*> m_rows;
    std::vector<std::string> m_selected;
    std::vector<std::string> m_cells;
    std::vector<unsigned> m_statusTexts;
    int m_nOpens = 0;

private:
    CSensorDatabase& m_database;
};

// tessaro-cli's user with an empty home: no settings and no data folder but
// what the test writes; the previous environment comes back when it goes.
class CliHome
{
public:
    CliHome();

    std::filesystem::path operator/(const std::string& name) const { return m_dir / name; }
    // The programs' settings file, holding these lines.
    void WriteSettings(const std::string& lines) const;
    // A configuration file of these sensor lines; its path.
    std::string WriteConfiguration(const std::vector<std::string>& lines,
                                   const std::string& name = "sensors.cfg") const;
    std::filesystem::path DataFolder() const { return m_dir / ".local/share/Arveda/Tessaro"; }

private:
    TempDir m_dir;
    ScopedEnv m_env;
};

// Local time stands still at the given moment while the object lives.
class FakeClock : public CClock
{
public:
    explicit FakeClock(const CivilTime& now) : m_now(now) { Install(this); }
    ~FakeClock() override { Install(nullptr); }
    CivilTime LocalNow() const override { return m_now; }

private:
    CivilTime m_now;
};

// Records the SQL text of every statement this process sends while it
// lives, as the driver manager hands it to the driver.
class StatementTrace
{
public:
    StatementTrace();
    ~StatementTrace();
    std::vector<std::string> Statements() const;
    // Transactions committed through SQLEndTran.
    std::size_t Commits() const;

private:
    TempDir m_dir;
    // Tracing is switched for the whole driver manager through any
    // connection handle.
    SQLHENV m_hEnv = SQL_NULL_HENV;
    SQLHDBC m_hDbc = SQL_NULL_HDBC;
};
