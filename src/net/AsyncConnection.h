#pragma once

#include <cstdint>
#include <limits>
#include <list>
#include <memory>
#include <string>

class CSensorChannel;
class IChannelStatusSink;
class QSocketNotifier;
class QTimer;

// What the event loop hands to the connections: a tick of the owner's 100 ms
// timer, a readiness event of one socket, or the end of one host lookup.
struct CSocketMessage
{
    enum class Kind
    {
        Tick,
        SocketEvent,
        HostResolved,
    };
    enum Event
    {
        Read = 1,
        Write = 2,
        Connect = 16,
        Close = 32,
    };

    Kind kind = Kind::Tick;
    int handle = -1;           // the socket, or the lookup id
    int event = 0;             // for SocketEvent
    int error = 0;             // Windows Sockets number, 0 for none
    std::uint32_t address = 0; // resolved IPv4 address, network byte order
};

// A TCP client that never blocks: the socket is non-blocking and watched by
// the event loop, the host lookup runs asynchronously, and retries and
// time-outs are counted in ticks. Sockets are opened a few per pass of the
// event loop, so many connections falling due together never hold the loop
// up. A tick reaches only the connections that have something to do in it:
// each waits, ordered by that tick, until it comes, and socket events and
// lookup results find their connection by socket or lookup id. Everything
// happens on the main thread.
class CAsyncConnection
{
public:
    enum State
    {
        Waiting = 0,
        Failed = 1,
        Stopped = 2,
        Resolving = 3,
        Connecting = 4,
        Connected = 5,
    };

    // failedRetryTicks: how long a connection that failed to resolve or to
    // connect waits before it tries again; 0 never retries.
    CAsyncConnection(std::string host, std::uint16_t port, int reloadTicks, int failedRetryTicks);
    virtual ~CAsyncConnection();
    CAsyncConnection(const CAsyncConnection&) = delete;
    CAsyncConnection& operator=(const CAsyncConnection&) = delete;

    void Start(IChannelStatusSink* sink, CSensorChannel* owner);
    void Stop();

    // The one entry through which ticks, socket events and lookup results
    // reach the connections.
    static void DispatchSocketMessage(const CSocketMessage& message);

    bool IsConnected() const { return m_nState == Connected; }
    // Leaves the current attempt: cancels the lookup, closes the socket (a
    // connected one through OnClose, which may call Close again from
    // inside), then enters nextState with delayTicks until the next action.
    void Close(int nextState, int delayTicks);

    int State() const { return m_nState; }
    int LastError() const { return m_nLastError; }
    int Socket() const { return m_nSocket; }
    const std::string& Host() const { return m_strHost; }
    std::uint16_t Port() const { return m_nPort; }

protected:
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    // Ticks dispatched so far; during a tick, the number of that tick.
    static std::int64_t TickCount();
    // The tick at which OnTick next has something to do, kNever for none;
    // asked again after every tick, event, start, stop and close. By
    // default every tick.
    virtual std::int64_t NextOwnTick() const { return TickCount() + 1; }

    virtual void Connect();
    virtual void OnConnect(int error);
    virtual void OnClose(int error);
    virtual void OnReceive() {}
    virtual void OnSend() {}
    virtual void OnTick() {}
    // Posts the owner to the status sink; a connection never started has none.
    void Notify();

    long Send(const char* buffer, std::size_t length);
    long Receive(char* buffer, std::size_t length);

private:
    struct Registry;
    static Registry& Shared();

    int RecordError(int error);
    void HandleEvent(int event, int error);
    void OnHostResolved(int error, std::uint32_t address);
    void Tick();
    void Fail(bool retry);
    // The countdown to the next tick action, as the tick at which it runs
    // out. Set from OnTick, the tick under way already counts.
    void SetCountdown(int delayTicks);
    // The tick at which Tick has something to do, kNever for none.
    std::int64_t NextTick() const;
    // Files the connection under NextTick, or takes it out.
    void Reschedule();
    void SetLookup(int lookupId);
    static void OpenPending();
    // Shows why the connection waits for a socket; the next error or a
    // connection replaces it.
    void ShowDescriptorShortage(int error);
    void RequestOpen(std::uint32_t address);
    void CancelOpen();
    void Open();
    void CloseSocket();
    void WatchSocket();
    void OnReadable();
    void OnWritable();

    int m_nState = Stopped;
    int m_nLastError = 0;
    int m_nSocket = -1;
    CSensorChannel* m_pOwner = nullptr;
    std::string m_strHost;
    std::uint16_t m_nPort;
    IChannelStatusSink* m_pSink = nullptr;
    int m_nReloadTicks;
    std::int64_t m_nCountdownDueTick = 0;
    int m_nFailedRetryTicks;
    bool m_bRetryFailed = false;
    int m_nLookupId = -1;
    bool m_bOpenPending = false;
    std::list<CAsyncConnection*>::iterator m_pendingOpen;
    std::uint32_t m_nPendingAddress = 0;
    bool m_bConnectPending = false;
    bool m_bInOnTick = false;
    std::unique_ptr<QSocketNotifier> m_pReadNotifier;
    std::unique_ptr<QSocketNotifier> m_pWriteNotifier;
    // Among connections due in the same tick the newest acts first.
    std::uint64_t m_nSequence;
    std::int64_t m_nScheduledTick = kNever;
};
