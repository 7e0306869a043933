#pragma once

#include <string>
#include <string_view>

class COrbelDoc;
class CSensorDatabase;
class ISensorListHost;

// String 332: the Status text of a sensor after the statistics.
inline constexpr std::string_view kStrReadingCounts = "%d Werte, %d gültig, %d von heute";

// Reads the database without writing to it: adds the sensors registered
// there to the document, and counts each listed sensor's readings. Both use
// an open connection as they find it, or open one and close it again.
class CDatabaseStatistics
{
public:
    CDatabaseStatistics(CSensorDatabase& database, COrbelDoc& document, ISensorListHost& host)
        : m_database(database), m_document(document), m_host(host)
    {
    }

    // Every sensor of the sensor table that the document does not hold yet
    // (same address ignoring letter case, port and sensor number) becomes a
    // new, selected row; the rows selected before are deselected. False when
    // the database could not be opened or read.
    bool OnImportSensors();
    // The import, then per row "n Werte, n gültig, n von heute": all readings,
    // those with a value, and those with a value from today; an empty Status
    // for a sensor the database does not know. False when the database could
    // not be opened or its sensors not be read (the Status column is then
    // left alone).
    bool OnDatabaseStatistics();

private:
    bool ImportSensors();
    bool FindSensorIds();
    void CountReadings(const std::string& condition, int pass);

    CSensorDatabase& m_database;
    COrbelDoc& m_document;
    ISensorListHost& m_host;
};
