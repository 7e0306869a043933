#include "varion-sim/Simulator.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string_view>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace
{

// Whoever reads our output waits for whole lines, so each goes out at once.
void PrintLine(std::string line)
{
    line += '\n';
    size_t written = 0;
    while (written < line.size())
    {
        const ssize_t n = write(STDOUT_FILENO, line.data() + written, line.size() - written);
        if (n > 0)
            written += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR)
            return; // nobody listens any more; the devices go on regardless
    }
}

} // namespace

CSimulator::CSimulator(const CSimOptions& options)
{
    m_devices.reserve(options.devices.size());
    for (const CDeviceConfig& config : options.devices)
        m_devices.push_back(std::make_unique<CSimDevice>(m_loop, config));
    if (options.discovery)
    {
        std::vector<std::string> answers;
        for (const CDeviceConfig& config : options.devices)
            answers.insert(answers.end(), static_cast<size_t>(config.announce),
                           CDiscoveryResponder::Announcement(config.endpoint.address));
        answers.insert(answers.end(), options.discoveryExtras.begin(),
                       options.discoveryExtras.end());
        m_pDiscovery =
            std::make_unique<CDiscoveryResponder>(m_loop, *options.discovery, std::move(answers));
    }
}

CSimulator::~CSimulator()
{
    if (m_nSignalFd >= 0)
        close(m_nSignalFd);
}

bool CSimulator::Open(std::string& error)
{
    if (!m_loop.IsOpen())
    {
        error = std::string("cannot create the event loop: ") + std::strerror(errno);
        return false;
    }
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGUSR1);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    m_nSignalFd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_nSignalFd < 0 || !m_loop.Watch(m_nSignalFd, EPOLLIN, this))
    {
        error = std::string("cannot watch signals: ") + std::strerror(errno);
        return false;
    }
    for (const auto& device : m_devices)
        if (!device->Open(error))
            return false;
    if (m_pDiscovery && !m_pDiscovery->Open(error))
        return false;

    for (size_t i = 0; i < m_devices.size(); ++i)
        PrintLine("device\t" + std::to_string(i) + '\t' + m_devices[i]->Endpoint().ToString());
    if (m_pDiscovery)
        PrintLine("discovery\t" + m_pDiscovery->Endpoint().ToString());
    PrintLine("ready");
    return true;
}

void CSimulator::Run()
{
    m_loop.Run();
    PrintCounts();
}

void CSimulator::OnEvents(std::uint32_t)
{
    signalfd_siginfo info{};
    while (read(m_nSignalFd, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
    {
        if (info.ssi_signo == SIGUSR1)
            PrintCounts();
        else
            m_loop.Stop();
    }
}

void CSimulator::PrintCounts()
{
    for (size_t i = 0; i < m_devices.size(); ++i)
        PrintLine("connections\t" + std::to_string(i) + '\t' +
                  std::to_string(m_devices[i]->Connections()));
    PrintLine("end");
}
