#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

class CDbConnection;

// The thread that owns one connection and makes every ODBC call on it, so
// that the caller can stop waiting for a call that does not come back: a
// server stopped while its kernel still acknowledges every packet answers
// no time-out of the driver's. The connection lives and dies on this
// thread; a call that ran past the bound keeps the thread and the
// connection for good, and the caller takes a new one.
class CDbCallThread
{
public:
    using Bound = std::optional<std::chrono::milliseconds>;

    // Handed to the work: the way back into the caller's memory.
    class CCall
    {
    public:
        // Runs callerCode (code of the caller's, touching its memory)
        // unless the caller has stopped waiting, and counts as progress:
        // the bound starts again after it. False when the caller stopped
        // waiting; the work must then end without touching anything of the
        // caller's.
        bool Progress(const std::function<void()>& callerCode);

        // For work run on the caller's own thread: Progress just runs.
        CCall() = default;

    private:
        friend class CDbCallThread;
        struct CShared;
        explicit CCall(CShared* shared) : m_pShared(shared) {}
        CShared* m_pShared = nullptr;
    };

    using Work = std::function<void(CCall&, CDbConnection&)>;

    CDbCallThread();
    // Ends the thread, and closes what the connection still holds, when it
    // is idle; one left running past its bound ends by itself.
    ~CDbCallThread();
    CDbCallThread(const CDbCallThread&) = delete;
    CDbCallThread& operator=(const CDbCallThread&) = delete;

    // Runs work on the thread with its connection and waits until it ends,
    // or until it has made no progress for bound (none: for ever). False
    // when it ran past the bound; the thread is then of no further use.
    // work must hold by value whatever it touches outside CCall::Progress.
    bool Run(Work work, Bound bound);

private:
    static void Loop(std::shared_ptr<CCall::CShared> shared);

    std::shared_ptr<CCall::CShared> m_shared;
    std::thread m_thread;
};
