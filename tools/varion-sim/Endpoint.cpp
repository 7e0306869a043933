#include "varion-sim/Endpoint.h"

#include <arpa/inet.h>
#include <charconv>

std::string CEndpoint::AddressText() const
{
    return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
           std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF);
}

bool CEndpoint::IsSimulated() const
{
    const std::uint32_t network = address >> 8;
    return IsLoopback() || network == 0xC00002 || network == 0xC63364 || network == 0xCB0071;
}

std::string CEndpoint::ToString() const
{
    return AddressText() + ':' + std::to_string(port);
}

sockaddr_in CEndpoint::ToSockaddr() const
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    sa.sin_port = htons(port);
    return sa;
}

CEndpoint CEndpoint::FromSockaddr(const sockaddr_in& sa)
{
    return {ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)};
}

bool ParseEndpoint(std::string_view text, CEndpoint& endpoint, std::string& error)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos)
    {
        error = "'" + std::string(text) + "' is not ADDRESS:PORT";
        return false;
    }
    const std::string address(text.substr(0, colon));
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
    {
        error = "'" + address + "' is not a dotted IPv4 address";
        return false;
    }
    const std::string_view portText = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() ||
        port > 65535)
    {
        error = "'" + std::string(portText) + "' is not a port number from 0 to 65535";
        return false;
    }
    endpoint.address = ntohl(parsed.s_addr);
    endpoint.port = static_cast<std::uint16_t>(port);
    return true;
}
