#include "db/SensorDatabase.h"

#include "sensors/Clock.h"
#include "db/DataSource.h"
#include "db/DbUserInterface.h"
#include "sensors/Sensor.h"
#include "db/SqlText.h"

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

} // namespace

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

    m_pszRecordingTable = "Recording";
    m_pszSensorsTable = "Sensors";
    // The text driver keeps each table in a file of that name.
    if (m_db.GetDbmsName() == "TEXT")
    {
        m_pszRecordingTable = "Recording.txt";
        m_pszSensorsTable = "Sensors.txt";
    }
    return CreateMissingTables();
}

bool CSensorDatabase::Connect()
{
    if (m_bQuickConnect)
        return m_db.DriverConnect("DSN=" + m_strDataSource);
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

bool CSensorDatabase::CreateMissingTables()
{
    bool sensorsFound = false;
    bool recordingFound = false;
    // Drivers report names as they were created or folded to their own case.
    if (m_db.ListTables())
        while (m_db.Fetch())
        {
            const std::string name = m_db.GetColumn(3);
            sensorsFound = sensorsFound || SameName(name, m_pszSensorsTable);
            recordingFound = recordingFound || SameName(name, m_pszRecordingTable);
        }
    const struct
    {
        bool found;
        const char* table;
        const char* columns;
    } tables[] = {{sensorsFound, m_pszSensorsTable, kSensorColumns},
                  {recordingFound, m_pszRecordingTable, kRecordingColumns}};
    for (const auto& table : tables)
    {
        if (table.found)
            continue;
        if (!m_db.Execute(std::string("CREATE TABLE ") + table.table + table.columns))
        {
            m_db.Close();
            return false;
        }
        m_createdTables.emplace_back(table.table);
    }
    return true;
}

int CSensorDatabase::RegisterSensor(const CSensor& sensor)
{
    const std::string table = m_pszSensorsTable;
    if (!m_db.Execute("SELECT SensorID FROM " + table +
                      " WHERE Host=" + SqlQuote(sensor.m_strAddress) +
                      " AND Port=" + std::to_string(sensor.m_nPort) +
                      " AND Slot=" + std::to_string(sensor.m_nSensorNo)))
        return -1;
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
        return id;
    }

    if (!m_db.Execute("SELECT MAX( SensorID ) FROM " + table))
        return -1;
    long max = 0;
    if (m_db.Fetch())
    {
        const std::string text = m_db.GetColumn(1);
        if (!text.empty())
            max = std::atol(text.c_str());
    }
    // Numbers stay positive whatever else a table holds, and a table whose
    // numbers reach the top of INT has no next number to give.
    max = std::max(max, 0L);
    if (max >= INT_MAX)
        return -1;
    const int id = static_cast<int>(max + 1);
    if (!m_db.Execute(
            "INSERT INTO " + table + " (SensorID, Host, Port, Slot, Unit, Location) VALUES ( " +
            std::to_string(id) + ", " + SqlQuote(sensor.m_strAddress) + ", " +
            std::to_string(sensor.m_nPort) + ", " + std::to_string(sensor.m_nSensorNo) + ", " +
            SqlQuote(sensor.m_strUnit) + ", " + SqlQuote(sensor.m_strDescription) + " )"))
        return -1;
    return id;
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
    const CivilTime now = CClock::Current().LocalNow();
    return m_db.Execute(std::string("INSERT INTO ") + m_pszRecordingTable +
                        " (Reading, Calendar, Clock, SensorID) VALUES ( " + reading + ", " +
                        SqlDate(now) + ", " + SqlTime(now) + ", " + std::to_string(sensorId) +
                        " )");
}
