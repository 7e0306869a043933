#include "common/ScanSimulator.h"

ScanSimulator::ScanSimulator(const std::vector<std::string>& devices,
                             const std::vector<std::string>& extras)
{
    // Another process may take the query port before the simulator binds it.
    for (int attempt = 0; attempt < 5 && !Start(devices, extras); ++attempt)
        m_process.reset();
}

bool ScanSimulator::Start(const std::vector<std::string>& devices,
                          const std::vector<std::string>& extras)
{
    m_nQueryPort = FreeLoopbackPort();
    if (m_nQueryPort == 0 || devices.size() > 254)
        return false;
    std::vector<std::string> args{"--discovery", std::string(kBroadcast) + ":0"};
    for (size_t i = 0; i < devices.size(); ++i)
        args.insert(args.end(), {"--device", Address(static_cast<int>(i)) + ":" +
                                                 std::to_string(m_nQueryPort) + " " + devices[i]});
    for (const std::string& extra : extras)
        args.insert(args.end(), {"--discovery-extra", extra});
    m_process = std::make_unique<VarionSim>(args);
    m_nDiscoveryPort = m_process->Discovery().port;
    return m_process->Ready() && m_nDiscoveryPort != 0;
}
