#pragma once

#include "common/LoopbackPort.h"
#include "common/Process.h"

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Where a simulated device or the discovery responder listens.
struct Endpoint
{
    std::string address;
    std::uint16_t port = 0;
};

// A running varion-sim with the endpoints it announced before "ready".
class VarionSim
{
public:
    using Wrap = std::function<std::vector<std::string>(const std::vector<std::string>&)>;

    // args follow the program name; wrap runs it elsewhere, such as in a
    // network namespace of the test.
    explicit VarionSim(const std::vector<std::string>& args, const Wrap& wrap = {});

    bool Ready() const { return m_bReady; }
    const std::vector<Endpoint>& Devices() const { return m_devices; }
    const Endpoint& Discovery() const { return m_discovery; }
    // Accepted connections per device, asked for now; empty when the report
    // is malformed.
    std::vector<long> Connections()
    {
        m_process.Signal(SIGUSR1);
        return ReadCounts();
    }
    // The next report as it comes, such as the one printed at exit.
    std::vector<long> ReadCounts();
    ChildProcess& Process() { return m_process; }

private:
    ChildProcess m_process;
    bool m_bReady = false;
    std::vector<Endpoint> m_devices;
    Endpoint m_discovery;
};

// The arguments that start one varion-sim device per entry.
std::vector<std::string> DeviceArgs(const std::vector<std::string>& devices);
