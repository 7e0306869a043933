#include "recording/RecordingTestSupport.h"

#include "net/SensorChannel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

void UseHalfHourTimeZone()
{
    setenv("TZ", "IST-5:30", 1);
    tzset();
}

std::chrono::system_clock::time_point Utc(int hour, int minute, int second, int millisecond)
{
    using namespace std::chrono;
    return sys_days(year(2026) / March / 7) + hours(hour) + minutes(minute) + seconds(second) +
           milliseconds(millisecond);
}

CSensor& TestRecordingView::Add(const std::string& host, std::uint16_t port, int slot, int interval,
                                bool disabled, const std::string& unit)
{
    auto record = std::make_unique<CSensor>(MakeSensor(host, port, slot, unit));
    record->m_nInterval = interval;
    record->m_bDisabled = disabled;
    CSensor& added = *record;
    if (!m_document.AddSensor(record, true))
        throw std::logic_error("the document refused a sensor");
    return added;
}

void TestRecordingView::SetStatusText(int stringId, int)
{
    m_statusTexts.push_back(stringId);
    if (stringId == 331)
        m_busyTimes.push_back(CClock::Current().UtcNow());
    if (m_onStatusText)
        m_onStatusText(stringId);
}

void TestRecordingView::OnRowStored(const CReading& row)
{
    m_rows.emplace_back(row.m_nSensorId, row.m_strValue == kNullValue
                                             ? std::nullopt
                                             : std::optional<float>(std::stof(row.m_strValue)));
}

void TestRecordingView::RefreshStatusColumn()
{
    ++m_nRefreshes;
    for (const std::unique_ptr<CSensor>& record : m_document.m_sensors)
        record->m_strStatus =
            record->m_pChannel != nullptr ? record->m_pChannel->GetStatusText() : std::string();
}

void TestRecordingView::ClearStatusColumn()
{
    ++m_nClears;
    for (const std::unique_ptr<CSensor>& record : m_document.m_sensors)
        record->m_strStatus.clear();
}

void TestRecordingView::UpdateStatusCell(CSensor& record)
{
    ++m_nCellWrites;
    record.m_strStatus = record.m_pChannel->GetStatusText();
}

std::vector<StoredRow> ReadRecording(const std::string& dsn)
{
    RawOdbc raw("DSN=" + dsn);
    std::vector<StoredRow> rows;
    for (const RawOdbc::Row& row : raw.Query("SELECT SensorID, Clock, Reading FROM Recording"))
    {
        StoredRow stored;
        stored.sensorId = std::stoi(row.at(0).value());
        stored.clock = row.at(1).value();
        if (row.at(2))
            stored.reading = std::stod(*row.at(2));
        rows.push_back(stored);
    }
    return rows;
}

std::vector<std::string> MinutesOf(const std::vector<StoredRow>& rows, int sensorId)
{
    std::vector<std::string> minutes;
    for (const StoredRow& row : rows)
        if (row.sensorId == sensorId)
            minutes.push_back(row.clock.substr(0, 5));
    std::sort(minutes.begin(), minutes.end());
    return minutes;
}

int SensorIdOf(const std::string& dsn, const std::string& host, int slot)
{
    RawOdbc raw("DSN=" + dsn);
    const auto rows = raw.Query("SELECT SensorID FROM Sensors WHERE Host='" + host +
                                "' AND Slot=" + std::to_string(slot));
    if (rows.size() != 1)
        throw std::runtime_error("no single sensor row for " + host);
    return std::stoi(rows[0].at(0).value());
}

std::string LocalMinute(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm fields{};
    localtime_r(&seconds, &fields);
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", fields.tm_hour, fields.tm_min);
    return text;
}

std::chrono::system_clock::time_point ScaledClock::UtcNow() const
{
    const auto elapsed = std::chrono::steady_clock::now() - m_start;
    return m_origin +
           std::chrono::duration_cast<std::chrono::system_clock::duration>(elapsed) * m_nScale;
}
