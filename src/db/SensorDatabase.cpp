#include "db/SensorDatabase.h"

#include "db/DataSource.h"
#include "db/DbUserInterface.h"
#include "db/ReadingWriter.h"
#include "db/SqlText.h"
#include "sensors/Clock.h"
#include "sensors/Sensor.h"
#include "sensors/TextEncoding.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string_view>

namespace
{

constexpr const char* kSensorColumns =
    " (SensorID INT, Host VARCHAR( 64 ), Port INT, Slot INT, Unit VARCHAR( 32 ), Location "
    "VARCHAR( 80 ))";
constexpr const char* kRecordingColumns =
    " (Reading FLOAT, Calendar DATE, Clock TIME, SensorID INT)";

// ASCII only: the process locale must not decide whether "RECORDING" is
// "Recording".
bool SameName(std::string_view a, std::string_view b)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// Attempts at a registration that met a lock or a serialisation failure.
constexpr int kRegistrationAttempts = 3;

// Characters as the database counts them: the text as it reads in UTF-8.
std::size_t CharacterCount(std::string_view bytes)
{
    const std::string text = DecodeLegacyText(bytes);
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(),
                      [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

} // namespace

std::optional<CRegistrationFailure> CheckSensorTexts(const CSensor& sensor)
{
    using Field = CRegistrationFailure::Field;
    const struct
    {
        Field field;
        const std::string& text;
        std::size_t limit;
    } texts[] = {{Field::Host, sensor.m_strAddress, kHostLength},
                 {Field::Unit, sensor.m_strUnit, kUnitLength},
                 {Field::Location, sensor.m_strDescription, kLocationLength}};
    for (const auto& text : texts)
    {
        if (text.text.find('\0') != std::string::npos)
            return CRegistrationFailure{
                CRegistrationFailure::Kind::ControlCharacter, text.field, 0, {}};
        if (CharacterCount(text.text) > text.limit)
            return CRegistrationFailure{
                CRegistrationFailure::Kind::TooLong, text.field, text.limit, {}};
    }
    return std::nullopt;
}

CSensorDatabase::CSensorDatabase(IDbUserInterface& ui) : m_ui(ui)
{
    m_db.SetUserInterface(&ui);
}

bool CSensorDatabase::OpenDatabase(bool mayCreate)
{
    m_createdTables.clear();
    if (!FindDataSource(m_strDataSource))
    {
        if (!mayCreate)
        {
            m_ui.ShowMessage("Die angegebene Datenquelle existiert nicht.");
            return false;
        }
        if (!SetupDataSource(m_strDataSource, false, m_ui))
            return false;
    }
    if (!Connect())
        return false;
    m_strDbmsName = m_db.GetDbmsName();

    m_pszRecordingTable = "Recording";
    m_pszSensorsTable = "Sensors";
    // The text driver keeps each table in a file of that name.
    if (m_strDbmsName == "TEXT")
    {
        m_pszRecordingTable = "Recording.txt";
        m_pszSensorsTable = "Sensors.txt";
    }
    return CreateMissingTables();
}

bool CSensorDatabase::Connect()
{
    if (m_bQuickConnect)
    {
        // The embedded driver waits for a busy database file as long as its
        // own keyword says, whatever ODBC time-out is set, and may wait so
        // twice in one statement.
        std::string options;
        if (m_db.Timeout() > 0 && UsesEmbeddedDriver(m_strDataSource))
            options = ";Timeout=" + std::to_string(m_db.Timeout() * 500L);
        return m_db.DriverConnect("DSN=" + m_strDataSource + options);
    }
    std::string userName = m_strUserName;
    std::string password = m_strPassword;
    if (!m_ui.AskLogin(userName, password))
        return false;
    m_strUserName = userName;
    m_strPassword = password;
    m_db.SetUserName(m_strUserName);
    m_db.SetPassword(m_strPassword);
    return m_db.Connect(m_strDataSource);
}

bool CSensorDatabase::FindTables(bool& sensorsFound, bool& recordingFound)
{
    sensorsFound = recordingFound = false;
    // Drivers report names as they were created or folded to their own case.
    if (!m_db.ListTables())
        return false;
    while (m_db.Fetch())
    {
        const std::string name = m_db.GetColumn(3);
        sensorsFound = sensorsFound || SameName(name, m_pszSensorsTable);
        recordingFound = recordingFound || SameName(name, m_pszRecordingTable);
    }
    return true;
}

bool CSensorDatabase::CreateMissingTables()
{
    bool sensorsFound = false;
    bool recordingFound = false;
    FindTables(sensorsFound, recordingFound);
    const struct
    {
        bool& found;
        const char* table;
        const char* columns;
    } tables[] = {{sensorsFound, m_pszSensorsTable, kSensorColumns},
                  {recordingFound, m_pszRecordingTable, kRecordingColumns}};
    for (const auto& table : tables)
    {
        if (table.found)
            continue;
        // Another recorder starting at the same moment may create it first;
        // that is no failure.
        const bool wasQuiet = m_db.m_bQuiet;
        m_db.m_bQuiet = true;
        const bool created =
            m_db.Execute(std::string("CREATE TABLE ") + table.table + table.columns);
        m_db.m_bQuiet = wasQuiet;
        if (created)
        {
            m_createdTables.emplace_back(table.table);
            continue;
        }
        const std::string failure = m_db.LastError();
        bool sensorsNow = false, recordingNow = false;
        if (!FindTables(sensorsNow, recordingNow) ||
            !(table.table == m_pszSensorsTable ? sensorsNow : recordingNow))
        {
            m_db.ReportText(failure);
            m_db.Close();
            return false;
        }
    }
    return true;
}

int CSensorDatabase::RegisterSensor(const CSensor& sensor)
{
    m_registrationFailure = CheckSensorTexts(sensor);
    if (m_registrationFailure)
        return -1;
    // What may pass (a lock, a collision with another recorder) is tried
    // again; only the failure that remains is shown. A connection that went
    // away, or a database that did not answer in time, is not tried again
    // here: each attempt could cost the whole bound.
    const bool wasQuiet = m_db.m_bQuiet;
    m_db.m_bQuiet = true;
    int id = -1;
    for (int attempt = 0; attempt < kRegistrationAttempts && id < 0; ++attempt)
    {
        m_db.SetLastFailure({}, false);
        if ((id = RegisterInTransaction(sensor)) < 0 &&
            (!m_db.LastFailureWasTemporary() || m_db.IsLost()))
            break;
    }
    m_db.m_bQuiet = wasQuiet;
    if (id < 0)
    {
        // Without a failure text the table simply has no next number.
        m_registrationFailure =
            CRegistrationFailure{CRegistrationFailure::Kind::Statement,
                                 CRegistrationFailure::Field::None, 0, m_db.LastError()};
        if (!m_db.LastError().empty())
            m_db.ReportText(m_db.LastError());
    }
    return id;
}

bool CSensorDatabase::BeginRegistration()
{
    // SQLite: a write lock from the start, so that no other writer comes
    // between the check and the insert. PostgreSQL: a lock that admits
    // readers but no second registration. Anywhere else a serialisable
    // transaction, which the database aborts when two collide.
    if (m_strDbmsName == "SQLite")
        return m_db.Execute("BEGIN IMMEDIATE");
    if (!m_db.BeginTransaction(m_strDbmsName != "PostgreSQL"))
        return false;
    if (m_strDbmsName == "PostgreSQL" &&
        !m_db.Execute(std::string("LOCK TABLE ") + m_pszSensorsTable +
                      " IN SHARE ROW EXCLUSIVE MODE"))
    {
        m_db.EndTransaction(false);
        return false;
    }
    return true;
}

bool CSensorDatabase::EndRegistration(bool commit)
{
    if (m_strDbmsName != "SQLite")
        return m_db.EndTransaction(commit) && commit;
    if (commit && m_db.Execute("COMMIT"))
        return true;
    // A commit that met a busy file leaves the transaction open. What
    // counts is why the registration failed, not how the undoing went.
    const std::string failure = m_db.LastError();
    const bool temporary = m_db.LastFailureWasTemporary();
    const bool wasQuiet = m_db.m_bQuiet;
    m_db.m_bQuiet = true;
    m_db.Execute("ROLLBACK");
    m_db.m_bQuiet = wasQuiet;
    m_db.SetLastFailure(failure, temporary);
    return false;
}

int CSensorDatabase::RegisterInTransaction(const CSensor& sensor)
{
    const std::string table = m_pszSensorsTable;
    if (!BeginRegistration())
        return -1;
    if (!m_db.Execute("SELECT SensorID FROM " + table +
                      " WHERE Host=" + SqlQuote(sensor.m_strAddress) +
                      " AND Port=" + std::to_string(sensor.m_nPort) +
                      " AND Slot=" + std::to_string(sensor.m_nSensorNo)))
    {
        EndRegistration(false);
        return -1;
    }
    if (m_db.Fetch())
    {
        const int id = static_cast<int>(std::atol(m_db.GetColumn(1).c_str()));
        // Unit and description are only kept up to date; failing that is no
        // reason to bother the user.
        const bool wasQuiet = m_db.m_bQuiet;
        m_db.m_bQuiet = true;
        m_db.Execute("UPDATE " + table + " SET Unit=" + SqlQuote(sensor.m_strUnit) + ", Location=" +
                     SqlQuote(sensor.m_strDescription) + " WHERE SensorID=" + std::to_string(id));
        m_db.m_bQuiet = wasQuiet;
        return EndRegistration(true) ? id : -1;
    }

    long max = 0;
    if (!m_db.Execute("SELECT MAX( SensorID ) FROM " + table))
    {
        EndRegistration(false);
        return -1;
    }
    if (m_db.Fetch())
    {
        const std::string text = m_db.GetColumn(1);
        if (!text.empty())
            max = std::atol(text.c_str());
    }
    // Numbers stay positive whatever else a table holds, and a table whose
    // numbers reach the top of INT has no next number to give.
    max = std::max(max, 0L);
    const int id = max >= INT_MAX ? -1 : static_cast<int>(max + 1);
    if (id < 0 ||
        !m_db.Execute(
            "INSERT INTO " + table + " (SensorID, Host, Port, Slot, Unit, Location) VALUES ( " +
            std::to_string(id) + ", " + SqlQuote(sensor.m_strAddress) + ", " +
            std::to_string(sensor.m_nPort) + ", " + std::to_string(sensor.m_nSensorNo) + ", " +
            SqlQuote(sensor.m_strUnit) + ", " + SqlQuote(sensor.m_strDescription) + " )"))
    {
        EndRegistration(false);
        return -1;
    }
    return EndRegistration(true) ? id : -1;
}

bool CSensorDatabase::StoreReading(int sensorId, float value)
{
    return InsertReading(SqlFloat(static_cast<double>(value)), sensorId);
}

bool CSensorDatabase::StoreMissingReading(int sensorId)
{
    return InsertReading("NULL", sensorId);
}

bool CSensorDatabase::InsertReading(const std::string& reading, int sensorId)
{
    return m_db.Execute(InsertReadingStatement(m_pszRecordingTable, {sensorId, reading},
                                               CClock::Current().LocalNow()));
}
