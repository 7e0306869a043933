// A line read into a record, written back and read again must give the same
// text form, which holds every configured field: writing is a fixed point.
#include "sensors/Sensor.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    CSensor first;
    if (!first.ParseLine(line))
        return 0;
    if (first.m_nInterval < 1)
        __builtin_trap();
    // A token never holds a TAB, and CR or LF only matter to files, so the
    // text form of anything parsed must come back whole.
    const std::string text = first.FormatLine();
    CSensor second;
    if (!second.ParseLine(text) || second.FormatLine() != text)
        __builtin_trap();
    return 0;
}
