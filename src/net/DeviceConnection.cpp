#include "net/DeviceConnection.h"

#include "net/ReplyParser.h"
#include "sensors/Clock.h"

#include <algorithm>

namespace
{

constexpr char kRequest[] = "GET /Single\r\n";
constexpr int kReplyTicks = 100;
constexpr int kReplyTicksAfterData = 30;
constexpr int kRetryTicks = 50;
constexpr int kReloadTicks = 10;

} // namespace

CDeviceConnection::CDeviceConnection(std::string host, std::uint16_t port, int pollPeriodTicks)
    : CAsyncConnection(std::move(host), port, kReloadTicks, pollPeriodTicks),
      m_readAt(CClock::Current().UtcNow()), m_nPollPeriodTicks(pollPeriodTicks)
{
}

std::int64_t CDeviceConnection::NextOwnTick() const
{
    return State() == Connected ? m_nReplyDueTick : kNever;
}

void CDeviceConnection::Connect()
{
    m_bGotAny = false;
    m_startTime = CClock::Current().UtcNow();
    CAsyncConnection::Connect();
}

void CDeviceConnection::OnConnect(int error)
{
    const bool wasConnected = IsConnected();
    CAsyncConnection::OnConnect(error);
    // The reply time-out counts the ticks from here on.
    if (!wasConnected && IsConnected())
        m_nReplyDueTick = TickCount() + kReplyTicks + 1;
}

void CDeviceConnection::OnSend()
{
    m_nReceived = 0;
    Send(kRequest, sizeof kRequest - 1);
}

void CDeviceConnection::OnReceive()
{
    if (m_nReceived == kReplySize - 1)
    {
        // Longer than any real reply: keep what fits and parse it.
        Close(Waiting, kRetryTicks);
        return;
    }
    const long count = Receive(m_reply.data() + m_nReceived, kReplySize - 1 - m_nReceived);
    if (count < 0)
        return;
    // Once bytes flow, the rest of the reply has the shorter time-out,
    // counted from the next tick unless less is left anyway.
    if (m_nReceived == 0 && count > 0)
        m_nReplyDueTick = std::min(m_nReplyDueTick, TickCount() + kReplyTicksAfterData + 1);
    m_nReceived += static_cast<int>(count);
    m_reply[m_nReceived] = '\0';
}

void CDeviceConnection::OnClose(int error)
{
    CAsyncConnection::OnClose(error);
    if (error != 0 || m_nReceived == 0)
    {
        Close(Waiting, kRetryTicks);
        return;
    }
    m_readAt = CClock::Current().UtcNow();
    ParseReply();
    Close(Waiting, m_nPollPeriodTicks);
}

void CDeviceConnection::ParseReply()
{
    // The parser may write into the reply; it is not read again afterwards.
    char* field = m_reply.data();
    int slot = 0;
    for (; slot < kSlots; ++slot)
    {
        float value = 0;
        int valid = 0;
        char unit[5] = {};
        char* next = nullptr;
        if (ParseNextValue(field, &value, &valid, unit, &next) == 0)
            break;
        m_values[slot] = valid ? value : 0.0f;
        m_bNoValue[slot] = !valid;
        if (valid)
        {
            m_bHasValue[slot] = true;
            m_bGotAny = true;
        }
        field = next;
    }
    m_nSlotsInLastReply = slot;
    ++m_nReplies;
}

void CDeviceConnection::OnTick()
{
    if (State() == Connected && TickCount() >= m_nReplyDueTick)
        Close(Waiting, kRetryTicks);
}
