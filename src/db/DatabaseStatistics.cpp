#include "db/DatabaseStatistics.h"

#include "db/SensorDatabase.h"
#include "db/SensorListHost.h"
#include "db/SqlText.h"
#include "db/StatusTextIds.h"
#include "sensors/Clock.h"
#include "sensors/OrbelDoc.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace
{

// Texts of the sensor table go into a configuration line of TAB-separated
// fields; a TAB or line break inside one would split it.
std::string OneLineText(std::string text)
{
    for (char& c : text)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    return text;
}

std::uint16_t PortOf(const std::string& text)
{
    // The port column is an INT; the record keeps its low 16 bits.
    return static_cast<std::uint16_t>(std::strtol(text.c_str(), nullptr, 10));
}

int NumberOf(const std::string& text)
{
    return static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
}

} // namespace

bool CDatabaseStatistics::OnImportSensors()
{
    CDbAccess& db = m_database.m_db;
    const bool wasOpen = db.IsOpen();
    if (!wasOpen && !m_host.OpenDatabase())
        return false;
    const bool imported = ImportSensors();
    if (!wasOpen)
        db.Close();
    return imported;
}

bool CDatabaseStatistics::ImportSensors()
{
    CDbAccess& db = m_database.m_db;
    m_host.DeselectAll();
    if (!db.Execute(std::string("SELECT Host, Port, Slot, Unit, Location FROM ") +
                    m_database.m_pszSensorsTable))
        return false;
    while (db.Fetch())
    {
        auto sensor = std::make_unique<CSensor>();
        sensor->m_strAddress = OneLineText(db.GetColumn(1));
        sensor->m_nPort = PortOf(db.GetColumn(2));
        sensor->m_nSensorNo = NumberOf(db.GetColumn(3));
        sensor->m_strUnit = OneLineText(db.GetColumn(4));
        sensor->m_strDescription = OneLineText(db.GetColumn(5));
        CSensor* record = sensor.get();
        // Refused as a duplicate, the record goes with the unique_ptr.
        if (m_document.AddSensor(sensor, false))
        {
            m_document.SetModifiedFlag();
            m_host.AddRow(record);
        }
    }
    return true;
}

bool CDatabaseStatistics::OnDatabaseStatistics()
{
    CDbAccess& db = m_database.m_db;
    const bool wasOpen = db.IsOpen();
    if (!wasOpen && !m_host.OpenDatabase())
        return false;
    m_host.SetStatusText(kStrDatabaseAccess);
    // A database that went away or did not answer in time would cost every
    // further statement the whole bound once more.
    const bool found = (ImportSensors() || !db.IsLost()) && FindSensorIds();
    if (found)
    {
        const std::string conditions[] = {"", " WHERE Reading IS NOT NULL",
                                          " WHERE Reading IS NOT NULL AND Calendar=" +
                                              SqlDate(CClock::Current().LocalNow())};
        for (int pass = 0; pass < 3 && !db.IsLost(); ++pass)
            CountReadings(conditions[pass], pass);

        for (int row = 0; row < m_host.GetRowCount(); ++row)
        {
            CSensor* record = m_host.GetRowRecord(row);
            if (record->m_nDbId < 0)
                record->m_strStatus.clear();
            else
            {
                std::array<char, 128> text{};
                std::snprintf(text.data(), text.size(), kStrReadingCounts.data(),
                              record->m_nCounts[0], record->m_nCounts[1], record->m_nCounts[2]);
                record->m_strStatus = text.data();
            }
            m_host.SetStatusCell(row, record->m_strStatus);
        }
    }

    m_host.SetStatusText(kStrReady);
    if (!wasOpen)
        db.Close();
    return found;
}

bool CDatabaseStatistics::FindSensorIds()
{
    for (const std::unique_ptr<CSensor>& sensor : m_document.m_sensors)
        sensor->m_nDbId = -1;
    CDbAccess& db = m_database.m_db;
    if (!db.Execute(std::string("SELECT SensorID, Host, Port, Slot FROM ") +
                    m_database.m_pszSensorsTable))
        return false;
    while (db.Fetch())
    {
        const int id = NumberOf(db.GetColumn(1));
        CSensor point;
        point.m_strAddress = db.GetColumn(2);
        point.m_nPort = PortOf(db.GetColumn(3));
        point.m_nSensorNo = NumberOf(db.GetColumn(4));
        // The first listed sensor of that point; a later row of the same
        // point wins over an earlier one.
        for (const std::unique_ptr<CSensor>& sensor : m_document.m_sensors)
            if (sensor->IsSamePoint(point))
            {
                sensor->m_nDbId = id;
                sensor->m_nCounts = {};
                break;
            }
    }
    return true;
}

void CDatabaseStatistics::CountReadings(const std::string& condition, int pass)
{
    CDbAccess& db = m_database.m_db;
    if (!db.Execute(std::string("SELECT SensorID, COUNT(*) FROM ") +
                    m_database.m_pszRecordingTable + condition + " GROUP BY SensorID"))
        return;
    while (db.Fetch())
    {
        const int id = NumberOf(db.GetColumn(1));
        const int count = NumberOf(db.GetColumn(2));
        for (const std::unique_ptr<CSensor>& sensor : m_document.m_sensors)
            if (sensor->m_nDbId == id)
            {
                sensor->m_nCounts[static_cast<size_t>(pass)] = count;
                break;
            }
    }
}
