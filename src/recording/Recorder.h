#pragma once

#include "net/ChannelStatusSink.h"

#include <QTimer>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

class CSensorChannel;
class CSensorDatabase;
class IRecordingView;

// How fast recording runs. The programs always use real minutes; a test may
// shorten them together with a clock that runs as much faster.
struct CRecordingPace
{
    int m_nTickMs = 100;
    int m_nMinuteMs = 60000;
};

// Recording: one channel per configured sensor while it runs, the 100 ms
// tick that drives their connections, and once a minute, aligned to the
// full UTC minute, one row per due channel in the reading table.
class CRecorder : public IChannelStatusSink
{
public:
    static constexpr int kStrDatabaseAccess = 331; // "Datenbankzugriff..."
    static constexpr int kStrReady = 57345;        // "Bereit"
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

    void OnStartStop();
    // False when the database could not be opened; nothing is running then.
    bool Start();
    void Stop();
    bool IsRecording() const { return m_bRecording; }

    // The timers' handlers, also driven directly by tests with a clock of
    // their own.
    void OnTickTimer();
    void OnMinuteTimer();

    void OnChannelStatus(CSensorChannel* channel) override;

    // Milliseconds from `now` to half a second after the next full UTC minute.
    int FirstMinuteDelay(std::chrono::system_clock::time_point now) const;
    const QTimer& TickTimer() const { return m_tickTimer; }
    const QTimer& MinuteTimer() const { return m_minuteTimer; }
    // In creation order, which is configuration order.
    const std::vector<std::unique_ptr<CSensorChannel>>& Channels() const { return m_channels; }

private:
    void AlignCountdowns();
    void StoreDueReadings();
    void StoreReading(CSensorChannel& channel, std::chrono::system_clock::time_point now);
    void PostChannelStatus(CSensorChannel* channel);
    bool OwnsChannel(const CSensorChannel* channel) const;
    void DeleteChannels();

    IRecordingView& m_view;
    CSensorDatabase& m_database;
    bool& m_bRecording;
    CRecordingPace m_pace;
    QTimer m_tickTimer;
    QTimer m_minuteTimer;
    bool m_bAligned = false;
    // Counts stops, so that a store loop finds out that a stop happened
    // inside one of its statements (an error dialog runs the event loop).
    unsigned m_nRun = 0;
    std::vector<std::unique_ptr<CSensorChannel>> m_channels;
};
