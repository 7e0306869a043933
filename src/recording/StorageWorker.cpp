#include "recording/StorageWorker.h"

#include "db/ReadingWriter.h"
#include "recording/Journal.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

namespace
{

using SteadyClock = std::chrono::steady_clock;

// Rows of a tick (or of a journal batch) whose outcome was `outcome`.
std::vector<CReading> RowsWith(const CTick& tick, const std::vector<RowOutcome>& outcomes,
                               RowOutcome outcome)
{
    std::vector<CReading> rows;
    for (std::size_t r = 0; r < tick.m_rows.size(); ++r)
        if (outcomes[r] == outcome)
            rows.push_back(tick.m_rows[r]);
    return rows;
}

std::string NoAnswerText(std::chrono::milliseconds bound)
{
    return ::NoAnswerText(
        static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(bound).count()));
}

void Buffer(CJournal& journal, const CTick& tick, CStorageReport& report)
{
    std::size_t dropped = 0;
    if (journal.Append(tick, dropped))
        report.m_buffered.insert(report.m_buffered.end(), tick.m_rows.begin(), tick.m_rows.end());
    report.m_nDropped += dropped;
}

} // namespace

struct CStorageWorker::CShared
{
    struct CJob
    {
        CTick m_tick;
        SteadyClock::time_point m_deadline;
    };
    enum class Phase
    {
        Idle,
        Writing,
        Committing,
    };

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_settled;
    std::deque<CJob> m_queue;
    std::optional<CJob> m_current;
    Phase m_phase = Phase::Idle;
    bool m_bReplaying = false;
    SteadyClock::time_point m_replayDeadline;
    bool m_bReplayWanted = false;
    // A tick taken whose report is not posted yet.
    bool m_bReporting = false;
    // What the thread is doing is no longer waited for; it gives up its
    // connection when it comes back.
    bool m_bAbandoned = false;
    bool m_bStop = false;
    std::vector<CStorageReport> m_mailbox;
    // Where reports are posted; null once nobody listens any more.
    QObject* m_pContext = nullptr;
    std::function<void()> m_post;

    std::shared_ptr<CJournal> m_journal;
    CDbEndpoint m_endpoint;
    std::string m_strTable;
    std::chrono::milliseconds m_bound;
    std::size_t m_nBatchRows;

    // Called with m_mutex held.
    void Post(CStorageReport&& report)
    {
        m_mailbox.push_back(std::move(report));
        if (m_pContext && m_mailbox.size() == 1)
            m_post();
    }
    // Right before anything may become permanent: false when given up.
    bool MayCommit()
    {
        const std::lock_guard lock(m_mutex);
        if (m_bAbandoned)
            return false;
        m_phase = Phase::Committing;
        return true;
    }
};

CStorageWorker::CStorageWorker(std::shared_ptr<CJournal> journal, CDbEndpoint endpoint,
                               std::string table, std::chrono::milliseconds bound,
                               std::size_t batchRows, Sink sink)
    : m_shared(std::make_shared<CShared>()), m_sink(std::move(sink))
{
    m_shared->m_journal = std::move(journal);
    m_shared->m_endpoint = std::move(endpoint);
    m_shared->m_strTable = std::move(table);
    m_shared->m_bound = bound;
    m_shared->m_nBatchRows = std::max<std::size_t>(batchRows, 1);
    m_shared->m_pContext = &m_context;
    m_shared->m_post = [this]
    {
        QMetaObject::invokeMethod(
            &m_context, [this] { DeliverPosted(); }, Qt::QueuedConnection);
    };
    // A journal left by an earlier run is written out as soon as the
    // database takes rows.
    m_shared->m_bReplayWanted = m_shared->m_journal->Rows() > 0;
    m_thread = std::thread(&CStorageWorker::Run, m_shared);
}

CStorageWorker::~CStorageWorker()
{
    Finish();
}

void CStorageWorker::Submit(CTick tick)
{
    {
        std::unique_lock lock(m_shared->m_mutex);
        // A thread stuck on the database gets nothing more to wait on.
        if (!m_shared->m_bAbandoned && !m_shared->m_bStop)
        {
            m_shared->m_queue.push_back({std::move(tick), SteadyClock::now() + m_shared->m_bound});
            m_shared->m_wake.notify_one();
            return;
        }
    }
    std::vector<CTick> ticks;
    ticks.push_back(std::move(tick));
    Orphan(std::move(ticks), NoAnswerText(m_shared->m_bound));
}

