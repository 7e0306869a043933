#include "common/ScanSimulator.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

constexpr int kAttempts = 5;

// A port that is free on loopback right now; another process may still take
// it before the simulator binds it, hence the retries.
std::uint16_t FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

} // namespace

ScanSimulator::ScanSimulator(const std::vector<std::string>& devices,
                             const std::vector<std::string>& extras)
{
    for (int attempt = 0; attempt < kAttempts && !Start(devices, extras); ++attempt)
        m_process.reset();
}

std::uint32_t ScanSimulator::BroadcastAddress()
{
    return inet_addr(kBroadcast);
}

std::string ScanSimulator::Address(int index)
{
    return "127.0.0." + std::to_string(index + 1);
}

bool ScanSimulator::Start(const std::vector<std::string>& devices,
                          const std::vector<std::string>& extras)
{
    m_nQueryPort = FreePort();
    if (m_nQueryPort == 0 || devices.size() > 254)
        return false;
    std::vector<std::string> argv{VARION_SIM, "--discovery", std::string(kBroadcast) + ":0"};
    for (size_t i = 0; i < devices.size(); ++i)
    {
        argv.push_back("--device");
        argv.push_back(Address(static_cast<int>(i)) + ":" + std::to_string(m_nQueryPort) + " " +
                       devices[i]);
    }
    for (const std::string& extra : extras)
    {
        argv.push_back("--discovery-extra");
        argv.push_back(extra);
    }
    m_process = std::make_unique<ChildProcess>(argv);
    std::string line;
    while (m_process->ReadLine(line) && line != "ready")
        if (line.starts_with("discovery\t"))
            m_nDiscoveryPort =
                static_cast<std::uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
    return line == "ready" && m_nDiscoveryPort != 0;
}

std::vector<long> ConnectionCounts(ChildProcess& sim)
{
    std::vector<long> counts;
    sim.Signal(SIGUSR1);
    std::string line;
    while (sim.ReadLine(line) && line != "end")
        if (line.starts_with("connections\t"))
            counts.push_back(std::stol(line.substr(line.rfind('\t') + 1)));
    return counts;
}

std::vector<long> ScanSimulator::Connections()
{
    return m_process ? ConnectionCounts(*m_process) : std::vector<long>{};
}
