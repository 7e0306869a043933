#include "export/SensorExport.h"

#include "db/DataSource.h"
#include "db/SensorDatabase.h"
#include "db/StatusTextIds.h"
#include "export/ExportHost.h"
#include "export/ExportInputs.h"
#include "export/ExportRange.h"
#include "export/ExportWorkbook.h"
#include "sensors/Clock.h"
#include "sensors/Sensor.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sqlext.h>

namespace
{

bool Succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// The export file, written through a buffer of its own: the rows of a long
// series are small, and the file is checked once for a failed write.
class CExportFile
{
public:
    bool Create(const std::string& path, std::string& errorText)
    {
        // Binary, so that the CR LF line ends are written exactly as given.
        m_file.reset(std::fopen(path.c_str(), "wb"));
        if (!m_file)
        {
            errorText = path + ": " + std::strerror(errno);
            return false;
        }
        m_strPath = path;
        m_buffer.reserve(kFlushSize + 256);
        return true;
    }

    std::string& Buffer() { return m_buffer; }

    void FlushIfFull()
    {
        if (m_buffer.size() >= kFlushSize)
            Flush();
    }

    // False when any write failed; errorText then says why.
    bool Close(std::string& errorText)
    {
        Flush();
        const int error = m_nError ? m_nError : (std::fclose(m_file.release()) != 0 ? errno : 0);
        if (error == 0)
            return true;
        errorText = m_strPath + ": " + std::strerror(error);
        return false;
    }

private:
    static constexpr size_t kFlushSize = 1 << 20;

    struct Closer
    {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    void Flush()
    {
        if (!m_buffer.empty() && m_nError == 0 &&
            std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file.get()) != m_buffer.size())
            m_nError = errno ? errno : EIO;
        m_buffer.clear();
    }

    std::unique_ptr<std::FILE, Closer> m_file;
    std::string m_strPath;
    std::string m_buffer;
    int m_nError = 0;
};

// "%d", then "%02d" for the rest, as printf would write them.
void AppendNumber(std::string& out, long value, int minDigits = 1)
{
    std::array<char, 24> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value);
    const auto length = static_cast<int>(result.ptr - digits.data());
    // As printf pads: the width counts the sign, the zeros follow it.
    const int sign = value < 0 ? 1 : 0;
    if (sign)
        out += '-';
    for (int pad = length; pad < minDigits; ++pad)
        out += '0';
    out.append(digits.data() + sign, result.ptr);
}

void AppendDate(std::string& out, const SQL_DATE_STRUCT& date)
{
    AppendNumber(out, date.year);
    out += '-';
    AppendNumber(out, date.month, 2);
    out += '-';
    AppendNumber(out, date.day, 2);
}

void AppendTime(std::string& out, const SQL_TIME_STRUCT& time)
{
    AppendNumber(out, time.hour, 2);
    out += ':';
    AppendNumber(out, time.minute, 2);
    out += ':';
    AppendNumber(out, time.second, 2);
}

// "%.3f" without regard to the process locale, which the desktop takes from
// the user and which may ask for a decimal comma.
void AppendReading(std::string& out, float value)
{
    std::array<char, 400> digits{};
    const auto result = std::to_chars(digits.data(), digits.data() + digits.size(),
                                      static_cast<double>(value), std::chars_format::fixed, 3);
    out.append(digits.data(), result.ptr);
}

// One column of the current row in its native C type; false when the driver
// could not deliver it. indicator is SQL_NULL_DATA for NULL.
template <typename T>
bool ReadColumn(SQLHSTMT statement, int column, SQLSMALLINT cType, T& value, SQLLEN& indicator)
{
    value = T{};
    indicator = 0;
    return Succeeded(SQLGetData(statement, static_cast<SQLUSMALLINT>(column), cType, &value,
                                sizeof value, &indicator));
}

// The opening both files share: the file, then the header line that
// writeHeader makes of the sensor's columns, when the sensor table has its
// row.
template <typename HeaderWriter>
bool BeginFile(CExportFile& file, CSensorDatabase& database, const std::string& path, int sensorId,
               const char* columns, HeaderWriter writeHeader, std::string& errorText)
{
    errorText.clear();
    if (!file.Create(path, errorText))
        return false;
    CDbAccess& db = database.m_db;
    if (db.Execute(std::string("SELECT ") + columns + " FROM " + database.m_pszSensorsTable +
                   " WHERE SensorID=" + std::to_string(sensorId)) &&
        db.Fetch())
    {
        writeHeader(db, file.Buffer());
        file.Buffer() += "\r\n";
    }
    db.CloseCursor();
    return true;
}

// Runs the query and writes each row; false when the query, a fetch or a
// read fails, or the file cannot be written.
template <typename RowWriter>
bool WriteRows(CDbAccess& db, CExportFile& file, const std::string& query, RowWriter writeRow,
               std::string& errorText)
{
    // A row that cannot be read ends the file there, and says so, rather
    // than leaving a gap nobody would notice.
    const bool read = db.Execute(query) && db.ReadRows(
                                               [&](SQLHSTMT statement)
                                               {
                                                   file.FlushIfFull();
                                                   return writeRow(statement);
                                               });
    if (!read)
    {
        // The database has told the user why; the header line stays.
        std::string ignored;
        file.Close(ignored);
        return false;
    }
    return file.Close(errorText);
}

} // namespace

