#include "varion-sim/SimOptions.h"

#include <charconv>
#include <fstream>
#include <string_view>

const char* const kSimUsage =
    R"(varion-sim: simulated sensor devices on loopback, for tests, benchmarks and demos.

usage: varion-sim [OPTIONS] [SCRIPT...]

  --device 'DEVICE'        one device (repeatable)
  --many N 'DEVICE'        N copies of DEVICE, each on its own free port (PORT must be 0)
  SCRIPT                   a file with one DEVICE per line; blank lines and lines
                           starting with '#' are skipped
  --discovery ADDR:PORT    answer UDP discovery datagrams "?" on ADDR:PORT
                           (ADDR a simulated address or 0.0.0.0; PORT 0 picks a free port)
  --discovery-extra HEX    one more raw datagram (hex bytes, may be empty) sent after
                           the device answers of every discovery (repeatable)
  --help                   this text
  --version                the version number

DEVICE is 'ADDRESS:PORT MODE[,announce=N] [REPLY]', fields separated by blanks.
ADDRESS must be a simulated address: in 127.0.0.0/8, or in one of the networks
reserved for documentation (192.0.2.0/24, 198.51.100.0/24, 203.0.113.0/24), which
tests set up inside network namespaces of their own. PORT 0 picks a free port.
Devices may share a port on different addresses. REPLY is the rest of the line, sent as it is apart
from these escapes and placeholders:
  \r \n \t \\ \xHH         CR, LF, TAB, backslash, the byte HH
  {drift:START:STEP}       START + STEP*k as "%.1f", k = the device's served polls from 0
  {count}                  k
No line end is added: write \r\n if the device should send one.

A request is complete at its first LF or at its 13th byte; anything but
"GET /Single\r\n" is answered by closing the connection. MODE says what follows:
  reply                    send REPLY, close
  refuse                   the port is bound but not listening: connect gets ECONNREFUSED
  silent                   never answer; close once the client closes
  stall=N                  send the first N bytes of REPLY, then hold the connection open
                           until the client closes
  oversize=N               send exactly N bytes (REPLY cut or filled up with 'x'), close
  reset                    abort the connection with RST (SO_LINGER 0)
  delay=MS                 send REPLY MS milliseconds after the request, close
  trickle=MS               send REPLY one byte at a time, the first at once and each next
                           MS milliseconds later, then close
  close                    close without sending anything
announce=N: the discovery answers N times for this device (default 1, 0 = never).

Discovery answers every one-byte datagram "?" from a simulated address with one
62-byte datagram per announcement, bytes 6 to 9 holding the device's IPv4
address in reversed octet order, every other byte zero; anything else is ignored.

Output, one line each, flushed at once:
  device<TAB>INDEX<TAB>ADDRESS:PORT      per device, INDEX from 0: --device and --many
                                         in command-line order, then script lines
  discovery<TAB>ADDRESS:PORT             when --discovery is given
  ready
On SIGUSR1 and at exit (SIGTERM, SIGINT):
  connections<TAB>INDEX<TAB>COUNT        accepted TCP connections per device
  end

Exit status: 0 after SIGTERM or SIGINT, 1 when a socket cannot be set up,
2 for bad arguments.
)";

