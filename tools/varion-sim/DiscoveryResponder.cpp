#include "varion-sim/DiscoveryResponder.h"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

constexpr size_t kAnnouncementSize = 62;
// Askers that flood faster than their answers leave get no more answers
// queued beyond this.
constexpr size_t kMaxPending = 1 << 20;

} // namespace

CDiscoveryResponder::CDiscoveryResponder(CEventLoop& loop, const CEndpoint& bindTo,
                                         std::vector<std::string> answers)
    : m_loop(loop), m_endpoint(bindTo), m_answers(std::move(answers))
{
}

CDiscoveryResponder::~CDiscoveryResponder()
{
    if (m_nFd >= 0)
        close(m_nFd);
}

std::string CDiscoveryResponder::Announcement(std::uint32_t address)
{
    std::string datagram(kAnnouncementSize, '\0');
    for (int i = 0; i < 4; ++i)
        datagram[6 + i] = static_cast<char>((address >> (8 * i)) & 0xFF);
    return datagram;
}

bool CDiscoveryResponder::Open(std::string& error)
{
    m_nFd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_nFd < 0)
    {
        error = std::string("cannot create a socket: ") + std::strerror(errno);
        return false;
    }
    // Several simulators and tests may listen for the same broadcast.
    const int on = 1;
    setsockopt(m_nFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = m_endpoint.ToSockaddr();
    if (bind(m_nFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        error = "cannot bind discovery to " + m_endpoint.ToString() + ": " + std::strerror(errno);
        return false;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(m_nFd, reinterpret_cast<sockaddr*>(&bound), &length);
    m_endpoint = CEndpoint::FromSockaddr(bound);
    if (!m_loop.Watch(m_nFd, EPOLLIN, this))
    {
        error = std::string("cannot watch a socket: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void CDiscoveryResponder::OnEvents(std::uint32_t events)
{
    if (events & EPOLLIN)
        ReadQuery();
    if (!m_pending.empty() && (events & EPOLLOUT))
        SendPending();
}

void CDiscoveryResponder::ReadQuery()
{
    char query[2];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    // MSG_TRUNC reports the datagram's full length, so "?x" is not taken for "?".
    const ssize_t n = recvfrom(m_nFd, query, sizeof query, MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &length);
    if (n != 1 || query[0] != '?' || from.sin_family != AF_INET)
        return;
    // Bound to 0.0.0.0 the socket hears other networks too; answers go only
    // where simulated devices may be.
    if (!CEndpoint::FromSockaddr(from).IsSimulated())
        return;
    for (size_t i = 0; i < m_answers.size() && m_pending.size() < kMaxPending; ++i)
        m_pending.push_back({from, i});
    SendPending();
}

void CDiscoveryResponder::SendPending()
{
    while (!m_pending.empty())
    {
        const Pending& next = m_pending.front();
        const std::string& answer = m_answers[next.answer];
        const ssize_t n = sendto(m_nFd, answer.data(), answer.size(), MSG_NOSIGNAL,
                                 reinterpret_cast<const sockaddr*>(&next.to), sizeof next.to);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n < 0 && errno == EINTR)
            continue;
        // Sent, or refused for good (the asker vanished): either way done with it.
        m_pending.pop_front();
    }
    const bool wait = !m_pending.empty();
    if (wait != m_bWaitingToSend)
    {
        m_bWaitingToSend = wait;
        m_loop.Rewatch(m_nFd, wait ? EPOLLIN | EPOLLOUT : EPOLLIN, this);
    }
}