bool CSensorExport::Export(const CSensor& sensor, bool summary, IExportHost& host)
{
    CDbAccess& db = m_database.m_db;
    const bool wasOpen = db.IsOpen();
    if (!wasOpen && !host.OpenDatabase())
        return false;

    bool written = false;
    // Registering brings unit and description up to date, so the header
    // line shows the configuration's current texts.
    const int sensorId = m_database.RegisterSensor(sensor);
    CExportInputs inputs;
    inputs.Add(host.ConfigurationFile(), "die Konfigurationsdatei der Sensoren");
    inputs.Add(DataSourceDatabaseFile(m_database.m_strDataSource),
               "die Datenbankdatei der Datenquelle „" + m_database.m_strDataSource + "“");
    std::string path;
    int range = 0;
    if (sensorId >= 0 && AskExportFile(host, inputs, path, summary ? nullptr : &range))
    {
        // Decided before the export file is written, which the workbook of
        // an earlier export is recognised by.
        const CWorkbookTarget target = CExportWorkbook::ChooseTarget(
            path, inputs,
            [&host](const std::string& existing) { return host.MayReplaceWorkbook(existing); });
        host.SetStatusText(kStrDatabaseAccess);
        written =
            summary ? WriteSummaryFile(sensorId, path) : WriteSeriesFile(sensorId, path, range);
        host.SetStatusText(kStrReady);
        if (written)
        {
            CExportWorkbook workbook;
            workbook.Write(path, summary, target);
            host.OpenInSpreadsheet(path, workbook);
        }
    }
    if (!wasOpen)
        db.Close();
    return written;
}

bool CSensorExport::AskExportFile(IExportHost& host, const CExportInputs& inputs, std::string& path,
                                  int* range)
{
    m_strError.clear();
    while (host.AskExportFile(path, range))
    {
        m_strError = inputs.Refusal(path);
        if (m_strError.empty())
            return true;
        if (!host.RefuseExportFile(m_strError))
            return false;
    }
    m_strError.clear();
    return false;
}

bool CSensorExport::WriteSeriesFile(int sensorId, const std::string& path, int days)
{
    CExportFile file;
    if (!BeginFile(
            file, m_database, path, sensorId, "Location, Unit, Host, Port, Slot",
            [](CDbAccess& db, std::string& out)
            {
                for (int column = 1; column <= 5; ++column)
                {
                    if (column > 1)
                        out += '\t';
                    out += db.GetColumn(column);
                }
            },
            m_strError))
        return false;
    const std::string id = std::to_string(sensorId);
    std::string& out = file.Buffer();

    std::string query = std::string("SELECT Calendar, Clock, Reading FROM ") +
                        m_database.m_pszRecordingTable + " WHERE SensorID=" + id;
    if (days > 0)
        query += ExportRangeCondition(CClock::Current().LocalNow(), days);
    query += " ORDER BY Calendar, Clock";

    return WriteRows(
        m_database.m_db, file, query,
        [&out](SQLHSTMT statement)
        {
            SQL_DATE_STRUCT date;
            SQL_TIME_STRUCT time;
            float reading;
            SQLLEN dateIndicator, timeIndicator, readingIndicator;
            if (!ReadColumn(statement, 1, SQL_C_TYPE_DATE, date, dateIndicator) ||
                !ReadColumn(statement, 2, SQL_C_TYPE_TIME, time, timeIndicator) ||
                !ReadColumn(statement, 3, SQL_C_FLOAT, reading, readingIndicator))
                return false;
            // A row without a date or a time gets an empty field rather than an
            // invented moment.
            if (dateIndicator != SQL_NULL_DATA && timeIndicator != SQL_NULL_DATA)
            {
                AppendDate(out, date);
                out += ' ';
                AppendTime(out, time);
            }
            out += '\t';
            if (readingIndicator > 0)
                AppendReading(out, reading);
            out += "\r\n";
            return true;
        },
        m_strError);
}

bool CSensorExport::WriteSummaryFile(int sensorId, const std::string& path)
{
    CExportFile file;
    if (!BeginFile(
            file, m_database, path, sensorId, "Location, Unit",
            [](CDbAccess& db, std::string& out)
            { out += db.GetColumn(1) + "\tMax\tAvg\tMin " + db.GetColumn(2) + "\tValues"; },
            m_strError))
        return false;
    const std::string id = std::to_string(sensorId);
    std::string& out = file.Buffer();

    const std::string query =
        std::string("SELECT Calendar, MAX( Reading ), AVG( Reading ), MIN( Reading ), COUNT( * ) "
                    "FROM ") +
        m_database.m_pszRecordingTable + " WHERE SensorID=" + id +
        " AND Reading IS NOT NULL GROUP BY Calendar ORDER BY Calendar";

    return WriteRows(
        m_database.m_db, file, query,
        [&out](SQLHSTMT statement)
        {
            SQL_DATE_STRUCT date;
            std::array<float, 3> values;
            SQLINTEGER count;
            SQLLEN dateIndicator, indicator;
            if (!ReadColumn(statement, 1, SQL_C_TYPE_DATE, date, dateIndicator) ||
                !ReadColumn(statement, 2, SQL_C_FLOAT, values[0], indicator) ||
                !ReadColumn(statement, 3, SQL_C_FLOAT, values[1], indicator) ||
                !ReadColumn(statement, 4, SQL_C_FLOAT, values[2], indicator) ||
                !ReadColumn(statement, 5, SQL_C_SLONG, count, indicator))
                return false;
            if (dateIndicator != SQL_NULL_DATA)
                AppendDate(out, date);
            for (const float value : values)
            {
                out += '\t';
                AppendReading(out, value);
            }
            out += '\t';
            AppendNumber(out, count);
            out += "\r\n";
            return true;
        },
        m_strError);
}
