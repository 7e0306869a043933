// Any bytes read as a configuration file: a refused file leaves the document
// alone; an accepted one, written and read back, gives the same records, and
// what is written is UTF-8 and a fixed point.
#include "sensors/OrbelDoc.h"
#include "sensors/TextEncoding.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    COrbelDoc doc;
    auto previous = std::make_unique<CSensor>();
    doc.AddSensor(previous, true);
    std::string errorText;
    if (!doc.Deserialize(bytes, errorText))
    {
        if (errorText.empty() || doc.m_sensors.size() != 1)
            __builtin_trap();
        return 0;
    }
    const std::string written = doc.Serialize();
    COrbelDoc again;
    if (!IsValidUtf8(written) || !again.Deserialize(written, errorText) ||
        again.m_sensors.size() != doc.m_sensors.size() || again.Serialize() != written)
        __builtin_trap();
    return 0;
}
