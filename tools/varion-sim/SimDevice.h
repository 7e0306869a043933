#pragma once

#include "varion-sim/DeviceConfig.h"
#include "varion-sim/EventLoop.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

class CSimConnection;

// One simulated device: its listening socket (only bound for "refuse"), the
// connections it has accepted and its count of served polls.
class CSimDevice : public CPollable
{
public:
    CSimDevice(CEventLoop& loop, const CDeviceConfig& config);
    ~CSimDevice() override;
    CSimDevice(const CSimDevice&) = delete;
    CSimDevice& operator=(const CSimDevice&) = delete;

    // Binds, and listens unless the device refuses; on failure returns false
    // and says why in error.
    bool Open(std::string& error);

    const CDeviceConfig& Config() const { return m_config; }
    // The bound address and port (the port picked when the config gave 0).
    const CEndpoint& Endpoint() const { return m_endpoint; }
    std::uint64_t Connections() const { return m_nConnections; }

    // The reply of the next poll; counts the poll as served.
    std::string NextReply();
    // Called by a connection that is done; it is destroyed after the current events.
    void Release(CSimConnection* connection);

    void OnEvents(std::uint32_t events) override;

private:
    void AcceptPending();
    void PauseAccepting();

    CEventLoop& m_loop;
    CDeviceConfig m_config;
    CEndpoint m_endpoint;
    int m_nListenFd = -1;
    std::uint64_t m_nConnections = 0;
    std::uint64_t m_nPolls = 0;
    std::unordered_map<CSimConnection*, std::unique_ptr<CSimConnection>> m_connections;
};