void CStorageWorker::CheckDeadline()
{
    std::vector<CTick> orphans;
    bool abandoned = false;
    {
        const std::lock_guard lock(m_shared->m_mutex);
        CShared& shared = *m_shared;
        const auto now = SteadyClock::now();
        while (!shared.m_queue.empty() && shared.m_queue.front().m_deadline <= now)
        {
            orphans.push_back(std::move(shared.m_queue.front().m_tick));
            shared.m_queue.pop_front();
        }
        if (shared.m_current && shared.m_current->m_deadline <= now && !shared.m_bAbandoned)
        {
            shared.m_bAbandoned = abandoned = true;
            CTick tick = shared.m_current->m_tick;
            // Once the commit is under way it may still happen.
            tick.m_bInDoubt = tick.m_bInDoubt || shared.m_phase == CShared::Phase::Committing;
            orphans.push_back(std::move(tick));
        }
        // A slow write-out is given up only when a tick waited on it.
        if (shared.m_bReplaying && shared.m_replayDeadline <= now && !shared.m_bAbandoned &&
            (!orphans.empty() || !shared.m_queue.empty()))
        {
            shared.m_bAbandoned = abandoned = true;
            shared.m_journal->Abandon();
        }
    }
    const std::string failure =
        abandoned || !orphans.empty() ? NoAnswerText(m_shared->m_bound) : std::string();
    Orphan(std::move(orphans), failure);
}

bool CStorageWorker::IsIdle() const
{
    const std::lock_guard lock(m_shared->m_mutex);
    return m_shared->m_queue.empty() && !m_shared->m_current && !m_shared->m_bReporting &&
           !m_shared->m_bReplaying && !m_shared->m_bReplayWanted && m_shared->m_mailbox.empty();
}

void CStorageWorker::Finish()
{
    if (m_bFinished)
        return;
    m_bFinished = true;
    std::vector<CTick> orphans;
    std::vector<CStorageReport> reports;
    bool stuck = false;
    {
        std::unique_lock lock(m_shared->m_mutex);
        CShared& shared = *m_shared;
        shared.m_bStop = true;
        for (CShared::CJob& job : shared.m_queue)
            orphans.push_back(std::move(job.m_tick));
        shared.m_queue.clear();
        shared.m_wake.notify_all();
        const auto now = SteadyClock::now();
        auto deadline = shared.m_current      ? shared.m_current->m_deadline
                        : shared.m_bReplaying ? shared.m_replayDeadline
                                              : now;
        deadline = std::min(deadline, now + shared.m_bound);
        stuck = !shared.m_settled.wait_until(
            lock, deadline, [&] { return !shared.m_current && !shared.m_bReplaying; });
        if (stuck && !shared.m_bAbandoned)
        {
            shared.m_bAbandoned = true;
            if (shared.m_current)
            {
                CTick tick = shared.m_current->m_tick;
                tick.m_bInDoubt = tick.m_bInDoubt || shared.m_phase == CShared::Phase::Committing;
                orphans.push_back(std::move(tick));
            }
            if (shared.m_bReplaying)
                shared.m_journal->Abandon();
        }
        shared.m_pContext = nullptr;
        reports.swap(shared.m_mailbox);
    }
    for (CStorageReport& report : reports)
        m_sink(std::move(report));
    // Ticks that only waited are kept without a word; one the database held
    // up past the bound is a failure.
    Orphan(std::move(orphans), stuck ? NoAnswerText(m_shared->m_bound) : std::string());
    // A thread stuck in the database is left to come back on its own; it
    // owns what it touches.
    if (stuck)
        m_thread.detach();
    else if (m_thread.joinable())
    {
        m_thread.join();
        // What it reported while finishing its last piece of work.
        DeliverPosted();
    }
}

void CStorageWorker::DeliverPosted()
{
    std::vector<CStorageReport> reports;
    {
        const std::lock_guard lock(m_shared->m_mutex);
        reports.swap(m_shared->m_mailbox);
    }
    for (CStorageReport& report : reports)
        m_sink(std::move(report));
}

void CStorageWorker::Orphan(std::vector<CTick> ticks, const std::string& failure)
{
    CStorageReport report;
    report.m_strFailure = failure;
    for (const CTick& tick : ticks)
        Buffer(*m_shared->m_journal, tick, report);
    if (!report.m_buffered.empty() || report.m_nDropped > 0 || !failure.empty())
        m_sink(std::move(report));
}

