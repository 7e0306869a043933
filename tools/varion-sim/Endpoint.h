#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <string_view>

// An IPv4 address and a port, both in host byte order.
struct CEndpoint
{
    std::uint32_t address = 0;
    std::uint16_t port = 0;

    bool IsLoopback() const { return (address >> 24) == 127; }
    // Loopback, or one of the networks reserved for documentation
    // (192.0.2.0/24, 198.51.100.0/24, 203.0.113.0/24) that tests set up
    // inside network namespaces of their own.
    bool IsSimulated() const;
    bool IsAny() const { return address == 0; }
    // "A.B.C.D:PORT"
    std::string ToString() const;
    std::string AddressText() const;
    sockaddr_in ToSockaddr() const;
    static CEndpoint FromSockaddr(const sockaddr_in& sa);
};

// Reads "A.B.C.D:PORT" (dotted decimal, port 0 to 65535). On failure returns
// false and says why in error.
bool ParseEndpoint(std::string_view text, CEndpoint& endpoint, std::string& error);
