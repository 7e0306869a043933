#include "app/cli/CliCommands.h"

#include <charconv>

std::optional<long> ReadWholeNumber(std::string_view text, long low, long high)
{
    long value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value < low ||
        value > high)
        return std::nullopt;
    return value;
}

std::optional<std::uint16_t> ReadPort(std::string_view text)
{
    const std::optional<long> port = ReadWholeNumber(text, 1, 65535);
    if (!port)
        return std::nullopt;
    return static_cast<std::uint16_t>(*port);
}
