#include "db/SqlText.h"

#include <array>
#include <charconv>
#include <cstdio>

std::string SqlQuote(std::string_view text)
{
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '\'';
    for (const char c : text)
    {
        if (c == '\'')
            quoted += '\'';
        quoted += c;
    }
    quoted += '\'';
    return quoted;
}

std::string SqlFloat(double value)
{
    // printf would follow LC_NUMERIC, which the desktop sets from the user's
    // locale; a decimal comma would break the statement.
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, 6);
    return std::string(buffer.data(), result.ptr);
}

std::string SqlDate(const CivilTime& time)
{
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "{d '%d-%02d-%02d'}", time.year, time.month,
                  time.day);
    return buffer.data();
}

std::string SqlTime(const CivilTime& time)
{
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "{t '%02d:%02d:%02d'}", time.hour, time.minute,
                  time.second);
    return buffer.data();
}
