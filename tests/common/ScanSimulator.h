#pragma once

#include "common/VarionSim.h"

#include <arpa/inet.h>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// varion-sim set up for the network scan on loopback: device k listens on
// 127.0.0.(k+1), all devices on one query port, and the discovery responder
// hears the loopback broadcast address.
class ScanSimulator
{
public:
    static constexpr const char* kBroadcast = "127.255.255.255";

    // Each device is "MODE[,announce=N] [REPLY]" as varion-sim reads it;
    // extras are hex datagrams sent after the devices' answers. At most 254
    // devices.
    explicit ScanSimulator(const std::vector<std::string>& devices,
                           const std::vector<std::string>& extras = {});

    bool Ready() const { return m_process != nullptr; }
    std::uint16_t QueryPort() const { return m_nQueryPort; }
    std::uint16_t DiscoveryPort() const { return m_nDiscoveryPort; }
    // The broadcast address in network byte order.
    static std::uint32_t BroadcastAddress() { return inet_addr(kBroadcast); }
    static std::string Address(int index) { return "127.0.0." + std::to_string(index + 1); }
    // Accepted connections per device, in device order; empty on failure.
    std::vector<long> Connections()
    {
        return m_process ? m_process->Connections() : std::vector<long>{};
    }

private:
    bool Start(const std::vector<std::string>& devices, const std::vector<std::string>& extras);

    std::unique_ptr<VarionSim> m_process;
    std::uint16_t m_nQueryPort = 0;
    std::uint16_t m_nDiscoveryPort = 0;
};
