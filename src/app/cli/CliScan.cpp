#include "app/cli/CliCommands.h"
#include "app/cli/CliReport.h"
#include "app/cli/CliSession.h"
#include "net/NetworkScan.h"
#include "sensors/OrbelDoc.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

namespace
{

// Where the devices listen on a real network.
constexpr const char* kDefaultBroadcast = "255.255.255.255";
constexpr std::uint16_t kDefaultDiscoveryPort = 8512;
constexpr std::uint16_t kDefaultQueryPort = 80;

std::optional<std::uint32_t> ReadAddress(const std::string& text)
{
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1)
        return std::nullopt;
    return address.s_addr;
}

struct ScanOptions
{
    std::uint32_t broadcast = 0;
    std::uint16_t discoveryPort = kDefaultDiscoveryPort;
    std::uint16_t queryPort = kDefaultQueryPort;
    std::optional<std::string> file;
};

bool ReadOptions(CliArgs args, ScanOptions& options)
{
    std::string broadcast = kDefaultBroadcast;
    for (size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        if (!arg.starts_with("-"))
        {
            if (options.file)
                return false;
            options.file = arg;
            continue;
        }
        if (i + 1 >= args.size())
            return false;
        const std::string& value = args[++i];
        std::optional<std::uint16_t> port;
        if (arg == "--broadcast")
            broadcast = value;
        else if (arg == "--discovery-port" && (port = ReadPort(value)))
            options.discoveryPort = *port;
        else if (arg == "--port" && (port = ReadPort(value)))
            options.queryPort = *port;
        else
            return false;
    }
    const std::optional<std::uint32_t> address = ReadAddress(broadcast);
    if (!address)
        return false;
    options.broadcast = *address;
    return true;
}

} // namespace

int RunScan(CliArgs args)
{
    ScanOptions options;
    if (!ReadOptions(args, options))
        return UsageError("scan");

    // The configuration is read before the scan, so that a file that cannot
    // take the sensors fails at once and is never overwritten.
    COrbelDoc doc;
    bool create = false;
    if (options.file)
    {
        std::error_code error;
        create = !std::filesystem::exists(*options.file, error) && !error;
        if (!create)
            if (const int status = LoadConfiguration(doc, *options.file))
                return status;
    }

    CNetworkScan scan(options.broadcast, options.discoveryPort, options.queryPort);
    scan.Run(
        [&](std::unique_ptr<CSensor> sensor)
        {
            const std::string& line = sensor->FormatLine();
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
            if (options.file && doc.AddSensor(sensor, false))
                doc.SetModifiedFlag();
        });
    if (scan.DiscoveryError() != 0)
    {
        CliReport(CliLevel::Error, "tessaro-cli: scan: cannot send the discovery: %s",
                  std::strerror(scan.DiscoveryError()));
        return 1;
    }

    if (options.file && (create || doc.IsModified()))
    {
        std::string errorText;
        if (!doc.OnSaveDocument(*options.file, errorText))
        {
            CliReport(CliLevel::Error, "tessaro-cli: %s: %s", options.file->c_str(),
                      errorText.c_str());
            return 1;
        }
    }
    return FlushStdout() ? 0 : 1;
}
