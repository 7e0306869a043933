#pragma once

#include <string>

class CExportInputs;
class CSensor;
class CSensorDatabase;
class IExportHost;

// Writes the stored readings of one sensor as tab-separated text: every
// reading (a series) or one line per day with maximum, average, minimum and
// count (a summary). Lines end in CR LF; numbers always have a point.
class CSensorExport
{
public:
    explicit CSensorExport(CSensorDatabase& database) : m_database(database) {}

    // The whole command: opens the database if it is closed (and closes it
    // again), registers the sensor, asks for the file, which must be none
    // of its inputs (the configuration file and an embedded database file),
    // writes it and its workbook and hands them on. True when the file was
    // written.
    bool Export(const CSensor& sensor, bool summary, IExportHost& host);

    // days > 0: only the readings of today and the days - 1 before.
    bool WriteSeriesFile(int sensorId, const std::string& path, int days);
    bool WriteSummaryFile(int sensorId, const std::string& path);

    // Why the last write returned false; empty when the database said why.
    const std::string& ErrorText() const { return m_strError; }

private:
    // Asks until the file is none of the inputs; false when cancelled.
    bool AskExportFile(IExportHost& host, const CExportInputs& inputs, std::string& path,
                       int* range);
    CSensorDatabase& m_database;
    std::string m_strError;
};
