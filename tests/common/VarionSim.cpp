#include "common/VarionSim.h"

#include <unistd.h>

namespace
{

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

Endpoint ParseEndpoint(const std::string& text)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return {};
    return {text.substr(0, colon), static_cast<std::uint16_t>(std::stoi(text.substr(colon + 1)))};
}

std::vector<std::string> Command(const std::vector<std::string>& args, const VarionSim::Wrap& wrap)
{
    std::vector<std::string> argv{VARION_SIM};
    argv.insert(argv.end(), args.begin(), args.end());
    return wrap ? wrap(argv) : argv;
}

} // namespace

VarionSim::VarionSim(const std::vector<std::string>& args, const Wrap& wrap)
    : m_process(Command(args, wrap))
{
    std::string line;
    while (!m_bReady && m_process.ReadLine(line))
    {
        const std::vector<std::string> fields = SplitTabs(line);
        m_bReady = line == "ready";
        if (fields[0] == "device" && fields.size() == 3 &&
            fields[1] == std::to_string(m_devices.size()))
            m_devices.push_back(ParseEndpoint(fields[2]));
        else if (fields[0] == "discovery" && fields.size() == 2)
            m_discovery = ParseEndpoint(fields[1]);
    }
}

std::vector<long> VarionSim::ReadCounts()
{
    std::vector<long> counts;
    std::string line;
    while (m_process.ReadLine(line) && line != "end")
    {
        const std::vector<std::string> fields = SplitTabs(line);
        if (fields.size() != 3 || fields[0] != "connections" ||
            fields[1] != std::to_string(counts.size()))
            return {};
        counts.push_back(std::stol(fields[2]));
    }
    return line == "end" ? counts : std::vector<long>{};
}

std::vector<std::string> DeviceArgs(const std::vector<std::string>& devices)
{
    std::vector<std::string> args;
    for (const std::string& device : devices)
        args.insert(args.end(), {"--device", device});
    return args;
}
