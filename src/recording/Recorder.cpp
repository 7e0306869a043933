#include "recording/Recorder.h"

#include "db/SensorDatabase.h"
#include "db/SqlText.h"
#include "net/DeviceChannel.h"
#include "recording/StorageWorker.h"
#include "sensors/Clock.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <unordered_map>
#include <utility>

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

// String 610: why rows that the database cannot take would be lost.
constexpr const char* kStrNoJournal =
    "Messwerte, die die Datenbank nicht annimmt, können nicht gepuffert werden: ";

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
    // Whatever the storing thread still holds goes into the journal; its
    // last reports would reach a view that may be gone.
    m_bClosing = true;
    if (m_storage)
        m_storage->Finish();
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

    std::vector<CUnrecordedPoint> unrecorded;
    for (const std::unique_ptr<CSensor>& record : m_view.Sensors())
    {
        // Registering thousands of points may take minutes on a slow
        // server; a stop asked for meanwhile ends the start cleanly. So
        // does a database that went away (its failure has been shown): each
        // further point would wait for it the whole bound.
        if (m_view.StopRequested() || m_database.m_db.IsLost())
        {
            AbortStart();
            return false;
        }
        CreateChannel(*record, unrecorded);
    }
    if (m_database.m_db.IsLost())
    {
        AbortStart();
        return false;
    }
    LinkChannels();
    OpenJournal();
    m_bOutage = false;
    m_nDropped = 0;
    m_storage = std::make_unique<CStorageWorker>(
        m_journal, m_database.m_db.Endpoint(), m_database.m_pszRecordingTable,
        std::chrono::seconds(std::max(m_database.m_db.Timeout(), 1)), m_options.m_nBatchRows,
        [this](CStorageReport&& report) { OnStorageReport(std::move(report)); });
    if (const std::size_t damaged = m_journal->TakeDamaged(); damaged > 0)
    {
        m_nDropped += damaged;
        m_view.OnRowsDropped(damaged);
    }
    m_view.SetStatusText(kStrReady, 0);
    m_shownState = {kStrReady, 0};

    // Newest first, as the channel list is walked everywhere else.
    for (auto it = m_channels.rbegin(); it != m_channels.rend(); ++it)
        (*it)->Start(this);
    m_view.RefreshStatusColumn();
    m_view.SetListColour(kRecordingColour);
    m_bRecording = true;
    if (!unrecorded.empty())
        m_view.ReportUnrecorded(unrecorded);
    return true;
}

void CRecorder::AbortStart()
{
    m_tickTimer.stop();
    m_minuteTimer.stop();
    for (const std::unique_ptr<CSensor>& record : m_view.Sensors())
        record->m_pChannel = nullptr;
    DeleteChannels();
    m_database.m_db.Close();
    m_view.SetStatusText(kStrReady, 0);
}

void CRecorder::CreateChannel(CSensor& record, std::vector<CUnrecordedPoint>& unrecorded)
{
    auto channel = std::make_unique<CDeviceChannel>(record);
    record.m_pChannel = channel.get();
    channel->m_nSensorId = Register(record, unrecorded);
    m_channels.push_back(std::move(channel));
}

int CRecorder::Register(const CSensor& record, std::vector<CUnrecordedPoint>& unrecorded)
{
    // A point without its own SensorID still polls (it may be the master of
    // its device) but gets no rows: never any under a number not its own.
    const int id = m_database.RegisterSensor(record);
    if (id < 0)
        unrecorded.push_back(
            {&record, m_database.LastRegistrationFailure().value_or(CRegistrationFailure{})});
    return id;
}

