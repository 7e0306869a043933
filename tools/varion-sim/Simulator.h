#pragma once

#include "varion-sim/DiscoveryResponder.h"
#include "varion-sim/EventLoop.h"
#include "varion-sim/SimDevice.h"
#include "varion-sim/SimOptions.h"

#include <memory>
#include <string>
#include <vector>

// The whole simulator: every device, the discovery responder and the signals
// that ask for counts or an end, on one event loop.
class CSimulator : public CPollable
{
public:
    explicit CSimulator(const CSimOptions& options);
    ~CSimulator() override;
    CSimulator(const CSimulator&) = delete;
    CSimulator& operator=(const CSimulator&) = delete;

    // Opens every socket and prints the device and discovery lines and
    // "ready"; on failure returns false and says why in error.
    bool Open(std::string& error);
    // Serves until SIGTERM or SIGINT, then prints the counts.
    void Run();

    void OnEvents(std::uint32_t events) override;

private:
    void PrintCounts();

    CEventLoop m_loop;
    std::vector<std::unique_ptr<CSimDevice>> m_devices;
    std::unique_ptr<CDiscoveryResponder> m_pDiscovery;
    int m_nSignalFd = -1;
};
