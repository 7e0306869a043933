#include "export/ReadingHistory.h"

#include "db/SqlText.h"
#include "export/ExportRange.h"
#include "sensors/Clock.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <ctime>
#include <sqlext.h>

namespace
{

constexpr std::int64_t kDayMsecs = 24 * 3600 * 1000;

bool Succeeded(SQLRETURN rc)
{
    return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

// Milliseconds since 1970 of a local date and time. Rows come in order, so
// the C library is asked once per hour of rows, not once per row.
std::int64_t LocalMsecs(int year, int month, int day, int hour, int minute, int second)
{
    thread_local struct
    {
        int year = -1, month = 0, day = 0, hour = 0;
        std::int64_t start = 0;
    } cache;
    if (year != cache.year || month != cache.month || day != cache.day || hour != cache.hour)
    {
        std::tm local{};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_isdst = -1;
        cache = {year, month, day, hour, static_cast<std::int64_t>(std::mktime(&local)) * 1000};
    }
    return cache.start + (minute * 60 + second) * std::int64_t{1000};
}

std::int64_t LocalMsecs(const CivilTime& time)
{
    return LocalMsecs(time.year, time.month, time.day, time.hour, time.minute, time.second);
}

CivilTime CivilAt(std::int64_t msecs)
{
    const std::time_t seconds =
        static_cast<std::time_t>(msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

// " AND" the rows at or after ('>') or at or before ('<') a moment, which
// the reading table keeps as a date and a time of day.
std::string MomentCondition(const CivilTime& moment, char direction)
{
    const std::string date = SqlDate(moment);
    return std::string(" AND (Calendar") + direction + date + " OR (Calendar=" + date +
           " AND Clock" + direction + "=" + SqlTime(moment) + "))";
}

// The columns of a result bound to arrays, a block of rows per fetch: a
// million rows must not cost three million calls into the driver. The
// arrays belong to this object, which the read holds on to.
class CBoundRows
{
public:
    static constexpr SQLULEN kBlock = 1024;

    bool Bind(SQLHSTMT statement)
    {
        SQLSetStmtAttr(statement, SQL_ATTR_ROW_BIND_TYPE,
                       reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
        // A driver may offer smaller blocks, down to one row per fetch.
        SQLSetStmtAttr(statement, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(kBlock), 0);
        if (!Succeeded(SQLGetStmtAttr(statement, SQL_ATTR_ROW_ARRAY_SIZE, &m_nSize, 0, nullptr)) ||
            m_nSize < 1 || m_nSize > kBlock)
            m_nSize = 1;
        SQLSetStmtAttr(statement, SQL_ATTR_ROWS_FETCHED_PTR, &m_nFetched, 0);
        return Succeeded(SQLBindCol(statement, 1, SQL_C_SLONG, m_ids.data(), sizeof(SQLINTEGER),
                                    m_idIndicators.data())) &&
               Succeeded(SQLBindCol(statement, 2, SQL_C_TYPE_DATE, m_dates.data(),
                                    sizeof(SQL_DATE_STRUCT), m_dateIndicators.data())) &&
               Succeeded(SQLBindCol(statement, 3, SQL_C_TYPE_TIME, m_times.data(),
                                    sizeof(SQL_TIME_STRUCT), m_timeIndicators.data())) &&
               Succeeded(SQLBindCol(statement, 4, SQL_C_DOUBLE, m_values.data(), sizeof(double),
                                    m_valueIndicators.data()));
    }

    // Rows of the block just fetched. One row per fetch: some drivers leave
    // the count alone.
    SQLULEN Count() const { return m_nSize == 1 ? 1 : std::min(m_nFetched, m_nSize); }

    // A row without a date or a time has no place on a time axis.
    bool HasMoment(SQLULEN row) const
    {
        return m_idIndicators[row] != SQL_NULL_DATA && m_dateIndicators[row] != SQL_NULL_DATA &&
               m_timeIndicators[row] != SQL_NULL_DATA;
    }
    int SensorId(SQLULEN row) const { return m_ids[row]; }
    std::int64_t Msecs(SQLULEN row) const
    {
        const SQL_DATE_STRUCT& date = m_dates[row];
        const SQL_TIME_STRUCT& time = m_times[row];
        return LocalMsecs(date.year, date.month, date.day, time.hour, time.minute, time.second);
    }
    std::optional<double> Value(SQLULEN row) const
    {
        if (m_valueIndicators[row] == SQL_NULL_DATA)
            return std::nullopt;
        return m_values[row];
    }

private:
    SQLULEN m_nSize = 1;
    SQLULEN m_nFetched = 0;
    std::array<SQLINTEGER, kBlock> m_ids{};
    std::array<SQL_DATE_STRUCT, kBlock> m_dates{};
    std::array<SQL_TIME_STRUCT, kBlock> m_times{};
    std::array<double, kBlock> m_values{};
    std::array<SQLLEN, kBlock> m_idIndicators{};
    std::array<SQLLEN, kBlock> m_dateIndicators{};
    std::array<SQLLEN, kBlock> m_timeIndicators{};
    std::array<SQLLEN, kBlock> m_valueIndicators{};
};

} // namespace

bool CReadingHistory::CQuietUi::ReportOdbcError(const std::string& diagnostics)
{
    m_strText = diagnostics;
    return false;
}

bool CReadingHistory::CQuietUi::AskLogin(std::string& userName, std::string& password)
{
    userName = m_pSource->m_strUserName;
    password = m_pSource->m_strPassword;
    return true;
}

void CReadingHistory::CQuietUi::ShowMessage(const std::string& text)
{
    m_strText = text;
}

void CReadingHistory::CQuietUi::ChooseDriver(const std::vector<std::string>&, std::string& driver,
                                             bool&)
{
    driver.clear();
}

bool CReadingHistory::CQuietUi::EditDriverSettings(
    const std::string&, std::string&, std::vector<std::pair<std::string, std::string>>&)
{
    return false;
}

CReadingHistory::CReadingHistory(CHistorySource source, std::vector<CHistoryLine> lines)
    : m_source(std::move(source)), m_lines(std::move(lines))
{
    m_ui.m_pSource = &m_source;
}

bool CReadingHistory::Open()
{
    if (m_database.m_db.IsOpen())
        return true;
    m_database.m_strDataSource = m_source.m_strDataSource;
    m_database.m_bQuickConnect = m_source.m_bQuickConnect;
    m_database.m_strUserName = m_source.m_strUserName;
    m_database.m_strPassword = m_source.m_strPassword;
    m_database.m_db.SetTimeout(m_source.m_nTimeout);
    return m_database.OpenDatabase(false);
}

bool CReadingHistory::FindSensorIds()
{
    CDbAccess& db = m_database.m_db;
    for (CHistoryLine& line : m_lines)
    {
        if (line.m_nSensorId >= 0)
            continue;
        // The point as recording registers it.
        if (!db.Execute(std::string("SELECT SensorID FROM ") + m_database.m_pszSensorsTable +
                        " WHERE Host=" + SqlQuote(line.m_strHost) + " AND Port=" +
                        std::to_string(line.m_nPort) + " AND Slot=" + std::to_string(line.m_nSlot)))
            return false;
        if (db.Fetch())
            line.m_nSensorId = static_cast<int>(std::atol(db.GetColumn(1).c_str()));
        db.CloseCursor();
    }
    return true;
}

std::vector<int>
CReadingHistory::SensorIds(const std::function<bool(const CHistoryLine&)>& wanted) const
{
    std::vector<int> ids;
    for (const CHistoryLine& line : m_lines)
        if (line.m_nSensorId >= 0 && wanted(line) &&
            std::find(ids.begin(), ids.end(), line.m_nSensorId) == ids.end())
            ids.push_back(line.m_nSensorId);
    return ids;
}

bool CReadingHistory::ReadRows(const std::vector<int>& ids, const std::string& condition,
                               const RowHandler& handle)
{
    if (ids.empty())
        return true;
    std::string list;
    for (const int id : ids)
        list += (list.empty() ? "" : ", ") + std::to_string(id);
    CDbAccess& db = m_database.m_db;
    if (!db.Execute(std::string("SELECT SensorID, Calendar, Clock, Reading FROM ") +
                    m_database.m_pszRecordingTable + " WHERE SensorID IN (" + list + ")" +
                    condition + " ORDER BY SensorID, Calendar, Clock"))
        return false;

    const auto rows = std::make_shared<CBoundRows>();
    const bool read = db.ReadRows(
        [&, rows](SQLHSTMT)
        {
            for (SQLULEN row = 0; row < rows->Count(); ++row)
                if (rows->HasMoment(row))
                    handle(rows->SensorId(row), rows->Msecs(row), rows->Value(row));
            return !m_bCancelled;
        },
        [rows](SQLHSTMT statement) { return rows->Bind(statement); });
    return read && !m_bCancelled;
}

void CReadingHistory::AddRow(int sensorId, std::int64_t msecs, std::optional<double> value,
                             bool checkRecent)
{
    const std::int64_t second = msecs >= 0 ? msecs / 1000 : (msecs - 999) / 1000;
    for (CHistoryLine& line : m_lines)
    {
        if (line.m_nSensorId != sensorId)
            continue;
        const std::optional<std::int64_t> newest = line.m_readings.Newest();
        if (checkRecent &&
            ((newest && msecs < *newest - kLateMsecs) || line.m_recent.count(second) > 0))
            continue;
        line.m_readings.Add(msecs, value);
        line.m_recent.insert(second);
        // Only the last stretch is asked for again; older seconds can go.
        if (line.m_recent.size() > 512)
            line.m_recent.erase(
                line.m_recent.begin(),
                line.m_recent.lower_bound((*line.m_readings.Newest() - kLateMsecs) / 1000));
    }
}

bool CReadingHistory::Load(int days, int columns)
{
    m_ui.m_strText.clear();
    m_nDays = days;
    const CivilTime now = CClock::Current().LocalNow();
    const std::int64_t nowMsecs = LocalMsecs(now);
    std::optional<std::int64_t> start;
    // The first day of the range starts at its midnight; a range reaching
    // back before the calendar's start takes every reading.
    const std::optional<CivilTime> excluded =
        days > 0 ? ExportRangeStart(now, days) : std::optional<CivilTime>();
    if (excluded)
        start = LocalMsecs(excluded->year, excluded->month, excluded->day + 1, 0, 0, 0);
    // Twice the columns, so that they grow wider only when the range has
    // doubled while the window is open.
    const std::int64_t width =
        start ? std::max<std::int64_t>((nowMsecs - *start) / std::max(columns, 1), 1000) : 1000;
    for (CHistoryLine& line : m_lines)
    {
        line.m_readings = CReadingReduction(2 * columns, start, width);
        line.m_recent.clear();
    }
    m_detail.clear();

    const bool read = Open() && FindSensorIds() &&
                      ReadRows(SensorIds([](const CHistoryLine&) { return true; }),
                               ExportRangeCondition(now, days),
                               [this](int id, std::int64_t msecs, std::optional<double> value)
                               { AddRow(id, msecs, value, false); });

    std::optional<std::int64_t> oldest;
    for (const CHistoryLine& line : m_lines)
        if (const auto first = line.m_readings.Oldest())
            oldest = std::min(oldest.value_or(*first), *first);
    m_nRangeStart = start.value_or(oldest.value_or(nowMsecs - kDayMsecs));
    m_nRangeEnd = nowMsecs;
    for (const CHistoryLine& line : m_lines)
        m_nRangeEnd = std::max(m_nRangeEnd, line.m_readings.Newest().value_or(nowMsecs));
    return read;
}

bool CReadingHistory::Update()
{
    m_ui.m_strText.clear();
    const CivilTime now = CClock::Current().LocalNow();
    if (!Open() || !FindSensorIds())
        return false;
    const std::string range = ExportRangeCondition(now, m_nDays);

    // Points without rows so far are read whole; the others from shortly
    // before their newest row, for the rows that came late.
    std::optional<std::int64_t> since;
    for (const CHistoryLine& line : m_lines)
        if (const auto newest = line.m_readings.Newest(); newest && line.m_nSensorId >= 0)
            since = std::min(since.value_or(*newest - kLateMsecs), *newest - kLateMsecs);
    const auto hasRows = [](const CHistoryLine& line) { return line.m_readings.Rows() > 0; };
    const auto add = [this](int id, std::int64_t msecs, std::optional<double> value)
    { AddRow(id, msecs, value, true); };
    const std::vector<int> fresh =
        SensorIds([&](const CHistoryLine& line) { return !hasRows(line); });
    const std::vector<int> known = SensorIds(hasRows);
    const bool read =
        ReadRows(fresh, range, add) &&
        (!since || ReadRows(known, range + MomentCondition(CivilAt(*since), '>'), add));

    for (const CHistoryLine& line : m_lines)
    {
        if (m_nDays <= 0)
            if (const auto first = line.m_readings.Oldest())
                m_nRangeStart = std::min(m_nRangeStart, *first);
        m_nRangeEnd = std::max(
            {m_nRangeEnd, LocalMsecs(now), line.m_readings.Newest().value_or(m_nRangeEnd)});
    }
    return read;
}

bool CReadingHistory::LoadDetail(std::int64_t from, std::int64_t to, int columns)
{
    m_ui.m_strText.clear();
    m_detail.assign(m_lines.size(), CReadingReduction(columns, from,
                                                      std::max<std::int64_t>(
                                                          (to - from) / std::max(columns, 1), 1)));
    return Open() &&
           ReadRows(SensorIds([](const CHistoryLine&) { return true; }),
                    ExportRangeCondition(CClock::Current().LocalNow(), m_nDays) +
                        MomentCondition(CivilAt(from), '>') + MomentCondition(CivilAt(to), '<'),
                    [this](int id, std::int64_t msecs, std::optional<double> value)
                    {
                        for (size_t i = 0; i < m_lines.size(); ++i)
                            if (m_lines[i].m_nSensorId == id)
                                m_detail[i].Add(msecs, value);
                    });
}
