#include "varion-sim/SimDevice.h"

#include "varion-sim/SimConnection.h"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// How long accepting rests when the process runs out of descriptors.
constexpr std::chrono::milliseconds kAcceptPause(100);

} // namespace

CSimDevice::CSimDevice(CEventLoop& loop, const CDeviceConfig& config)
    : m_loop(loop), m_config(config), m_endpoint(config.endpoint)
{
}

CSimDevice::~CSimDevice()
{
    m_connections.clear();
    if (m_nListenFd >= 0)
        close(m_nListenFd);
}

bool CSimDevice::Open(std::string& error)
{
    const bool refuses = m_config.mode == EDeviceMode::Refuse;
    m_nListenFd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_nListenFd < 0)
    {
        error = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    // A listener may reuse a port whose old connections linger in TIME_WAIT.
    // A refusing device must not: two bound but idle sockets with SO_REUSEADDR
    // could share one port.
    const int on = 1;
    if (!refuses)
        setsockopt(m_nListenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = m_config.endpoint.ToSockaddr();
    if (bind(m_nListenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (!refuses && listen(m_nListenFd, SOMAXCONN) != 0))
    {
        error = "cannot listen on " + m_config.endpoint.ToString() + ": " + std::strerror(errno);
        return false;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(m_nListenFd, reinterpret_cast<sockaddr*>(&bound), &length);
    m_endpoint = CEndpoint::FromSockaddr(bound);
    if (!refuses && !m_loop.Watch(m_nListenFd, EPOLLIN, this))
    {
        error = std::string("cannot watch a socket: ") + std::strerror(errno);
        return false;
    }
    return true;
}

std::string CSimDevice::NextReply()
{
    return m_config.reply.Render(m_nPolls++);
}

void CSimDevice::Release(CSimConnection* connection)
{
    const auto found = m_connections.find(connection);
    if (found == m_connections.end())
        return;
    m_loop.DeleteLater(std::move(found->second));
    m_connections.erase(found);
}

void CSimDevice::OnEvents(std::uint32_t)
{
    AcceptPending();
}

void CSimDevice::AcceptPending()
{
    for (;;)
    {
        const int fd = accept4(m_nListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
        {
            // That connection died while queued; the next one may be fine.
            if (errno == ECONNABORTED || errno == EPROTO || errno == EINTR)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                PauseAccepting();
            return;
        }
        ++m_nConnections;
        auto connection = std::make_unique<CSimConnection>(m_loop, *this, fd);
        CSimConnection* raw = connection.get();
        m_connections.emplace(raw, std::move(connection));
        raw->Start();
    }
}

void CSimDevice::PauseAccepting()
{
    // Level-triggered: a listener left in the set while accept fails would
    // wake the loop at once, over and over.
    m_loop.Rewatch(m_nListenFd, 0, this);
    m_loop.AddTimer(kAcceptPause, [this] { m_loop.Rewatch(m_nListenFd, EPOLLIN, this); });
}
