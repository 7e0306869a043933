#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

class CSensorChannel;

// One measuring point: a sensor on a networked device, with its one-line text
// form shared by the configuration file and the clipboard.
class CSensor
{
public:
    CSensor() = default;

    // The text form: seven TAB-separated fields, no line terminator. The
    // returned text stays valid until the next call on this record.
    const std::string& FormatLine();
    // Fills the configured fields from one line of text form; true when the
    // line held at least seven fields. Always clears m_pChannel first.
    bool ParseLine(std::string_view line);
    // Same device (address without regard to ASCII letter case), port and sensor number.
    bool IsSamePoint(const CSensor& other) const;
    // Links m_pChannel to the first running channel of the same point.
    bool FindChannel();

    // Configured fields
    bool m_bDisabled = false;
    std::string m_strAddress = "127.0.0.1";
    std::uint16_t m_nPort = 80;
    int m_nSensorNo = 0;
    int m_nInterval = 1;
    std::string m_strUnit;
    std::string m_strDescription;

    // Run-time fields
    int m_nImage = 1;
    int m_nDeleteBatch = 0;
    std::string m_strStatus;
    int m_nDbId = -1;
    std::array<int, 3> m_nCounts{};
    CSensorChannel* m_pChannel = nullptr;

private:
    std::string m_strLine;
};
