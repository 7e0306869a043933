#include "net/AsyncConnection.h"

#include "net/ChannelStatusSink.h"
#include "net/DescriptorLimit.h"
#include "net/SocketError.h"
#include "sensors/ChannelList.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>
#include <unordered_map>

namespace
{

constexpr int kOpensPerPass = 25;
// Descriptors left to the database, files and the event loop when the
// connections take what the limit allows.
constexpr long kReservedDescriptors = 64;

bool OutOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

bool HasLetter(const std::string& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// The connection that holds a socket or waits for a lookup; null for none.
// (The event may close the socket, and its entry with it.)
CAsyncConnection* Find(const std::unordered_map<int, CAsyncConnection*>& index, int handle)
{
    const auto found = handle >= 0 ? index.find(handle) : index.end();
    return found != index.end() ? found->second : nullptr;
}

// Lookup results are delivered here, on the main thread, and passed on by id;
// the object lives as long as the process so that a result that nobody waits
// for any more still has somewhere harmless to go.
QObject* LookupContext()
{
    static QObject* context = new QObject;
    return context;
}

CSocketMessage LookupResult(const QHostInfo& info)
{
    CSocketMessage message;
    message.kind = CSocketMessage::Kind::HostResolved;
    message.handle = info.lookupId();
    if (info.error() == QHostInfo::HostNotFound)
        message.error = SocketError::kHostNotFound;
    else if (info.error() != QHostInfo::NoError)
        message.error = SocketError::kTryAgain;
    else
    {
        const auto addresses = info.addresses();
        const auto ipv4 = std::find_if(addresses.begin(), addresses.end(),
                                       [](const QHostAddress& address) {
                                           return address.protocol() == QHostAddress::IPv4Protocol;
                                       });
        if (ipv4 == addresses.end())
            message.error = SocketError::kHostNotFound;
        else
            message.address = htonl(ipv4->toIPv4Address());
    }
    return message;
}

} // namespace

struct CAsyncConnection::Registry
{
    struct Due
    {
        std::int64_t tick;
        std::uint64_t sequence;
        CAsyncConnection* connection;
        bool operator<(const Due& other) const
        {
            return std::tie(tick, other.sequence) < std::tie(other.tick, sequence);
        }
    };

    std::int64_t ticks = 0;
    std::uint64_t sequences = 0;
    std::set<Due> due;
    std::unordered_map<int, CAsyncConnection*> bySocket;
    std::unordered_map<int, CAsyncConnection*> byLookup;
    std::list<CAsyncConnection*> pendingOpens;
    QTimer* pacer = nullptr;
    // How many sockets the connections may hold at once, counted afresh at
    // most once a tick, and only when they have reached it.
    long socketBudget = 0;
    std::int64_t budgetTick = -1;
    // The pacer waits for a socket to close or the next tick.
    bool waitingForDescriptor = false;

