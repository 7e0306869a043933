#include "recording/Recorder.h"

#include "sensors/Clock.h"
#include "net/DeviceChannel.h"
#include "recording/RecordingView.h"
#include "db/SensorDatabase.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <optional>

namespace
{

std::tm UtcFields(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm fields{};
    gmtime_r(&seconds, &fields);
    return fields;
}

// The countdown divides by the interval; a record edited in memory could
// carry anything.
int Interval(const CSensorChannel& channel)
{
    return std::max(channel.m_sensor.m_nInterval, 1);
}

} // namespace

CRecorder::CRecorder(IRecordingView& view, CSensorDatabase& database, bool& recording,
                     CRecordingPace pace)
    : m_view(view), m_database(database), m_bRecording(recording), m_pace(pace)
{
    // Window timers of the old kind kept their period; coarse timers may
    // fire seconds early on long periods, which would misplace the minute.
    m_tickTimer.setTimerType(Qt::PreciseTimer);
    m_minuteTimer.setTimerType(Qt::PreciseTimer);
    m_tickTimer.callOnTimeout([this] { OnTickTimer(); });
    m_minuteTimer.callOnTimeout([this] { OnMinuteTimer(); });
}

CRecorder::~CRecorder()
{
    m_tickTimer.stop();
    m_minuteTimer.stop();
    for (auto it = m_channels.rbegin(); it != m_channels.rend(); ++it)
        (*it)->Stop();
    DeleteChannels();
}

void CRecorder::OnStartStop()
{
    if (m_bRecording)
        Stop();
    else
        Start();
}

bool CRecorder::Start()
{
    if (m_bRecording)
        return true;
    m_view.SetStatusText(kStrDatabaseAccess, 0);
    if (!m_view.OpenDatabase())
    {
        m_view.SetStatusText(kStrReady, 0);
        return false;
    }
    m_tickTimer.start(m_pace.m_nTickMs);
    m_bAligned = false;
    m_minuteTimer.start(FirstMinuteDelay(CClock::Current().UtcNow()));

    for (const std::unique_ptr<CSensor>& record : m_view.Sensors())
    {
        auto channel = std::make_unique<CDeviceChannel>(*record);
        record->m_pChannel = channel.get();
        channel->m_nSensorId = m_database.RegisterSensor(*record);
        m_channels.push_back(std::move(channel));
    }
    LinkChannels();
    m_view.SetStatusText(kStrReady, 0);

    // Newest first, as the channel list is walked everywhere else.
    for (auto it = m_channels.rbegin(); it != m_channels.rend(); ++it)
        (*it)->Start(this);
    m_view.RefreshStatusColumn();
    m_view.SetListColour(kRecordingColour);
    m_bRecording = true;
    return true;
}

void CRecorder::Stop()
{
    if (!m_bRecording)
        return;
    ++m_nRun;
    m_database.m_db.Close();
    m_tickTimer.stop();
    m_minuteTimer.stop();
    for (const std::unique_ptr<CSensor>& record : m_view.Sensors())
        record->m_pChannel = nullptr;
    for (auto it = m_channels.rbegin(); it != m_channels.rend(); ++it)
        (*it)->Stop();
    DeleteChannels();
    m_view.ClearStatusColumn();
    m_view.SetListColour(kStoppedColour);
    m_bRecording = false;
}

void CRecorder::DeleteChannels()
{
    // Always the newest, as a list whose head is deleted until it is empty.
    while (!m_channels.empty())
        m_channels.pop_back();
}

int CRecorder::FirstMinuteDelay(std::chrono::system_clock::time_point now) const
{
    const long long second = UtcFields(now).tm_sec;
    return static_cast<int>((60500 - 1000 * second) * m_pace.m_nMinuteMs / 60000);
}

void CRecorder::OnTickTimer()
{
    CAsyncConnection::DispatchSocketMessage(CSocketMessage{});
}

void CRecorder::OnMinuteTimer()
{
    if (!m_bAligned)
    {
        m_bAligned = true;
        m_minuteTimer.start(m_pace.m_nMinuteMs);
        AlignCountdowns();
    }
    StoreDueReadings();
}

void CRecorder::AlignCountdowns()
{
    const std::tm utc = UtcFields(CClock::Current().UtcNow());
    int minutes = 60 - utc.tm_min;
    // A tick more than half a minute late counts for the next minute.
    if (utc.tm_sec > 30)
        --minutes;
    for (const std::unique_ptr<CSensorChannel>& channel : m_channels)
        channel->m_nMinutesLeft = minutes % Interval(*channel) + 1;
}

void CRecorder::StoreDueReadings()
{
    const auto now = CClock::Current().UtcNow();
    const unsigned run = m_nRun;
    m_view.SetStatusText(kStrDatabaseAccess, 0);
    CDbAccess& db = m_database.m_db;
    db.m_bCancelled = false;
    // Newest first: the channel of the last configured sensor is stored first.
    for (auto it = m_channels.rbegin(); it != m_channels.rend(); ++it)
    {
        CSensorChannel& channel = **it;
        if (channel.m_sensor.m_bDisabled)
            continue;
        if (--channel.m_nMinutesLeft >= 1)
            continue;
        channel.m_nMinutesLeft = Interval(channel);
        StoreReading(channel, now);
        if (m_nRun != run)
            return; // stopped meanwhile; the channels are gone
        if (db.m_bCancelled)
            break;
    }
    m_view.SetStatusText(kStrReady, 0);
}

void CRecorder::StoreReading(CSensorChannel& channel, std::chrono::system_clock::time_point now)
{
    float value = 0;
    std::chrono::system_clock::time_point readAt;
    const bool valid = channel.GetValue(value, &readAt);
    // A reply dated after now comes from a clock that was set back; its age
    // is unknown. An infinite value has no SQL literal and counts as none.
    const bool fresh = valid && readAt <= now && now - readAt <= kFreshness && std::isfinite(value);
    const int id = channel.m_nSensorId;
    if (fresh)
    {
        if (m_database.StoreReading(id, value))
            m_view.OnRowStored(id, value);
    }
    else if (m_database.StoreMissingReading(id))
        m_view.OnRowStored(id, std::nullopt);
}

void CRecorder::OnChannelStatus(CSensorChannel* channel)
{
    if (channel == nullptr || m_view.IsMinimized())
        return;
    for (const std::unique_ptr<CSensor>& record : m_view.Sensors())
    {
        if (record->m_pChannel != channel)
            continue;
        m_view.UpdateStatusCell(*record);
        if (channel->m_pNextFollower != nullptr)
            PostChannelStatus(channel->m_pNextFollower);
    }
}

void CRecorder::PostChannelStatus(CSensorChannel* channel)
{
    QMetaObject::invokeMethod(
        NotifyContext(),
        [this, channel]
        {
            if (OwnsChannel(channel))
                OnChannelStatus(channel);
        },
        Qt::QueuedConnection);
}

bool CRecorder::OwnsChannel(const CSensorChannel* channel) const
{
    return std::any_of(m_channels.begin(), m_channels.end(),
                       [channel](const std::unique_ptr<CSensorChannel>& owned)
                       { return owned.get() == channel; });
}
