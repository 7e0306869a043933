#pragma once

#include "sensors/Sensor.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Finds sensor devices by one UDP broadcast "?" and asks each device that
// answers for its reply, up to 32 at a time. Blocks the calling thread: 1 s of
// discovery, then the queries until every device is done or 5 s pass without
// a received byte. Gives no messages.
class CNetworkScan
{
public:
    // One sensor per slot with a value; the receiver owns it.
    using SensorFound = std::function<void(std::unique_ptr<CSensor>)>;

    // Addresses in network byte order. The broadcast goes to
    // broadcastAddress:discoveryPort; devices are asked on queryPort, which
    // the sensors found also carry.
    CNetworkScan(std::uint32_t broadcastAddress, std::uint16_t discoveryPort,
                 std::uint16_t queryPort);

    // Calls found for each sensor as soon as its device has answered.
    void Run(const SensorFound& found);

    // errno of a discovery that could not be sent in the last run, else 0.
    int DiscoveryError() const { return m_nDiscoveryError; }

private:
    std::vector<std::uint32_t> Discover();

    std::uint32_t m_nBroadcastAddress;
    std::uint16_t m_nDiscoveryPort;
    std::uint16_t m_nQueryPort;
    int m_nDiscoveryError = 0;
};
