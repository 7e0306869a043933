#pragma once

#include "db/DbTestSupport.h"
#include "recording/Recorder.h"
#include "recording/RecordingView.h"
#include "sensors/OrbelDoc.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Minutes of 3 s: the clock runs twenty times faster, and so do the ticks
// that drive the devices' polling.
inline constexpr int kScale = 20;
inline constexpr CRecordingPace kPace{100 / kScale, 60000 / kScale};

// Half an hour east of UTC, so that minutes taken from local time instead of
// UTC (or the other way round) show up as a different minute.
void UseHalfHourTimeZone();

std::chrono::system_clock::time_point Utc(int hour, int minute, int second, int millisecond = 0);

// The front end as the scheduler sees it: keeps what was shown. A record's
// m_strStatus stands for its Status cell.
class TestRecordingView : public IRecordingView
{
public:
    explicit TestRecordingView(CSensorDatabase& database) : m_database(database) {}

    CSensor& Add(const std::string& host, std::uint16_t port, int slot, int interval,
                 bool disabled = false, const std::string& unit = "°C");

    SensorList& Sensors() override { return m_document.m_sensors; }
    bool OpenDatabase() override { return m_database.OpenDatabase(true); }
    void SetStatusText(int stringId, int argument) override;
    void RefreshStatusColumn() override;
    void ClearStatusColumn() override;
    void UpdateStatusCell(CSensor& record) override;
    void SetListColour(std::uint32_t colour) override { m_colours.push_back(colour); }
    bool IsMinimized() const override { return m_bMinimized; }
    void OnRowStored(const CReading& row) override;
    void OnRowsBuffered(const std::vector<CReading>& rows) override
    {
        m_buffered.insert(m_buffered.end(), rows.begin(), rows.end());
    }
    void OnRowsReplayed(std::size_t count) override { m_replayed.push_back(count); }
    void OnRowsDropped(std::size_t) override {}
    void ReportUnrecorded(const std::vector<CUnrecordedPoint>& points) override
    {
        m_unrecorded.insert(m_unrecorded.end(), points.begin(), points.end());
    }
    bool StopRequested() const override { return m_bStopRequested; }

    COrbelDoc m_document;
    bool m_bMinimized = false;
    bool m_bStopRequested = false;
    // Runs inside SetStatusText, where the desktop draws the status bar.
    std::function<void(int stringId)> m_onStatusText;
    std::vector<int> m_statusTexts;
    // The clock's time at each "Datenbankzugriff...": the minute ticks.
    std::vector<std::chrono::system_clock::time_point> m_busyTimes;
    std::vector<std::uint32_t> m_colours;
    int m_nRefreshes = 0;
    int m_nClears = 0;
    int m_nCellWrites = 0;
    std::vector<std::pair<int, std::optional<float>>> m_rows;
    std::vector<CReading> m_buffered;
    std::vector<std::size_t> m_replayed;
    std::vector<CUnrecordedPoint> m_unrecorded;

private:
    CSensorDatabase& m_database;
};

// One row of the reading table; the time as "hh:mm:ss".
struct StoredRow
{
    int sensorId = 0;
    std::string clock;
    std::optional<double> reading;
};

std::vector<StoredRow> ReadRecording(const std::string& dsn);
using Minutes = std::vector<std::string>;
// Local "hh:mm" of every row of one sensor, in order.
std::vector<std::string> MinutesOf(const std::vector<StoredRow>& rows, int sensorId);
int SensorIdOf(const std::string& dsn, const std::string& host, int slot);

// Local "hh:mm" of a moment.
std::string LocalMinute(std::chrono::system_clock::time_point time);

// Runs `scale` times faster than the real clock, from `origin` on; installed
// while it lives.
class ScaledClock : public CClock
{
public:
    ScaledClock(std::chrono::system_clock::time_point origin, int scale)
        : m_origin(origin), m_start(std::chrono::steady_clock::now()), m_nScale(scale)
    {
        Install(this);
    }
    ~ScaledClock() override { Install(nullptr); }
    std::chrono::system_clock::time_point UtcNow() const override;

private:
    std::chrono::system_clock::time_point m_origin;
    std::chrono::steady_clock::time_point m_start;
    int m_nScale;
};
