#include "net/ScanClient.h"

#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace
{

constexpr std::string_view kRequest = "GET /Single\r\n";
constexpr int kWaitMilliseconds = 100;

bool ConnectFailed(int fd, short events)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return true;
    return error != 0 || (events & POLLOUT) == 0;
}

} // namespace

CScanClient::CScanClient(std::uint32_t address, std::uint16_t port)
    : m_nAddress(address), m_nPort(port)
{
}

CScanClient::~CScanClient()
{
    CloseSocket();
}

CScanClient::CScanClient(CScanClient&& other) noexcept
    : m_bGotData(other.m_bGotData), m_nState(other.m_nState),
      m_nSocket(std::exchange(other.m_nSocket, -1)), m_nAddress(other.m_nAddress),
      m_nPort(other.m_nPort), m_nReceived(other.m_nReceived), m_szReply(other.m_szReply),
      m_tConnectStart(other.m_tConnectStart)
{
}

CScanClient& CScanClient::operator=(CScanClient&& other) noexcept
{
    if (this != &other)
    {
        CloseSocket();
        m_bGotData = other.m_bGotData;
        m_nState = other.m_nState;
        m_nSocket = std::exchange(other.m_nSocket, -1);
        m_nAddress = other.m_nAddress;
        m_nPort = other.m_nPort;
        m_nReceived = other.m_nReceived;
        m_szReply = other.m_szReply;
        m_tConnectStart = other.m_tConnectStart;
    }
    return *this;
}

void CScanClient::Start()
{
    m_nSocket = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_nSocket < 0)
        return;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(m_nPort);
    peer.sin_addr.s_addr = m_nAddress;
    m_nState = Connecting;
    m_tConnectStart = std::chrono::steady_clock::now();
    if (connect(m_nSocket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
        errno != EINPROGRESS)
    {
        CloseSocket();
        m_nState = Finished;
    }
}

void CScanClient::SendRequest()
{
    // A device that is gone shows at the receive.
    send(m_nSocket, kRequest.data(), kRequest.size(), MSG_NOSIGNAL);
    m_nState = RequestSent;
    m_nReceived = 0;
}

bool CScanClient::Receive()
{
    const ssize_t n = recv(m_nSocket, m_szReply.data() + m_nReceived,
                           static_cast<size_t>(kMaxReply - m_nReceived), 0);
    if (n < 0)
    {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return false;
        // A reset: what came before it is not trusted.
        CloseSocket();
        m_nState = Finished;
        return false;
    }
    if (n > 0)
    {
        m_nReceived += static_cast<int>(n);
        m_szReply[m_nReceived] = '\0';
        return true;
    }
    m_szReply[m_nReceived] = '\0';
    CloseSocket();
    m_bGotData = m_nReceived > 0;
    m_nState = Finished;
    return false;
}

void CScanClient::CloseSocket()
{
    if (m_nSocket >= 0)
        close(m_nSocket);
    m_nSocket = -1;
}

bool PollScanClients(std::span<CScanClient> clients)
{
    std::vector<pollfd> watched;
    std::vector<CScanClient*> owners;
    for (CScanClient& client : clients)
    {
        if (client.m_nSocket < 0)
            continue;
        // A connected socket is always writable; asking for that would turn
        // the wait into a spin.
        const short events = client.m_nState == CScanClient::Connecting ? POLLOUT : POLLIN;
        watched.push_back({client.m_nSocket, events, 0});
        owners.push_back(&client);
    }
    if (!watched.empty() && poll(watched.data(), watched.size(), kWaitMilliseconds) < 0)
        for (pollfd& entry : watched)
            entry.revents = 0;

    bool activity = false;
    for (size_t i = 0; i < watched.size(); ++i)
    {
        CScanClient& client = *owners[i];
        const short events = watched[i].revents;
        if (events == 0)
            continue;
        if (client.m_nState == CScanClient::RequestSent)
        {
            if (client.Receive())
                activity = true;
        }
        else if (client.m_nState == CScanClient::Connecting)
        {
            if (ConnectFailed(client.m_nSocket, events))
            {
                client.CloseSocket();
                client.m_nState = CScanClient::Finished;
            }
            else
                client.SendRequest();
        }
    }
    for (CScanClient& client : clients)
        if (client.m_nState == CScanClient::NotStarted)
            client.Start();
    return activity;
}

void RemoveScanClient(std::vector<CScanClient>& clients, size_t index)
{
    clients[index].CloseSocket();
    if (index + 1 != clients.size())
        clients[index] = std::move(clients.back());
    clients.pop_back();
}
