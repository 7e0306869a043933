#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <vector>

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
// up. Everything happens on the main thread.
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
    using List = std::list<CAsyncConnection*>;

    static List& Connections();
    static std::vector<List::iterator*>& Walks();

    int RecordError(int error);
    void HandleEvent(int event, int error);
    void OnHostResolved(int error, std::uint32_t address);
    void Tick();
    void Fail(bool retry);
    static QTimer* Pacer();
    static std::deque<CAsyncConnection*>& PendingOpens();
    static void OpenPending();
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
    int m_nCountdownTicks = 0;
    int m_nFailedRetryTicks;
    bool m_bRetryFailed = false;
    int m_nLookupId = -1;
    bool m_bOpenPending = false;
    std::uint32_t m_nPendingAddress = 0;
    bool m_bConnectPending = false;
    std::unique_ptr<QSocketNotifier> m_pReadNotifier;
    std::unique_ptr<QSocketNotifier> m_pWriteNotifier;
    List::iterator m_self;
};
