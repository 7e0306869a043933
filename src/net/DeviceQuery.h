#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Blocking name resolution. Leading white space is skipped and at most 99
// characters are looked at. Text with a letter is looked up as a host name,
// anything else is read as a dotted address. Returns how many IPv4 addresses
// the host has (0 when it has none or cannot be resolved) and writes the first
// of them, in network byte order, into addresses.
int ResolveHost(std::string_view text, std::span<std::uint32_t> addresses);

// Sends "GET /Single\r\n" to the device at host and port and returns the
// bytes of its reply read about 100 ms after it became readable: at most 199,
// none when the device closed without sending. Blocks for the lookup and then
// for at most about 4.1 s. Nothing (std::nullopt) when the host cannot be
// resolved, the connection fails, nothing arrives within 4 s or the receive
// fails.
std::optional<std::string> QueryDeviceReply(std::string_view host, std::uint16_t port);

// One slot of a reply that carries a value.
struct CInstalledSensor
{
    int m_nSensorNo = 0;
    std::string m_strUnit; // decoded, at most 4 bytes of the reply
};

// The slots of a reply that carry a value, in slot order. The reply is read
// up to its first NUL byte, as the reply parser reads it.
std::vector<CInstalledSensor> ReadInstalledSensors(std::string reply);