    bool HasDescriptorForSocket()
    {
        const long held = static_cast<long>(bySocket.size());
        if (budgetTick < 0 || (held >= socketBudget && budgetTick != ticks))
        {
            const long free = FreeDescriptors();
            // Not knowing, the shortage shows when a socket cannot be opened.
            socketBudget =
                free < 0 ? std::numeric_limits<long>::max() : held + free - kReservedDescriptors;
            budgetTick = ticks;
        }
        return held < socketBudget;
    }
    void ResumeOpening()
    {
        if (!waitingForDescriptor || pendingOpens.empty())
            return;
        waitingForDescriptor = false;
        pacer->start();
    }
};

CAsyncConnection::Registry& CAsyncConnection::Shared()
{
    static Registry registry;
    return registry;
}

std::int64_t CAsyncConnection::TickCount()
{
    return Shared().ticks;
}

CAsyncConnection::CAsyncConnection(std::string host, std::uint16_t port, int reloadTicks,
                                   int failedRetryTicks)
    : m_strHost(std::move(host)), m_nPort(port), m_nReloadTicks(reloadTicks),
      m_nFailedRetryTicks(failedRetryTicks), m_nSequence(Shared().sequences++)
{
    SetCountdown(0);
    // NextOwnTick of a subclass is not known yet: the next tick asks it.
    m_nScheduledTick = TickCount() + 1;
    Shared().due.insert({m_nScheduledTick, m_nSequence, this});
}

CAsyncConnection::~CAsyncConnection()
{
    CancelOpen();
    CloseSocket();
    SetLookup(-1);
    if (m_nScheduledTick != kNever)
        Shared().due.erase({m_nScheduledTick, m_nSequence, this});
}

void CAsyncConnection::Start(IChannelStatusSink* sink, CSensorChannel* owner)
{
    if (sink == nullptr)
        return;
    m_pSink = sink;
    m_pOwner = owner;
    if (!IsConnected())
    {
        Connect();
        Notify();
    }
    Reschedule();
}

void CAsyncConnection::Stop()
{
    Close(Stopped, 0);
}

void CAsyncConnection::DispatchSocketMessage(const CSocketMessage& message)
{
    Registry& registry = Shared();
    switch (message.kind)
    {
    case CSocketMessage::Kind::Tick:
    {
        const std::int64_t tick = ++registry.ticks;
        registry.ResumeOpening();
        // A connection removed meanwhile has left the queue with its entry.
        while (!registry.due.empty() && registry.due.begin()->tick <= tick)
        {
            CAsyncConnection* connection = registry.due.begin()->connection;
            registry.due.erase(registry.due.begin());
            connection->m_nScheduledTick = kNever;
            connection->Tick();
            connection->Reschedule();
        }
        break;
    }
    case CSocketMessage::Kind::SocketEvent:
        if (CAsyncConnection* connection = Find(registry.bySocket, message.handle))
        {
            connection->HandleEvent(message.event, message.error);
            connection->Reschedule();
        }
        break;
    case CSocketMessage::Kind::HostResolved:
        if (CAsyncConnection* connection = Find(registry.byLookup, message.handle))
        {
            connection->OnHostResolved(message.error, message.address);
            connection->Reschedule();
        }
        break;
    }
}

void CAsyncConnection::Connect()
{
    if (m_nState != Waiting && m_nState != Failed && m_nState != Stopped)
        return;
    if (HasLetter(m_strHost))
    {
        m_nState = Resolving;
        SetLookup(QHostInfo::lookupHost(QString::fromStdString(m_strHost), LookupContext(),
                                        [](const QHostInfo& info)
                                        { DispatchSocketMessage(LookupResult(info)); }));
        return;
    }
    const in_addr_t address = ::inet_addr(m_strHost.c_str());
    if (address == INADDR_NONE)
    {
        // A malformed address will not get better by itself.
        m_nLastError = SocketError::kInvalidArgument;
        Fail(false);
        return;
    }
    m_nState = Connecting;
    RequestOpen(address);
}

void CAsyncConnection::RequestOpen(std::uint32_t address)
{
    Registry& registry = Shared();
    m_nPendingAddress = address;
    m_bOpenPending = true;
    m_pendingOpen = registry.pendingOpens.insert(registry.pendingOpens.end(), this);
    if (registry.pacer == nullptr)
    {
        // Lives as long as the process, like the queue it serves.
        registry.pacer = new QTimer;
        registry.pacer->setInterval(0);
        QObject::connect(registry.pacer, &QTimer::timeout, &CAsyncConnection::OpenPending);
    }
    if (!registry.pacer->isActive())
        registry.pacer->start();
}

void CAsyncConnection::CancelOpen()
{
    if (!m_bOpenPending)
        return;
    m_bOpenPending = false;
    Shared().pendingOpens.erase(m_pendingOpen);
}

void CAsyncConnection::OpenPending()
{
    // A few sockets per pass of the event loop: when a thousand devices are
    // due in the same tick, the loop still answers between the batches. The
    // rest wait their turn, also for a descriptor: the device sees its
    // request later, nothing else.
    Registry& registry = Shared();
    std::list<CAsyncConnection*>& pending = registry.pendingOpens;
    for (int opened = 0; opened < kOpensPerPass && !pending.empty(); ++opened)
    {
        if (!registry.HasDescriptorForSocket())
        {
            // Holding none, nothing frees one of ours: the shortage is the
            // process's, and shown, unless the system's was seen.
            CAsyncConnection* first = pending.front();
            if (registry.bySocket.empty() &&
                first->m_nLastError != SocketError::kTooManyOpenFilesInSystem)
                first->ShowDescriptorShortage(SocketError::kTooManyOpenFiles);
            registry.waitingForDescriptor = true;
            break;
        }
        CAsyncConnection* connection = pending.front();
        pending.pop_front();
        connection->m_bOpenPending = false;
        connection->Open();
    }
    if (pending.empty() || registry.waitingForDescriptor)
        registry.pacer->stop();
}

void CAsyncConnection::Open()
{
    m_nSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_nSocket < 0 && OutOfDescriptors(errno))
    {
        // Something else took what the budget left: first in line again,
        // with the shortage shown, until a descriptor comes free.
        const int error = MapSocketErrno(errno);
        Registry& registry = Shared();
        m_bOpenPending = true;
        m_pendingOpen = registry.pendingOpens.insert(registry.pendingOpens.begin(), this);
        registry.socketBudget = static_cast<long>(registry.bySocket.size());
        registry.budgetTick = registry.ticks;
        registry.waitingForDescriptor = true;
        ShowDescriptorShortage(error);
        return;
    }
    if (m_nSocket < 0)
    {
        RecordError(MapSocketErrno(errno));
        m_bRetryFailed = m_nFailedRetryTicks > 0;
        SetCountdown(m_nFailedRetryTicks);
        m_nState = Failed;
        Notify();
        Reschedule();
        return;
    }
    Shared().bySocket[m_nSocket] = this;
    WatchSocket();
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(m_nPort);
    peer.sin_addr.s_addr = m_nPendingAddress;
    m_bConnectPending = true;
    m_pWriteNotifier->setEnabled(true);
    if (::connect(m_nSocket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
        RecordError(MapSocketErrno(errno)) != SocketError::kWouldBlock)
        Fail(true);
}

void CAsyncConnection::ShowDescriptorShortage(int error)
{
    if (m_nLastError == error)
        return;
    m_nLastError = error;
    Notify();
}

void CAsyncConnection::SetLookup(int lookupId)
{
    Registry& registry = Shared();
    if (m_nLookupId >= 0)
        registry.byLookup.erase(m_nLookupId);
    m_nLookupId = lookupId;
    if (lookupId >= 0)
        registry.byLookup[lookupId] = this;
}

void CAsyncConnection::OnHostResolved(int error, std::uint32_t address)
{
    SetLookup(-1);
    if (error != 0)
    {
        m_nLastError = error;
        Fail(true);
        return;
    }
    m_nState = Connecting;
    Notify();
    RequestOpen(address);
}

int CAsyncConnection::RecordError(int error)
{
    if (error != 0 && error != SocketError::kWouldBlock)
        m_nLastError = error;
    return error;
}

void CAsyncConnection::Fail(bool retry)
{
    m_bRetryFailed = retry && m_nFailedRetryTicks > 0;
    Close(Failed, m_bRetryFailed ? m_nFailedRetryTicks : 0);
}

void CAsyncConnection::HandleEvent(int event, int error)
{
    switch (event)
    {
    case CSocketMessage::Read:
        OnReceive();
        break;
    case CSocketMessage::Write:
        OnSend();
        break;
    case CSocketMessage::Connect:
        OnConnect(error);
        break;
    case CSocketMessage::Close:
        OnClose(error);
        break;
    default:
        break;
    }
}

void CAsyncConnection::OnConnect(int error)
{
    m_nLastError = error;
    if (error == 0)
        m_nState = Connected;
    else
        Close(Waiting, error == SocketError::kConnectionRefused ? 50 : 1);
    if (IsConnected())
        Notify();
}

void CAsyncConnection::OnClose(int error)
{
    if (error != 0)
        m_nLastError = error;
    CloseSocket();
}

long CAsyncConnection::Send(const char* buffer, std::size_t length)
{
    const long sent = ::send(m_nSocket, buffer, length, MSG_NOSIGNAL);
    if (sent < 0 && RecordError(MapSocketErrno(errno)) != SocketError::kWouldBlock && IsConnected())
        Close(Waiting, 1);
    return sent;
}

long CAsyncConnection::Receive(char* buffer, std::size_t length)
{
    const long received = ::recv(m_nSocket, buffer, length, 0);
    if (received < 0 && RecordError(MapSocketErrno(errno)) != SocketError::kWouldBlock)
        Close(Waiting, 1);
    return received;
}

void CAsyncConnection::Close(int nextState, int delayTicks)
{
    if (nextState > Stopped)
        nextState = Stopped;
    SetCountdown(delayTicks);
    CancelOpen();
    // Cancelling a lookup is forgetting its id: the result, whenever it comes,
    // finds no connection waiting for it. (Aborting it inside Qt as well
    // would leak the callback of every aborted lookup.)
    SetLookup(-1);
    if (m_nSocket >= 0)
    {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const bool connected =
            ::getpeername(m_nSocket, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
        CloseSocket();
        if (connected)
            OnClose(0);
    }
    m_nState = nextState;
    Notify();
    Reschedule();
}

void CAsyncConnection::Tick()
{
    m_bInOnTick = true;
    OnTick();
    m_bInOnTick = false;
    if (m_nCountdownDueTick > TickCount())
        return;
    SetCountdown(m_nReloadTicks);
    if (m_nState == Waiting || (m_nState == Failed && m_bRetryFailed))
        Connect();
}

void CAsyncConnection::SetCountdown(int delayTicks)
{
    // A countdown of n runs out at the nth tick that counts it down, and
    // every tick counts at least once.
    m_nCountdownDueTick = TickCount() - (m_bInOnTick ? 1 : 0) + std::max(delayTicks, 1);
}

std::int64_t CAsyncConnection::NextTick() const
{
    std::int64_t next = NextOwnTick();
    // In the other states the countdown only starts over; whatever enters
    // these two sets it afresh.
    if (m_nState == Waiting || (m_nState == Failed && m_bRetryFailed))
        next = std::min(next, m_nCountdownDueTick);
    return next == kNever ? kNever : std::max(next, TickCount() + 1);
}

void CAsyncConnection::Reschedule()
{
    const std::int64_t next = NextTick();
    if (next == m_nScheduledTick)
        return;
    Registry& registry = Shared();
    if (m_nScheduledTick != kNever)
        registry.due.erase({m_nScheduledTick, m_nSequence, this});
    m_nScheduledTick = next;
    if (next != kNever)
        registry.due.insert({next, m_nSequence, this});
}

void CAsyncConnection::Notify()
{
    if (m_pSink == nullptr)
        return;
    IChannelStatusSink* sink = m_pSink;
    CSensorChannel* owner = m_pOwner;
    // Posted, not sent: the sink never runs inside a connection's handler,
    // and a channel deleted meanwhile is not reported.
    QMetaObject::invokeMethod(
        sink->NotifyContext(),
        [sink, owner]
        {
            if (owner == nullptr || CChannelList::Contains(owner))
                sink->OnChannelStatus(owner);
        },
        Qt::QueuedConnection);
}

void CAsyncConnection::WatchSocket()
{
    if (!m_pReadNotifier)
    {
        m_pReadNotifier = std::make_unique<QSocketNotifier>(QSocketNotifier::Read);
        m_pWriteNotifier = std::make_unique<QSocketNotifier>(QSocketNotifier::Write);
        QObject::connect(m_pReadNotifier.get(), &QSocketNotifier::activated, m_pReadNotifier.get(),
                         [this] { OnReadable(); });
        QObject::connect(m_pWriteNotifier.get(), &QSocketNotifier::activated,
                         m_pWriteNotifier.get(), [this] { OnWritable(); });
    }
    // setSocket leaves both disabled until a connect is under way.
    m_pReadNotifier->setSocket(m_nSocket);
    m_pWriteNotifier->setSocket(m_nSocket);
}

void CAsyncConnection::CloseSocket()
{
    if (m_nSocket < 0)
        return;
    // Stop watching before the descriptor can be reused by another socket.
    m_pReadNotifier->setEnabled(false);
    m_pWriteNotifier->setEnabled(false);
    m_bConnectPending = false;
    Shared().bySocket.erase(m_nSocket);
    ::close(m_nSocket);
    m_nSocket = -1;
    Shared().ResumeOpening();
}

void CAsyncConnection::OnWritable()
{
    m_pWriteNotifier->setEnabled(false);
    if (!m_bConnectPending)
        return;
    m_bConnectPending = false;
    const int socket = m_nSocket;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    CSocketMessage message;
    message.kind = CSocketMessage::Kind::SocketEvent;
    message.handle = socket;
    message.event = CSocketMessage::Connect;
    message.error = MapSocketErrno(error);
    DispatchSocketMessage(message);
    if (error != 0 || m_nSocket != socket || !IsConnected())
        return;
    // Data may flow from now on; the request goes out on the first write event.
    m_pReadNotifier->setEnabled(true);
    message.event = CSocketMessage::Write;
    message.error = 0;
    DispatchSocketMessage(message);
}

void CAsyncConnection::OnReadable()
{
    CSocketMessage message;
    message.kind = CSocketMessage::Kind::SocketEvent;
    message.handle = m_nSocket;
    char probe = 0;
    // Peek so that the data stays for OnReceive and a close is seen only
    // after everything sent before it has been read.
    const long peeked = ::recv(m_nSocket, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0)
        message.event = CSocketMessage::Read;
    else if (peeked == 0)
        message.event = CSocketMessage::Close;
    else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return;
    else
    {
        message.event = CSocketMessage::Close;
        message.error = MapSocketErrno(errno);
    }
    DispatchSocketMessage(message);
}
