// Feeds arbitrary bytes to the reply parser the way a connection does: one
// NUL-terminated line in a buffer of exactly its size, the name first, then
// the value walk.
#include "net/ReplyParser.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const size_t bufferSize = size + 1;
    const auto line = std::make_unique<char[]>(bufferSize);
    std::memcpy(line.get(), data, size); // the rest is zeroed: the NUL
    const char* const end = line.get() + bufferSize;

    if (std::strlen(ParseDeviceName(line.get())) > 199)
        std::abort();

    // Every step takes at least the ';' of one field, so a walk has at most
    // one step per byte and one more.
    char* at = line.get();
    for (size_t steps = 0;; ++steps)
    {
        if (steps > bufferSize)
            std::abort();
        float value = 0;
        int valid = -1;
        char unit[5];
        std::memset(unit, 0x7F, sizeof unit);
        char* next = line.get();
        if (!ParseNextValue(at, &value, &valid, unit, &next))
            break;
        // The unit ends within its room; a slot without a value reads 0.
        if (std::memchr(unit, '\0', sizeof unit) == nullptr || (valid != 0 && valid != 1) ||
            (valid == 0 && value != 0.0f))
            std::abort();
        if (next == nullptr)
            break;
        if (next <= at || next >= end)
            std::abort();
        at = next;
    }
    return 0;
}
