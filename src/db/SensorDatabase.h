#pragma once

#include "db/DbAccess.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

class CSensor;
class IDbUserInterface;

// Why a measuring point has no SensorID: a text that does not fit its
// column of the sensor table (or holds a NUL, which no statement can carry),
// or a statement that failed.
struct CRegistrationFailure
{
    enum class Kind
    {
        TooLong,
        ControlCharacter,
        Statement,
    };
    enum class Field
    {
        None,
        Host,
        Unit,
        Location,
    };
    Kind m_kind = Kind::Statement;
    Field m_field = Field::None;
    std::size_t m_nLimit = 0; // characters, for TooLong
    std::string m_strText;    // the database's text, for Statement
};

// The column sizes of the sensor table, in characters.
inline constexpr std::size_t kHostLength = 64;
inline constexpr std::size_t kUnitLength = 32;
inline constexpr std::size_t kLocationLength = 80;

// The first text of the point that the sensor table cannot hold as it is.
std::optional<CRegistrationFailure> CheckSensorTexts(const CSensor& sensor);

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
    // -1 when a text does not fit or a statement failed, and then
    // LastRegistrationFailure() says which. The check and the numbering run
    // in one transaction that the database serialises, so that recorders
    // registering at the same moment never share or double a number.
    int RegisterSensor(const CSensor& sensor);
    const std::optional<CRegistrationFailure>& LastRegistrationFailure() const
    {
        return m_registrationFailure;
    }
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
    bool FindTables(bool& sensorsFound, bool& recordingFound);
    bool CreateMissingTables();
    bool InsertReading(const std::string& reading, int sensorId);
    // One attempt in one transaction: the SensorID, -1 on failure.
    int RegisterInTransaction(const CSensor& sensor);
    bool BeginRegistration();
    // True when committed as asked.
    bool EndRegistration(bool commit);

    IDbUserInterface& m_ui;
    std::vector<std::string> m_createdTables;
    std::string m_strDbmsName;
    std::optional<CRegistrationFailure> m_registrationFailure;
};