CReconfiguration CRecorder::Reconfigure(SensorList records)
{
    std::swap(m_view.Sensors(), records);
    CReconfiguration result;
    if (!m_bRecording)
        return result;

    // The running points by their text form, which holds every configured
    // field; the channel's own copy is what runs.
    std::unordered_multimap<std::string, CSensor*> running;
    for (const std::unique_ptr<CSensor>& old : records)
        if (old->m_pChannel != nullptr)
            running.emplace(old->m_pChannel->m_sensor.FormatLine(), old.get());
    for (const std::unique_ptr<CSensor>& record : m_view.Sensors())
    {
        record->m_pChannel = nullptr;
        const auto found = running.find(record->FormatLine());
        if (found == running.end())
            continue;
        CSensor& old = *found->second;
        record->m_pChannel = std::exchange(old.m_pChannel, nullptr);
        record->m_strStatus = std::move(old.m_strStatus);
        running.erase(found);
        ++result.m_nKept;
    }
    // The old records left with a channel go, and with them their cells.
    for (const std::unique_ptr<CSensor>& old : records)
    {
        if (old->m_pChannel == nullptr)
            continue;
        old->m_pChannel = nullptr;
        m_view.UpdateStatusCell(*old);
        ++result.m_nStopped;
    }

    // Whether each channel that stays polls its device now.
    std::unordered_map<CSensorChannel*, bool> polled;
    for (const std::unique_ptr<CSensor>& record : m_view.Sensors())
        if (CSensorChannel* channel = record->m_pChannel)
            polled.emplace(channel, !channel->m_sensor.m_bDisabled && !channel->m_pMaster);
    std::vector<CUnrecordedPoint> unrecorded;
    for (const std::unique_ptr<CSensor>& record : m_view.Sensors())
    {
        // The recording ends next; nothing more is worth registering.
        if (m_view.StopRequested())
            break;
        if (record->m_pChannel == nullptr)
        {
            CreateChannel(*record, unrecorded);
            polled.emplace(record->m_pChannel, false);
            ++result.m_nStarted;
        }
        else if (record->m_pChannel->m_nSensorId < 0)
        {
            // The database may take the point now (it was away at the start).
            record->m_pChannel->m_nSensorId = Register(*record, unrecorded);
        }
    }

    // Configuration order again; the channels of the points that went stop.
    std::unordered_map<CSensorChannel*, std::unique_ptr<CSensorChannel>> owned;
    for (std::unique_ptr<CSensorChannel>& channel : m_channels)
        owned.emplace(channel.get(), std::move(channel));
    m_channels.clear();
    for (const std::unique_ptr<CSensor>& record : m_view.Sensors())
        if (record->m_pChannel != nullptr)
            m_channels.push_back(std::move(owned.at(record->m_pChannel)));
    for (const auto& entry : owned)
        if (entry.second)
            entry.second->Stop();
    owned.clear();

    // Links go by age: a master that stays is still the oldest enabled
    // channel of its device and polls on. A follower whose master went, and
    // a new channel, may have become the master.
    LinkChannels();
    for (const auto& [channel, wasPolling] : polled)
        if (!wasPolling && !channel->m_sensor.m_bDisabled && !channel->m_pMaster)
            channel->Start(this);
    m_view.RefreshStatusColumn();
    if (!unrecorded.empty())
        m_view.ReportUnrecorded(unrecorded);
    return result;
}

void CRecorder::OpenJournal()
{
    m_journal = std::make_shared<CJournal>();
    if (m_options.m_strJournalFolder.empty())
        return;
    std::string note;
    const bool opened = m_journal->Open(m_options.m_strJournalFolder, m_database.m_strDataSource,
                                        m_options.m_nJournalLimit, note);
    if (!note.empty())
        ReportLater(opened ? note : kStrNoJournal + note);
}

