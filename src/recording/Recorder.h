#pragma once

#include "net/ChannelStatusSink.h"
#include "recording/Journal.h"
#include "recording/RecordingView.h"
#include "sensors/Clock.h"

#include <QTimer>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class CSensor;
class CSensorChannel;
class CSensorDatabase;
class CStorageWorker;
struct CStorageReport;

// How fast recording runs. The programs always use real minutes; a test may
// shorten them together with a clock that runs as much faster.
struct CRecordingPace
{
    int m_nTickMs = 100;
    int m_nMinuteMs = 60000;
};

// Where rows go that the database cannot take.
struct CStorageOptions
{
    // The program's data folder; empty: no journal, such rows are lost
    // (and counted).
    std::string m_strJournalFolder;
    std::size_t m_nJournalLimit = CJournal::kDefaultLimit;
    // Journal rows written out per transaction.
    std::size_t m_nBatchRows = 5000;
};

// What taking over a new configuration did with the measuring points.
struct CReconfiguration
{
    std::size_t m_nKept = 0;    // went on as they were
    std::size_t m_nStopped = 0; // removed or changed
    std::size_t m_nStarted = 0; // new or changed
};

// Recording: one channel per configured sensor while it runs, the 100 ms
// tick that drives their connections, and once a minute, aligned to the
// full UTC minute, one row per due channel in the reading table. The rows of
// a tick are taken on this thread, stamped with the tick's local date and
// time, and handed to the storing thread; what the database cannot take in
// time goes into the journal and is written out later.
class CRecorder : public IChannelStatusSink
{
public:
    static constexpr int kStrDatabaseAccess = 331; // "Datenbankzugriff..."
    static constexpr int kStrReady = 57345;        // "Bereit"
    static constexpr int kStrBuffering = 600;      // "Datenbank nicht erreichbar - %d ..."
    static constexpr int kStrReplaying = 601;      // "Gepufferte Messwerte werden ..."
    static constexpr int kStrDropping = 602;       // "Puffer voll - %d Messwerte verworfen"
    static constexpr std::uint32_t kRecordingColour = 0xC0FFFF;
    static constexpr std::uint32_t kStoppedColour = 0xFFFFFF;
    static constexpr std::chrono::seconds kFreshness{90};

    // recording: the application's flag that recording runs; only the
    // recorder changes it.
    CRecorder(IRecordingView& view, CSensorDatabase& database, bool& recording,
              CRecordingPace pace = {});
    // Deletes what is left of a run without calling back into the view, which
    // may be half gone by then.
    ~CRecorder() override;
    CRecorder(const CRecorder&) = delete;
    CRecorder& operator=(const CRecorder&) = delete;

    // Takes effect at the next start.
    void SetStorageOptions(CStorageOptions options) { m_options = std::move(options); }

    void OnStartStop();
    // False when the database could not be opened or a stop was asked for
    // during the start; nothing is running then.
    bool Start();
    void Stop();
    bool IsRecording() const { return m_bRecording; }
    // Replaces the view's records by `records` while recording runs (not
    // from inside a minute tick). A record whose configured fields all equal
    // those of a running point takes over that point's channel: countdown,
    // connection and SensorID go on (a SensorID that is missing is asked
    // for again). The other channels stop; the other records get channels,
    // registered now, that start counting at the next minute tick as after
    // a start. The journal and the storing thread are not touched.
    CReconfiguration Reconfigure(SensorList records);

    // The timers' handlers, also driven directly by tests with a clock of
    // their own.
    void OnTickTimer();
    void OnMinuteTimer();

    void OnChannelStatus(CSensorChannel* channel) override;

    // Milliseconds from `now` to half a second after the next full UTC minute.
    int FirstMinuteDelay(std::chrono::system_clock::time_point now) const;
    const QTimer& TickTimer() const { return m_tickTimer; }
    const QTimer& MinuteTimer() const { return m_minuteTimer; }
    // In configuration order.
    const std::vector<std::unique_ptr<CSensorChannel>>& Channels() const { return m_channels; }
    // Nothing handed to storage is still under way.
    bool IsStorageIdle() const;
    // Rows in the journal now.
    std::size_t BufferedRows() const;

private:
    struct CDueTick
    {
        std::chrono::system_clock::time_point m_utc;
        CivilTime m_local;
    };

    // Takes down what a start set up before it was given up.
    void AbortStart();
    // A channel for the record, with the SensorID of its point; unrecorded
    // collects the point when it has none.
    void CreateChannel(CSensor& record, std::vector<CUnrecordedPoint>& unrecorded);
    // The SensorID of the record's point, or -1 after adding it to unrecorded.
    int Register(const CSensor& record, std::vector<CUnrecordedPoint>& unrecorded);
    void OpenJournal();
    // Gives channels without a countdown (all at the first tick, new ones
    // after a reconfiguration) the one a start gives.
    void AlignCountdowns(std::chrono::system_clock::time_point utc);

    void RunTick(const CDueTick& due);
    void OnStorageReport(CStorageReport&& report);
    // The storage's state in the status bar; force: also when unchanged.
    void ShowStorageState(bool force);
    // A failure shown after the current handler has returned, since the
    // desktop shows it in a dialog that runs the event loop.
    void ReportLater(const std::string& text);
    void ShowPendingReports();
    void PostChannelStatus(CSensorChannel* channel);
    bool OwnsChannel(const CSensorChannel* channel) const;
    void DeleteChannels();

    IRecordingView& m_view;
    CSensorDatabase& m_database;
    bool& m_bRecording;
    CRecordingPace m_pace;
    CStorageOptions m_options;
    QTimer m_tickTimer;
    QTimer m_minuteTimer;
    bool m_bAligned = false;
    bool m_bClosing = false;
    // Counts stops, so that a handler finds out that a stop happened inside
    // something that ran the event loop.
    unsigned m_nRun = 0;
    // A minute tick never runs inside another: one that falls due meanwhile
    // waits here with the time it fell due at.
    bool m_bInTick = false;
    std::deque<CDueTick> m_dueTicks;
    std::vector<std::unique_ptr<CSensorChannel>> m_channels;
    std::shared_ptr<CJournal> m_journal;
    std::unique_ptr<CStorageWorker> m_storage;
    // The database failed and has not taken rows since; its failure was
    // shown once.
    bool m_bOutage = false;
    std::size_t m_nDropped = 0;
    std::pair<int, std::size_t> m_shownState{kStrReady, 0};
    std::deque<std::string> m_pendingReports;
};
