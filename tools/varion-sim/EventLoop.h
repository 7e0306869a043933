#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

// Something that owns a descriptor watched by the event loop.
class CPollable
{
public:
    virtual ~CPollable() = default;
    // events: the epoll event bits that came for the descriptor.
    virtual void OnEvents(std::uint32_t events) = 0;
};

// A single-threaded epoll loop with one-shot timers. Handlers run one at a
// time; nothing here ever blocks except the wait for the next event.
class CEventLoop
{
public:
    using Clock = std::chrono::steady_clock;
    // Deadline and a sequence number, so that equal deadlines stay apart.
    using TimerId = std::pair<Clock::time_point, std::uint64_t>;

    CEventLoop();
    ~CEventLoop();
    CEventLoop(const CEventLoop&) = delete;
    CEventLoop& operator=(const CEventLoop&) = delete;

    bool IsOpen() const { return m_nEpollFd >= 0; }
    // Level-triggered watch of fd; false with errno set when epoll refuses.
    bool Watch(int fd, std::uint32_t events, CPollable* handler);
    void Rewatch(int fd, std::uint32_t events, CPollable* handler);
    void Unwatch(int fd);

    TimerId AddTimer(std::chrono::milliseconds delay, std::function<void()> action);
    void CancelTimer(const TimerId& id);

    // Destroys the object once the events of the current wait are handled, so
    // that a handler may retire itself.
    void DeleteLater(std::unique_ptr<CPollable> object);

    // Handles events and timers until Stop().
    void Run();
    void Stop() { m_bStopped = true; }

private:
    int WaitMillis() const;
    void RunDueTimers();

    int m_nEpollFd = -1;
    bool m_bStopped = false;
    std::uint64_t m_nTimerSequence = 0;
    std::map<TimerId, std::function<void()>> m_timers;
    std::vector<std::unique_ptr<CPollable>> m_retired;
};
