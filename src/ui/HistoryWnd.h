#pragma once

#include "export/ReadingHistory.h"

#include <QFutureWatcher>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class COrbelView;
class CSensor;
class QChart;
class QChartView;
class QCheckBox;
class QDateTimeAxis;
class QLabel;
class QSpinBox;
class QXYSeries;

// "Verlauf - <description>": the stored readings of up to eight sensors as
// lines over local time, one y axis per unit, a missing reading as a gap.
// The rows are read on a thread of their own, so the window and recording
// go on meanwhile; the last N days (the export's range rule and stored
// default), then each minute and after rows were stored only the new rows.
// The mouse wheel and a dragged frame zoom in, and the rows of the span
// zoomed into are then read in detail.
class CHistoryWnd : public QWidget
{
public:
    static constexpr int kMaxSensors = 8;

    // The selected rows' sensors in a new window; nothing when the data
    // source cannot be opened (the opening says why).
    static CHistoryWnd* Open(COrbelView& view);

    // range: as the export keeps it (N > 0 the last N days, else all with
    // -N offered).
    CHistoryWnd(QWidget* parent, const std::vector<const CSensor*>& sensors, CHistorySource source,
                int range);
    ~CHistoryWnd() override;

    // Rows went into the database: the new ones are read shortly.
    void OnRowsStored();
    // Back to the whole range.
    void ResetZoom();
    // Zooms the time axis by factor (below 1 in) around the point at
    // fraction of its width.
    void ZoomTime(double factor, double fraction);

    QChart* Chart() const { return m_pChart; }
    QDateTimeAxis* TimeAxis() const { return m_pTimeAxis; }
    // The series that draw a line's readings: runs between gaps, and the
    // readings standing alone between two gaps.
    std::vector<QXYSeries*> SeriesOf(int line) const;
    // Nothing is being read, nor waiting to be.
    bool IsIdle() const;

private:
    enum class Job
    {
        None,
        Load,
        Update,
        Detail,
    };

    void Run(Job job);
    void OnJobDone();
    void RunPending();
    void ShowReadings();
    // whole: widened to whole steps of the time axis' marks.
    void SetTimeRange(std::int64_t from, std::int64_t to, bool whole);
    void OnTimeRangeChanged();
    int Columns() const;
    int Range() const;

    std::shared_ptr<CReadingHistory> m_pHistory;
    std::vector<QString> m_labels;
    std::vector<QString> m_units;
    std::vector<int> m_intervals; // minutes
    QChart* m_pChart = nullptr;
    QChartView* m_pChartView = nullptr;
    QDateTimeAxis* m_pTimeAxis = nullptr;
    QCheckBox* m_pLastDays = nullptr;
    QSpinBox* m_pDays = nullptr;
    QLabel* m_pStatus = nullptr;
    QFutureWatcher<bool> m_watcher;
    Job m_running = Job::None;
    bool m_pending[4] = {};
    // The span zoomed into; none for the whole range.
    std::optional<std::pair<std::int64_t, std::int64_t>> m_zoom;
    // The span of the last detail read, and whether it is the one shown.
    std::optional<std::pair<std::int64_t, std::int64_t>> m_detailSpan;
    bool m_bDetailShown = false;
    bool m_bSettingRange = false;
    QTimer m_minuteTimer;
    QTimer m_storedTimer;
    QTimer m_zoomTimer;
};