void CStorageWorker::Run(std::shared_ptr<CShared> shared)
{
    // The thread keeps its own bound: the tick stops waiting for it.
    CDbAccess db(CDbAccess::Calls::OnCallersThread);
    CReadingWriter writer(db, shared->m_strTable);
    const auto mayCommit = [&shared] { return shared->MayCommit(); };
    // One connection attempt per piece of work at most.
    const auto connect = [&]
    { return (db.IsOpen() && !db.IsLost()) || db.Open(shared->m_endpoint); };
    while (true)
    {
        std::unique_lock lock(shared->m_mutex);
        shared->m_wake.wait(
            lock,
            [&] { return shared->m_bStop || !shared->m_queue.empty() || shared->m_bReplayWanted; });
        if (!shared->m_queue.empty())
        {
            shared->m_current = std::move(shared->m_queue.front());
            shared->m_queue.pop_front();
            shared->m_phase = CShared::Phase::Writing;
            shared->m_bReporting = true;
            const std::vector<CTick> ticks(1, shared->m_current->m_tick);
            const CTick& tick = ticks.front();
            lock.unlock();

            CWriteResult result;
            const bool connected = connect();
            if (connected)
                result = writer.Write(ticks, mayCommit);
            else
                result.m_outcomes.emplace_back(tick.m_rows.size(), RowOutcome::Unwritten);

            lock.lock();
            const bool abandoned = std::exchange(shared->m_bAbandoned, false);
            shared->m_current.reset();
            shared->m_phase = CShared::Phase::Idle;
            shared->m_bReporting = !abandoned;
            shared->m_settled.notify_all();
            lock.unlock();
            if (abandoned || result.m_bConnectionGone)
                db.Close(); // a fresh connection next time
            if (abandoned)
                continue; // its rows went into the journal meanwhile

            CStorageReport report;
            report.m_stored = RowsWith(tick, result.m_outcomes[0], RowOutcome::Stored);
            report.m_rejected = result.m_rejectTexts;
            CTick rest = tick;
            rest.m_rows = RowsWith(tick, result.m_outcomes[0], RowOutcome::Unwritten);
            rest.m_bInDoubt = tick.m_bInDoubt || result.m_bInDoubt;
            Buffer(*shared->m_journal, rest, report);
            report.m_bReached = connected && rest.m_rows.empty();
            if (!report.m_bReached)
                report.m_strFailure = connected ? result.m_strFailure : db.LastError();

            lock.lock();
            if (report.m_bReached && shared->m_journal->Rows() > 0)
                shared->m_bReplayWanted = true;
            shared->Post(std::move(report));
            shared->m_bReporting = false;
            continue;
        }
        if (shared->m_bStop)
            break;

        shared->m_bReplaying = true;
        shared->m_replayDeadline = SteadyClock::now() + shared->m_bound;
        lock.unlock();

        CStorageReport report;
        CJournal::CBatch batch;
        bool more = shared->m_journal->NextBatch(shared->m_nBatchRows, batch);
        bool abandoned = false;
        if (more && !connect())
        {
            shared->m_journal->Failed(batch, false);
            report.m_strFailure = db.LastError();
            more = false;
        }
        else if (more)
        {
            const CWriteResult result = writer.Write(batch.m_ticks, mayCommit);
            if (result.Count(RowOutcome::Unwritten) == 0)
            {
                shared->m_journal->Done(batch);
                report.m_nReplayed =
                    result.Count(RowOutcome::Stored) + result.Count(RowOutcome::AlreadyStored);
                report.m_rejected = result.m_rejectTexts;
                report.m_bReached = true;
            }
            else
            {
                // Rows stored row by row before the failure are found by
                // the check of the next attempt.
                shared->m_journal->Failed(batch, result.m_bInDoubt ||
                                                     result.Count(RowOutcome::Stored) > 0);
                report.m_strFailure = result.m_strFailure;
                more = false;
            }
            if (result.m_bConnectionGone)
                db.Close();
        }

        lock.lock();
        abandoned = std::exchange(shared->m_bAbandoned, false);
        shared->m_bReplaying = false;
        shared->m_phase = CShared::Phase::Idle;
        shared->m_bReplayWanted = more && !abandoned && shared->m_journal->Rows() > 0;
        shared->m_settled.notify_all();
        if (abandoned)
        {
            lock.unlock();
            db.Close();
            lock.lock();
        }
        if (report.m_nReplayed > 0 || !report.m_strFailure.empty() || !report.m_rejected.empty())
            shared->Post(std::move(report));
    }
    db.Close();
}