void CRecorder::Stop()
{
    if (!m_bRecording)
        return;
    ++m_nRun;
    m_dueTicks.clear();
    // What is under way gets its bound; the rest goes into the journal.
    if (m_storage)
    {
        m_storage->Finish();
        m_storage.reset();
    }
    m_journal.reset();
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
    if (m_shownState.first != kStrReady)
        m_view.SetStatusText(kStrReady, 0);
    m_bRecording = false;
    // The last failures are told before the program may end.
    ShowPendingReports();
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

bool CRecorder::IsStorageIdle() const
{
    return !m_storage || m_storage->IsIdle();
}

std::size_t CRecorder::BufferedRows() const
{
    return m_journal ? m_journal->Rows() : 0;
}

void CRecorder::OnTickTimer()
{
    CAsyncConnection::DispatchSocketMessage(CSocketMessage{});
    if (m_storage)
        m_storage->CheckDeadline();
}

void CRecorder::OnMinuteTimer()
{
    const CClock& clock = CClock::Current();
    const CDueTick due{clock.UtcNow(), clock.LocalNow()};
    if (m_bInTick)
    {
        m_dueTicks.push_back(due);
        return;
    }
    if (!m_bAligned)
    {
        m_bAligned = true;
        m_minuteTimer.start(m_pace.m_nMinuteMs);
    }
    AlignCountdowns(due.m_utc);
    m_bInTick = true;
    const unsigned run = m_nRun;
    RunTick(due);
    while (m_nRun == run && !m_dueTicks.empty())
    {
        const CDueTick next = m_dueTicks.front();
        m_dueTicks.pop_front();
        RunTick(next);
    }
    m_bInTick = false;
}

void CRecorder::AlignCountdowns(std::chrono::system_clock::time_point utc)
{
    const std::tm fields = UtcFields(utc);
    int minutes = 60 - fields.tm_min;
    // A tick more than half a minute late counts for the next minute.
    if (fields.tm_sec > 30)
        --minutes;
    // A countdown once given never returns to 0: a tick sets it to the
    // interval when it runs out.
    for (const std::unique_ptr<CSensorChannel>& channel : m_channels)
        if (channel->m_nMinutesLeft == 0)
            channel->m_nMinutesLeft = minutes % Interval(*channel) + 1;
}

void CRecorder::RunTick(const CDueTick& due)
{
    const unsigned run = m_nRun;
    m_view.SetStatusText(kStrDatabaseAccess, 0);
    if (m_nRun != run)
        return; // stopped meanwhile; the channels are gone
    CTick tick;
    tick.m_time = due.m_local;
    // Newest first: the channel of the last configured sensor is stored first.
    for (auto it = m_channels.rbegin(); it != m_channels.rend(); ++it)
    {
        CSensorChannel& channel = **it;
        if (channel.m_sensor.m_bDisabled)
            continue;
        if (--channel.m_nMinutesLeft >= 1)
            continue;
        channel.m_nMinutesLeft = Interval(channel);
        if (channel.m_nSensorId < 0)
            continue;
        float value = 0;
        std::chrono::system_clock::time_point readAt;
        const bool valid = channel.GetValue(value, &readAt);
        // A reply dated after the tick comes from a clock that was set back;
        // its age is unknown. An infinite value has no SQL literal and counts
        // as none.
        const bool fresh = valid && readAt <= due.m_utc && due.m_utc - readAt <= kFreshness &&
                           std::isfinite(value);
        tick.m_rows.push_back({channel.m_nSensorId, fresh ? SqlFloat(static_cast<double>(value))
                                                          : std::string(kNullValue)});
    }
    // While the database is away, every tick tries it once more.
    if (m_storage && (!tick.m_rows.empty() || m_bOutage || m_journal->Rows() > 0))
        m_storage->Submit(std::move(tick));
    ShowStorageState(true);
}

void CRecorder::OnStorageReport(CStorageReport&& report)
{
    if (m_bClosing)
        return;
    for (const CReading& row : report.m_stored)
        m_view.OnRowStored(row);
    if (!report.m_buffered.empty())
        m_view.OnRowsBuffered(report.m_buffered);
    if (report.m_nReplayed > 0)
        m_view.OnRowsReplayed(report.m_nReplayed);
    if (report.m_nDropped > 0)
    {
        m_nDropped += report.m_nDropped;
        m_view.OnRowsDropped(report.m_nDropped);
    }
    for (const std::string& text : report.m_rejected)
        ReportLater(text);
    // An outage is shown once, however many ticks it lasts.
    if (!report.m_strFailure.empty() && !m_bOutage)
    {
        m_bOutage = true;
        ReportLater(report.m_strFailure);
    }
    if (report.m_bReached)
    {
        m_bOutage = false;
        if (BufferedRows() == 0)
            m_nDropped = 0;
    }
    ShowStorageState(false);
}

void CRecorder::ShowStorageState(bool force)
{
    const std::size_t waiting = BufferedRows();
    std::pair<int, std::size_t> state{kStrReady, 0};
    if (m_nDropped > 0 && (m_bOutage || waiting > 0))
        state = {kStrDropping, m_nDropped};
    else if (m_bOutage || waiting > 0)
        state = {m_bOutage ? kStrBuffering : kStrReplaying, waiting};
    if (!force && state == m_shownState)
        return;
    m_shownState = state;
    m_view.SetStatusText(state.first,
                         static_cast<int>(std::min<std::size_t>(state.second, INT32_MAX)));
}

void CRecorder::ReportLater(const std::string& text)
{
    m_pendingReports.push_back(text);
    if (m_pendingReports.size() == 1)
        QMetaObject::invokeMethod(
            &m_tickTimer, [this] { ShowPendingReports(); }, Qt::QueuedConnection);
}

void CRecorder::ShowPendingReports()
{
    // A dialog may add to the list while it is open.
    while (!m_pendingReports.empty())
    {
        const std::string text = std::move(m_pendingReports.front());
        m_pendingReports.pop_front();
        m_database.m_db.ReportText(text);
    }
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
