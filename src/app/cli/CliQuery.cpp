#include "app/cli/CliCommands.h"
#include "app/cli/CliReport.h"
#include "app/cli/CliSession.h"
#include "net/DeviceQuery.h"

#include <cstdio>
#include <optional>

namespace
{

constexpr std::uint16_t kDefaultPort = 80;

} // namespace

int RunQuery(CliArgs args)
{
    if (args.size() != 1 || args[0].empty())
        return UsageError("query");
    std::string host = args[0];
    std::uint16_t port = kDefaultPort;
    if (const size_t colon = host.rfind(':'); colon != std::string::npos)
    {
        const std::optional<std::uint16_t> given =
            ReadPort(std::string_view(host).substr(colon + 1));
        if (!given)
        {
            CliReport(CliLevel::Error, "tessaro-cli: query: bad port in '%s'", args[0].c_str());
            return 2;
        }
        port = *given;
        host.resize(colon);
    }

    const std::optional<std::string> reply = QueryDeviceReply(host, port);
    if (!reply || reply->empty())
    {
        CliReport(CliLevel::Error, "tessaro-cli: query: no reply from %s:%u", host.c_str(), port);
        return 1;
    }
    for (const CInstalledSensor& sensor : ReadInstalledSensors(*reply))
        std::printf("%d [%s]\n", sensor.m_nSensorNo, sensor.m_strUnit.c_str());
    return FlushStdout() ? 0 : 1;
}