namespace
{

constexpr std::int64_t kMaxMany = 100000;
constexpr std::string_view kBlanks = " \t";

bool AddDevice(std::string_view text, const std::string& where, CSimOptions& options,
               std::string& error)
{
    CDeviceConfig config;
    if (!ParseDeviceConfig(text, config, error))
    {
        error = where + ": " + error;
        return false;
    }
    options.devices.push_back(std::move(config));
    return true;
}

bool AddMany(std::string_view count, std::string_view text, CSimOptions& options,
             std::string& error)
{
    std::int64_t n = 0;
    const auto [end, ec] = std::from_chars(count.data(), count.data() + count.size(), n);
    if (count.empty() || ec != std::errc() || end != count.data() + count.size() || n < 0 ||
        n > kMaxMany)
    {
        error = "--many needs a count from 0 to " + std::to_string(kMaxMany) + ", not '" +
                std::string(count) + "'";
        return false;
    }
    CDeviceConfig config;
    if (!ParseDeviceConfig(text, config, error))
    {
        error = "--many '" + std::string(text) + "': " + error;
        return false;
    }
    if (config.endpoint.port != 0)
    {
        error = "--many '" + std::string(text) + "': the port must be 0, every copy gets its own";
        return false;
    }
    options.devices.insert(options.devices.end(), static_cast<size_t>(n), config);
    return true;
}

bool AddScript(const std::string& path, CSimOptions& options, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        error = "cannot read script '" + path + "'";
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number)
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t first = line.find_first_not_of(kBlanks);
        if (first == std::string::npos || line[first] == '#')
            continue;
        if (!AddDevice(line, path + ":" + std::to_string(number), options, error))
            return false;
    }
    if (in.bad())
    {
        error = "cannot read script '" + path + "'";
        return false;
    }
    return true;
}

bool ParseHex(std::string_view hex, std::string& bytes)
{
    if (hex.size() % 2 != 0 || hex.size() > 2 * 65507)
        return false;
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2)
    {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
        if (ec != std::errc() || end != hex.data() + i + 2)
            return false;
        bytes += static_cast<char>(value);
    }
    return true;
}

} // namespace

bool ParseSimOptions(int argc, const char* const* argv, CSimOptions& options, std::string& error)
{
    std::vector<std::string> scripts;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::string_view arg = argv[i];
        const int left = argc - i - 1;
        auto needs = [&](int count)
        {
            if (left >= count)
                return true;
            error = std::string(arg) + " needs " + (count == 1 ? "an argument" : "two arguments");
            return false;
        };
        if (optionsEnded || !arg.starts_with("-"))
            scripts.emplace_back(arg);
        else if (arg == "--")
            optionsEnded = true;
        // Answered whatever else the command line holds.
        else if (arg == "--help" || arg == "-h" || arg == "--version")
        {
            options.help = arg != "--version";
            options.version = arg == "--version";
            return true;
        }
        else if (arg == "--device")
        {
            if (!needs(1) || !AddDevice(argv[i + 1], "--device '" + std::string(argv[i + 1]) + "'",
                                        options, error))
                return false;
            ++i;
        }
        else if (arg == "--many")
        {
            if (!needs(2) || !AddMany(argv[i + 1], argv[i + 2], options, error))
                return false;
            i += 2;
        }
        else if (arg == "--discovery")
        {
            CEndpoint endpoint;
            if (!needs(1))
                return false;
            if (!ParseEndpoint(argv[i + 1], endpoint, error))
            {
                error = "--discovery: " + error;
                return false;
            }
            if (!endpoint.IsSimulated() && !endpoint.IsAny())
            {
                error = "--discovery: address " + endpoint.AddressText() +
                        " is neither in 127.0.0.0/8, a documentation network nor 0.0.0.0";
                return false;
            }
            options.discovery = endpoint;
            ++i;
        }
        else if (arg == "--discovery-extra")
        {
            std::string bytes;
            if (!needs(1))
                return false;
            if (!ParseHex(argv[i + 1], bytes))
            {
                error = "--discovery-extra: '" + std::string(argv[i + 1]) +
                        "' is not an even number of hex digits (at most 65507 bytes)";
                return false;
            }
            options.discoveryExtras.push_back(std::move(bytes));
            ++i;
        }
        else
        {
            error = "unknown option '" + std::string(arg) + "'";
            return false;
        }
    }
    for (const std::string& script : scripts)
        if (!AddScript(script, options, error))
            return false;
    if (!options.discoveryExtras.empty() && !options.discovery)
    {
        error = "--discovery-extra needs --discovery";
        return false;
    }
    return true;
}
