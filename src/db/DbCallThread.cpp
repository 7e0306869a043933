#include "db/DbCallThread.h"

#include "db/DbConnection.h"

#include <condition_variable>
#include <mutex>

using SteadyClock = std::chrono::steady_clock;

struct CDbCallThread::CCall::CShared
{
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_ended;
    Work m_work;
    bool m_bBusy = false;
    bool m_bStop = false;
    // The caller stopped waiting for the work under way.
    bool m_bAbandoned = false;
    // When the work started or last made progress.
    SteadyClock::time_point m_since;
};

bool CDbCallThread::CCall::Progress(const std::function<void()>& callerCode)
{
    if (m_pShared == nullptr)
    {
        callerCode();
        return true;
    }
    const std::lock_guard lock(m_pShared->m_mutex);
    if (m_pShared->m_bAbandoned)
        return false;
    callerCode();
    m_pShared->m_since = SteadyClock::now();
    return true;
}

CDbCallThread::CDbCallThread() : m_shared(std::make_shared<CCall::CShared>())
{
    m_thread = std::thread(&CDbCallThread::Loop, m_shared);
}

CDbCallThread::~CDbCallThread()
{
    bool abandoned = false;
    {
        const std::lock_guard lock(m_shared->m_mutex);
        m_shared->m_bStop = true;
        abandoned = m_shared->m_bAbandoned;
        m_shared->m_wake.notify_one();
    }
    if (abandoned)
        m_thread.detach();
    else
        m_thread.join();
}

bool CDbCallThread::Run(Work work, Bound bound)
{
    std::unique_lock lock(m_shared->m_mutex);
    CCall::CShared& shared = *m_shared;
    if (shared.m_bAbandoned)
        return false;
    shared.m_work = std::move(work);
    shared.m_bBusy = true;
    shared.m_since = SteadyClock::now();
    shared.m_wake.notify_one();
    while (shared.m_bBusy)
    {
        if (!bound)
        {
            shared.m_ended.wait(lock);
            continue;
        }
        // Progress moves the deadline on; only a stretch without any ends
        // the wait.
        const auto deadline = shared.m_since + *bound;
        if (shared.m_ended.wait_until(lock, deadline) == std::cv_status::timeout &&
            shared.m_bBusy && SteadyClock::now() >= shared.m_since + *bound)
        {
            shared.m_bAbandoned = true;
            return false;
        }
    }
    return true;
}

void CDbCallThread::Loop(std::shared_ptr<CCall::CShared> shared)
{
    CCall call(shared.get());
    CDbConnection connection;
    while (true)
    {
        Work work;
        {
            std::unique_lock lock(shared->m_mutex);
            shared->m_wake.wait(lock, [&] { return shared->m_bStop || shared->m_work; });
            if (!shared->m_work)
                return;
            work = std::move(shared->m_work);
            shared->m_work = nullptr;
        }
        work(call, connection);
        bool abandoned = false;
        {
            const std::lock_guard lock(shared->m_mutex);
            shared->m_bBusy = false;
            abandoned = shared->m_bAbandoned;
            shared->m_ended.notify_all();
        }
        // A connection given up is closed here, however long its driver
        // takes to let go.
        if (abandoned)
            return;
    }
}
