#pragma once

#include "sensors/Sensor.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Finds sensor devices by a UDP broadcast "?" and asks each device that
// answers for its reply, up to 32 at a time. Blocks the calling thread: 1 s of
// discovery, then the queries until every device is done or 5 s pass without
// a received byte.
class CNetworkScan
{
public:
    // One sensor per slot with a value; the receiver owns it.
    using SensorFound = std::function<void(std::unique_ptr<CSensor>)>;

    // Addresses in network byte order. The discovery goes to
    // broadcastAddress:discoveryPort; devices are asked on queryPort, which
    // the sensors found also carry. 255.255.255.255 stands for every local
    // network: the discovery then also goes to the directed broadcast address
    // of each interface that is up. Any other address is the only one used,
    // and the host's interfaces are not looked at.
    CNetworkScan(std::uint32_t broadcastAddress, std::uint16_t discoveryPort,
                 std::uint16_t queryPort);

    // Calls found for each sensor as soon as its device has answered.
    void Run(const SensorFound& found);

    // errno of the last run when not a single discovery datagram could be
    // sent, else 0.
    int DiscoveryError() const { return m_nDiscoveryError; }
    // "[number] text" in German for DiscoveryError().
    std::string DiscoveryErrorText() const;

    // How long one device may take from connect to its last byte; past it
    // the device counts as not answering. Tests shorten it.
    std::chrono::milliseconds m_nQueryDeadline{10000};

private:
    std::vector<std::uint32_t> Discover();

    std::uint32_t m_nBroadcastAddress;
    std::uint16_t m_nDiscoveryPort;
    std::uint16_t m_nQueryPort;
    int m_nDiscoveryError = 0;
};
