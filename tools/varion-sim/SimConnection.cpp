#include "varion-sim/SimConnection.h"

#include "varion-sim/SimDevice.h"

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

constexpr std::string_view kRequest = "GET /Single\r\n";

bool WouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

} // namespace

CSimConnection::CSimConnection(CEventLoop& loop, CSimDevice& device, int fd)
    : m_loop(loop), m_device(device), m_nFd(fd)
{
}

CSimConnection::~CSimConnection()
{
    if (m_timer)
        m_loop.CancelTimer(*m_timer);
    if (m_nFd >= 0)
        close(m_nFd);
}

void CSimConnection::Start()
{
    m_nWatched = EPOLLIN;
    if (!m_loop.Watch(m_nFd, m_nWatched, this))
        Finish();
}

void CSimConnection::OnEvents(std::uint32_t events)
{
    if (m_nFd < 0)
        return;
    if (events & (EPOLLERR | EPOLLHUP))
    {
        // The client is gone (reset, or both directions shut): nothing can
        // reach it any more.
        Finish();
        return;
    }
    if (events & EPOLLIN)
    {
        if (m_phase == EPhase::Request)
            ReadRequest();
        else if (!Discard())
        {
            m_bClientClosed = true;
            if (m_phase == EPhase::Holding)
                Finish();
            else
                UpdateWatch();
        }
    }
    if (m_nFd >= 0 && m_phase == EPhase::Sending && (events & EPOLLOUT))
        Flush();
}

void CSimConnection::ReadRequest()
{
    char buffer[kRequest.size()];
    const ssize_t n = recv(m_nFd, buffer, kRequest.size() - m_strRequest.size(), 0);
    if (n <= 0)
    {
        if (n < 0 && WouldBlock())
            return;
        Finish();
        return;
    }
    const std::string_view got(buffer, static_cast<size_t>(n));
    const size_t lineEnd = got.find('\n');
    m_strRequest.append(
        got.substr(0, lineEnd == std::string_view::npos ? got.size() : lineEnd + 1));
    if (lineEnd == std::string_view::npos && m_strRequest.size() < kRequest.size())
        return;
    if (m_strRequest != kRequest)
        Finish();
    else
        Answer();
}

void CSimConnection::Answer()
{
    const CDeviceConfig& config = m_device.Config();
    const auto count = static_cast<size_t>(config.modeValue);
    switch (config.mode)
    {
    case EDeviceMode::Reply:
        Send(m_device.NextReply(), true);
        break;
    case EDeviceMode::Silent:
        m_phase = EPhase::Holding;
        UpdateWatch();
        break;
    case EDeviceMode::Stall:
    {
        std::string reply = m_device.NextReply();
        reply.resize(std::min(count, reply.size()));
        Send(std::move(reply), false);
        break;
    }
    case EDeviceMode::Oversize:
    {
        std::string reply = m_device.NextReply();
        reply.resize(count, 'x');
        Send(std::move(reply), true);
        break;
    }
    case EDeviceMode::Delay:
        m_phase = EPhase::Waiting;
        UpdateWatch();
        m_timer = m_loop.AddTimer(std::chrono::milliseconds(config.modeValue),
                                  [this]
                                  {
                                      m_timer.reset();
                                      Send(m_device.NextReply(), true);
                                  });
        break;
    case EDeviceMode::Trickle:
        m_strOutput = m_device.NextReply();
        m_nSent = 0;
        m_phase = EPhase::Waiting;
        UpdateWatch();
        Trickle();
        break;
    case EDeviceMode::Reset:
        Finish(true);
        break;
    case EDeviceMode::Close:
    case EDeviceMode::Refuse:
        Finish();
        break;
    }
}

void CSimConnection::Send(std::string bytes, bool closeAfter)
{
    m_strOutput = std::move(bytes);
    m_nSent = 0;
    m_bCloseAfterSend = closeAfter;
    m_phase = EPhase::Sending;
    Flush();
}

void CSimConnection::Flush()
{
    while (m_nSent < m_strOutput.size())
    {
        const ssize_t n =
            send(m_nFd, m_strOutput.data() + m_nSent, m_strOutput.size() - m_nSent, MSG_NOSIGNAL);
        if (n > 0)
            m_nSent += static_cast<size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else if (n < 0 && WouldBlock())
        {
            UpdateWatch();
            return;
        }
        else
        {
            Finish();
            return;
        }
    }
    std::string().swap(m_strOutput);
    if (m_bCloseAfterSend)
    {
        Finish();
        return;
    }
    m_phase = EPhase::Holding;
    UpdateWatch();
}

void CSimConnection::Trickle()
{
    if (m_nSent < m_strOutput.size())
    {
        const ssize_t n = send(m_nFd, m_strOutput.data() + m_nSent, 1, MSG_NOSIGNAL);
        if (n == 1)
            ++m_nSent;
        else if (n < 0 && !WouldBlock())
        {
            Finish();
            return;
        }
    }
    if (m_nSent == m_strOutput.size())
    {
        Finish();
        return;
    }
    // A client that does not read gets the same byte offered again next time.
    m_timer = m_loop.AddTimer(std::chrono::milliseconds(m_device.Config().modeValue),
                              [this]
                              {
                                  m_timer.reset();
                                  Trickle();
                              });
}

bool CSimConnection::Discard()
{
    char buffer[4096];
    const ssize_t n = recv(m_nFd, buffer, sizeof buffer, 0);
    return n > 0 || (n < 0 && WouldBlock());
}

void CSimConnection::Finish(bool abort)
{
    if (m_nFd < 0)
        return;
    if (m_timer)
    {
        m_loop.CancelTimer(*m_timer);
        m_timer.reset();
    }
    if (abort)
    {
        const linger hard{1, 0};
        setsockopt(m_nFd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    else
    {
        // Unread input would turn the close into a reset, and the client
        // could lose the reply still on its way.
        char buffer[4096];
        for (int i = 0; i < 16 && recv(m_nFd, buffer, sizeof buffer, 0) > 0; ++i)
        {
        }
    }
    close(m_nFd);
    m_nFd = -1;
    m_device.Release(this);
}

void CSimConnection::UpdateWatch()
{
    const std::uint32_t input = m_bClientClosed ? 0u : std::uint32_t{EPOLLIN};
    std::uint32_t wanted = 0;
    switch (m_phase)
    {
    case EPhase::Request:
    case EPhase::Holding:
        wanted = EPOLLIN;
        break;
    case EPhase::Waiting:
        wanted = input;
        break;
    case EPhase::Sending:
        wanted = EPOLLOUT | input;
        break;
    }
    if (wanted != m_nWatched)
    {
        m_nWatched = wanted;
        m_loop.Rewatch(m_nFd, wanted, this);
    }
}
