#pragma once

#include "db/DbUserInterface.h"
#include "db/SensorDatabase.h"
#include "export/ReadingReduction.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

// The data source as the desktop has it open, copied, so that the chart
// reads over a connection of its own, on a thread of its own, while
// recording goes on over the program's connection.
struct CHistorySource
{
    std::string m_strDataSource;
    bool m_bQuickConnect = true;
    std::string m_strUserName;
    std::string m_strPassword;
    int m_nTimeout = CDbAccess::kDefaultTimeout;
};

// One line of the chart: a measuring point and its readings.
struct CHistoryLine
{
    CHistoryLine(std::string host, int port, int slot)
        : m_strHost(std::move(host)), m_nPort(port), m_nSlot(slot)
    {
    }

    std::string m_strHost;
    int m_nPort = 0;
    int m_nSlot = 0;
    // -1 while the point has no row in the sensor table (nothing recorded).
    int m_nSensorId = -1;
    CReadingReduction m_readings;
    // Seconds of the rows shortly before the newest, so that a row stored
    // late is told from one already shown.
    std::set<std::int64_t> m_recent;
};

// Reads the stored readings of a few sensors for a chart: all of a range
// (the last N days, by the series export's rule), then after each minute
// only the rows that are new, and in detail the rows of a span the user
// zoomed into. Rows are reduced as they are read, so memory stays the same
// for any number of rows. Not thread-safe: one caller at a time, which may
// be any thread; only Cancel may be called from another.
class CReadingHistory
{
public:
    // How far before the newest row shown a row may still arrive late.
    static constexpr std::int64_t kLateMsecs = 3600 * 1000;

    CReadingHistory(CHistorySource source, std::vector<CHistoryLine> lines);

    // The readings of today and the days - 1 before, or every reading for
    // days <= 0, reduced to about columns points per line. Replaces what
    // was read before. False when the database failed; ErrorText says why.
    bool Load(int days, int columns);
    // Adds the rows stored since the last Load or Update.
    bool Update();
    // The rows between from and to (milliseconds since 1970) in lines of
    // their own, reduced to about columns points each.
    bool LoadDetail(std::int64_t from, std::int64_t to, int columns);

    const std::vector<CHistoryLine>& Lines() const { return m_lines; }
    // One per line after LoadDetail; empty before.
    const std::vector<CReadingReduction>& Detail() const { return m_detail; }
    // The span of the whole range: its first day's midnight (or the oldest
    // row) to now, or the newest row when that is later.
    std::int64_t RangeStart() const { return m_nRangeStart; }
    std::int64_t RangeEnd() const { return m_nRangeEnd; }
    const std::string& ErrorText() const { return m_ui.m_strText; }

    // Ends a running read at the next block of rows; it then fails.
    void Cancel() { m_bCancelled = true; }

private:
    // Nobody to ask: the copied credentials are the answer, and every
    // report is kept for the window to show.
    class CQuietUi : public IDbUserInterface
    {
    public:
        bool ReportOdbcError(const std::string& diagnostics) override;
        bool AskLogin(std::string& userName, std::string& password) override;
        void ShowMessage(const std::string& text) override;
        void ChooseDriver(const std::vector<std::string>&, std::string& driver, bool&) override;
        bool EditDriverSettings(const std::string&, std::string&,
                                std::vector<std::pair<std::string, std::string>>&) override;

        CHistorySource* m_pSource = nullptr;
        std::string m_strText;
    };

    using RowHandler =
        std::function<void(int sensorId, std::int64_t msecs, std::optional<double> value)>;

    bool Open();
    bool FindSensorIds();
    // The sensor ids of the wanted lines that have one, each once.
    std::vector<int> SensorIds(const std::function<bool(const CHistoryLine&)>& wanted) const;
    // Rows of the sensors in ids that meet condition, by sensor and time.
    bool ReadRows(const std::vector<int>& ids, const std::string& condition,
                  const RowHandler& handle);
    // Adds a row to every line of that sensor; with checkRecent only where
    // the line does not hold it yet and it is not too late to show.
    void AddRow(int sensorId, std::int64_t msecs, std::optional<double> value, bool checkRecent);

    CHistorySource m_source;
    CQuietUi m_ui;
    CSensorDatabase m_database{m_ui};
    std::vector<CHistoryLine> m_lines;
    std::vector<CReadingReduction> m_detail;
    int m_nDays = 0;
    std::int64_t m_nRangeStart = 0;
    std::int64_t m_nRangeEnd = 0;
    std::atomic<bool> m_bCancelled{false};
};
