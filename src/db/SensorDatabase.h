#pragma once

#include "db/DbAccess.h"

#include <string>
#include <vector>

class CSensor;
class IDbUserInterface;

// The data source behind recording and export: opening it with its two
// tables, registering measuring points and storing readings. The desktop's
// view and the command line keep thin entry points onto one of these.
class CSensorDatabase
{
public:
    explicit CSensorDatabase(IDbUserInterface& ui);

    // Opens m_strDataSource, which the caller refreshes first, and creates
    // whichever table is missing. With mayCreate an undefined data source may
    // be set up through the user; m_strDataSource then holds the name
    // actually created.
    bool OpenDatabase(bool mayCreate);
    // The tables that the last OpenDatabase had to create, in that order.
    const std::vector<std::string>& CreatedTables() const { return m_createdTables; }

    // The SensorID of the sensor's measuring point, registered on first use;
    // -1 when a statement failed.
    int RegisterSensor(const CSensor& sensor);
    bool StoreReading(int sensorId, float value);
    bool StoreMissingReading(int sensorId);

    CDbAccess m_db;
    const char* m_pszSensorsTable = "Sensors";
    const char* m_pszRecordingTable = "Recording";
    bool m_bQuickConnect = true;
    std::string m_strDataSource;
    std::string m_strUserName;
    std::string m_strPassword; // this run only, never stored

private:
    bool Connect();
    bool CreateMissingTables();
    bool InsertReading(const std::string& reading, int sensorId);

    IDbUserInterface& m_ui;
    std::vector<std::string> m_createdTables;
};
