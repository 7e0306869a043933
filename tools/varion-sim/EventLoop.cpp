#include "varion-sim/EventLoop.h"

#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>

CEventLoop::CEventLoop() : m_nEpollFd(epoll_create1(EPOLL_CLOEXEC)) {}

CEventLoop::~CEventLoop()
{
    if (m_nEpollFd >= 0)
        close(m_nEpollFd);
}

bool CEventLoop::Watch(int fd, std::uint32_t events, CPollable* handler)
{
    epoll_event event{};
    event.events = events;
    event.data.ptr = handler;
    return epoll_ctl(m_nEpollFd, EPOLL_CTL_ADD, fd, &event) == 0;
}

void CEventLoop::Rewatch(int fd, std::uint32_t events, CPollable* handler)
{
    epoll_event event{};
    event.events = events;
    event.data.ptr = handler;
    epoll_ctl(m_nEpollFd, EPOLL_CTL_MOD, fd, &event);
}

void CEventLoop::Unwatch(int fd)
{
    epoll_ctl(m_nEpollFd, EPOLL_CTL_DEL, fd, nullptr);
}

CEventLoop::TimerId CEventLoop::AddTimer(std::chrono::milliseconds delay,
                                         std::function<void()> action)
{
    const TimerId id{Clock::now() + delay, ++m_nTimerSequence};
    m_timers.emplace(id, std::move(action));
    return id;
}

void CEventLoop::CancelTimer(const TimerId& id)
{
    m_timers.erase(id);
}

void CEventLoop::DeleteLater(std::unique_ptr<CPollable> object)
{
    m_retired.push_back(std::move(object));
}

int CEventLoop::WaitMillis() const
{
    if (m_timers.empty())
        return -1;
    const auto left = m_timers.begin()->first.first - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    // Round up, so that a timer is never woken for just before its deadline.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

void CEventLoop::RunDueTimers()
{
    const auto now = Clock::now();
    while (!m_timers.empty() && m_timers.begin()->first.first <= now)
    {
        auto action = std::move(m_timers.begin()->second);
        m_timers.erase(m_timers.begin());
        action();
    }
}

void CEventLoop::Run()
{
    constexpr int kBatch = 256;
    epoll_event events[kBatch];
    while (!m_bStopped)
    {
        const int count = epoll_wait(m_nEpollFd, events, kBatch, WaitMillis());
        if (count < 0 && errno != EINTR)
            break;
        for (int i = 0; i < count && !m_bStopped; ++i)
            static_cast<CPollable*>(events[i].data.ptr)->OnEvents(events[i].events);
        m_retired.clear();
        if (!m_bStopped)
            RunDueTimers();
        m_retired.clear();
    }
}
