#include "varion-sim/DeviceConfig.h"

#include <algorithm>
#include <charconv>

namespace
{

// Big enough for any test, small enough that a typo cannot exhaust memory or
// park a connection for good.
constexpr std::int64_t kMaxBytes = 64 << 20;
constexpr std::int64_t kMaxDelayMs = 24LL * 3600 * 1000;
constexpr std::int64_t kMaxAnnounce = 1000;

constexpr std::string_view kBlanks = " \t";

struct ModeName
{
    std::string_view name;
    EDeviceMode mode;
    bool takesValue;
    std::int64_t maxValue;
};

constexpr ModeName kModes[] = {
    {"reply", EDeviceMode::Reply, false, 0},
    {"refuse", EDeviceMode::Refuse, false, 0},
    {"silent", EDeviceMode::Silent, false, 0},
    {"stall", EDeviceMode::Stall, true, kMaxBytes},
    {"oversize", EDeviceMode::Oversize, true, kMaxBytes},
    {"reset", EDeviceMode::Reset, false, 0},
    {"delay", EDeviceMode::Delay, true, kMaxDelayMs},
    {"trickle", EDeviceMode::Trickle, true, kMaxDelayMs},
    {"close", EDeviceMode::Close, false, 0},
};

bool ParseCount(std::string_view text, std::int64_t maxValue, std::int64_t& value)
{
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size() && value >= 0 &&
           value <= maxValue;
}

// Splits "name=value"; value is empty and hasValue false without '='.
void SplitAssignment(std::string_view item, std::string_view& name, std::string_view& value,
                     bool& hasValue)
{
    const size_t equals = item.find('=');
    hasValue = equals != std::string_view::npos;
    name = item.substr(0, equals);
    value = hasValue ? item.substr(equals + 1) : std::string_view();
}

bool ParseMode(std::string_view item, CDeviceConfig& config, std::string& error)
{
    std::string_view name, value;
    bool hasValue;
    SplitAssignment(item, name, value, hasValue);
    for (const ModeName& mode : kModes)
    {
        if (mode.name != name)
            continue;
        if (mode.takesValue != hasValue)
        {
            error = mode.takesValue ? "mode '" + std::string(name) + "' needs '=N'"
                                    : "mode '" + std::string(name) + "' takes no value";
            return false;
        }
        if (hasValue && !ParseCount(value, mode.maxValue, config.modeValue))
        {
            error = "mode '" + std::string(name) + "' needs a whole number from 0 to " +
                    std::to_string(mode.maxValue) + ", not '" + std::string(value) + "'";
            return false;
        }
        config.mode = mode.mode;
        return true;
    }
    error = "unknown mode '" + std::string(name) +
            "' (reply, refuse, silent, stall=N, oversize=N, reset, delay=MS, trickle=MS, "
            "close)";
    return false;
}

bool ParseOption(std::string_view item, CDeviceConfig& config, std::string& error)
{
    std::string_view name, value;
    bool hasValue;
    SplitAssignment(item, name, value, hasValue);
    std::int64_t announce = 0;
    if (name != "announce")
    {
        error = "unknown device option '" + std::string(item) + "' (announce=N)";
        return false;
    }
    if (!hasValue || !ParseCount(value, kMaxAnnounce, announce))
    {
        error = "announce needs a whole number from 0 to " + std::to_string(kMaxAnnounce);
        return false;
    }
    config.announce = static_cast<int>(announce);
    return true;
}

// The next run of non-blank characters at or after pos; pos moves past it.
std::string_view NextField(std::string_view text, size_t& pos)
{
    const size_t begin = text.find_first_not_of(kBlanks, pos);
    if (begin == std::string_view::npos)
    {
        pos = text.size();
        return {};
    }
    const size_t end = std::min(text.find_first_of(kBlanks, begin), text.size());
    pos = end;
    return text.substr(begin, end - begin);
}

} // namespace

bool ParseDeviceConfig(std::string_view text, CDeviceConfig& config, std::string& error)
{
    size_t pos = 0;
    const std::string_view endpointField = NextField(text, pos);
    const std::string_view modeField = NextField(text, pos);
    if (endpointField.empty() || modeField.empty())
    {
        error = "a device reads 'ADDRESS:PORT MODE [REPLY]'";
        return false;
    }
    if (!ParseEndpoint(endpointField, config.endpoint, error))
        return false;
    if (!config.endpoint.IsSimulated())
    {
        error = "device address " + config.endpoint.AddressText() +
                " is neither in 127.0.0.0/8 nor in a documentation network";
        return false;
    }

    size_t itemStart = 0;
    for (bool first = true; itemStart <= modeField.size(); first = false)
    {
        const size_t comma = std::min(modeField.find(',', itemStart), modeField.size());
        const std::string_view item = modeField.substr(itemStart, comma - itemStart);
        if (!(first ? ParseMode(item, config, error) : ParseOption(item, config, error)))
            return false;
        itemStart = comma + 1;
    }

    // The reply is the rest of the line after the blanks that end the mode.
    const size_t replyStart = std::min(text.find_first_not_of(kBlanks, pos), text.size());
    return config.reply.Parse(text.substr(replyStart), error);
}
