#include "net/DeviceChannel.h"

#include "net/SocketError.h"

#include <charconv>

namespace
{

// "%.1f" of the C locale, whatever locale the process runs in.
std::string FormatTenths(float value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, static_cast<double>(value),
                                      std::chars_format::fixed, 1);
    return std::string(text, result.ptr);
}

} // namespace

CDeviceChannel::CDeviceChannel(const CSensor& sensor)
    : CSensorChannel(sensor),
      m_connection(m_sensor.m_strAddress, m_sensor.m_nPort, kPollPeriodTicks)
{
}

const CDeviceConnection& CDeviceChannel::Source() const
{
    const auto* master = dynamic_cast<const CDeviceChannel*>(m_pMaster);
    return master != nullptr ? master->m_connection : m_connection;
}

void CDeviceChannel::Start(IChannelStatusSink* sink)
{
    if (m_sensor.m_bDisabled || m_pMaster != nullptr)
        return;
    m_connection.Start(sink, this);
}

void CDeviceChannel::Stop()
{
    m_connection.Stop();
}

const std::string& CDeviceChannel::GetStatusText()
{
    const CDeviceConnection& connection = Source();
    const int slot = m_sensor.m_nSensorNo;
    if (m_sensor.m_bDisabled)
        m_strStatus = "deaktiviert";
    else if (connection.State() == CAsyncConnection::Stopped)
        m_strStatus = "Verbindung getrennt";
    else if (connection.State() == CAsyncConnection::Resolving)
        m_strStatus = "Namensauflösung...";
    else if (connection.GotAny())
        m_strStatus =
            (connection.HasValue(slot) ? FormatTenths(connection.Value(slot)) + " " : "~ ") +
            m_sensor.m_strUnit;
    else if (connection.LastError() != 0 && connection.LastError() != SocketError::kTimedOut)
        // A timed-out attempt is retried at once; its text would only flicker.
        m_strStatus = FormatSocketError(connection.LastError());
    else
        m_strStatus = "Verbindungsaufbau...";
    return m_strStatus;
}

bool CDeviceChannel::GetValue(float& value, std::chrono::system_clock::time_point* readAt)
{
    const CDeviceConnection& connection = Source();
    const int slot = m_sensor.m_nSensorNo;
    value = connection.Value(slot);
    if (readAt != nullptr)
        *readAt = connection.ReadAt();
    return !connection.NoValue(slot) && connection.HasValue(slot);
}
