#include "sensors/Sensor.h"

#include "sensors/ChannelList.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace
{

bool IsCSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

// Leading white space, an optional sign, (base 16 only) an optional 0x or 0X,
// then digits up to the first other character; no digits read as 0. A value
// past the 32-bit range saturates at INT_MAX or INT_MIN instead of wrapping,
// so an absurd number never turns into a small plausible one.
int ReadInteger(std::string_view token, int base)
{
    size_t i = 0;
    while (i < token.size() && IsCSpace(token[i]))
        ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-'))
        negative = token[i++] == '-';
    if (base == 16 && (token.substr(i, 2) == "0x" || token.substr(i, 2) == "0X"))
        i += 2;
    // Magnitude limit: INT_MAX, or INT_MAX + 1 for a negative value.
    const std::int64_t limit = negative ? std::int64_t{INT_MAX} + 1 : INT_MAX;
    std::int64_t magnitude = 0;
    for (; i < token.size(); ++i)
    {
        const int digit = DigitValue(token[i]);
        if (digit >= base)
            break;
        magnitude = std::min(magnitude * base + digit, limit);
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

} // namespace

const std::string& CSensor::FormatLine()
{
    m_strLine = m_strAddress;
    m_strLine += '\t';
    m_strLine += std::to_string(m_nPort);
    m_strLine += '\t';
    m_strLine += std::to_string(m_nSensorNo);
    m_strLine += '\t';
    m_strLine += std::to_string(m_nInterval);
    m_strLine += '\t';
    m_strLine += m_strUnit;
    m_strLine += '\t';
    m_strLine += m_strDescription;
    m_strLine += m_bDisabled ? "\t0x01" : "\t0x00";
    return m_strLine;
}

bool CSensor::ParseLine(std::string_view line)
{
    m_pChannel = nullptr;
    size_t index = 0;
    while (!line.empty())
    {
        const size_t tab = line.find('\t');
        const std::string_view token = line.substr(0, tab);
        // The token and the TAB after it; a TAB that ends the line leaves
        // nothing behind, so a trailing empty field is not counted.
        line.remove_prefix(tab == std::string_view::npos ? line.size() : tab + 1);
        switch (index)
        {
        case 0:
            m_strAddress = token;
            break;
        case 1:
            m_nPort = static_cast<std::uint16_t>(static_cast<unsigned>(ReadInteger(token, 10)));
            break;
        case 2:
            m_nSensorNo = ReadInteger(token, 10);
            break;
        case 3:
            // The scheduler divides by the interval; files may carry any number.
            m_nInterval = std::max(ReadInteger(token, 10), 1);
            break;
        case 4:
            m_strUnit = token;
            break;
        case 5:
            m_strDescription = token;
            break;
        case 6:
            m_bDisabled = (ReadInteger(token, 16) & 1) != 0;
            break;
        default:
            break;
        }
        ++index;
    }
    return index > 6;
}

bool CSensor::IsSamePoint(const CSensor& other) const
{
    return m_nPort == other.m_nPort && m_nSensorNo == other.m_nSensorNo &&
           std::ranges::equal(m_strAddress, other.m_strAddress,
                              [](char a, char b) { return AsciiLower(a) == AsciiLower(b); });
}

bool CSensor::FindChannel()
{
    m_pChannel = nullptr;
    for (const CChannelList::Entry& entry : CChannelList::Entries())
        if (entry.pSettings && IsSamePoint(*entry.pSettings))
        {
            m_pChannel = entry.pChannel;
            return true;
        }
    return false;
}
