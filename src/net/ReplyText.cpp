#include "net/ReplyText.h"

#include "sensors/TextEncoding.h"

#include <algorithm>
#include <cstdint>

namespace
{

size_t SequenceLength(std::uint8_t lead)
{
    if (lead >= 0xF0)
        return 4;
    if (lead >= 0xE0)
        return 3;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

// Text without the start of a multi-byte character that runs past its end.
std::string_view WithoutCutCharacter(std::string_view text)
{
    const size_t back = std::min<size_t>(text.size(), 3);
    for (size_t i = 1; i <= back; ++i)
    {
        const auto byte = static_cast<std::uint8_t>(text[text.size() - i]);
        if ((byte & 0xC0) == 0x80)
            continue;
        if (byte >= 0xC0 && SequenceLength(byte) > i)
            text.remove_suffix(i);
        break;
    }
    return text;
}

bool IsControl(char c)
{
    const auto byte = static_cast<std::uint8_t>(c);
    return byte < 0x20 || byte == 0x7F;
}

} // namespace

std::string DecodeReplyText(std::string_view reply, std::string_view piece)
{
    std::string text;
    const std::string_view whole = WithoutCutCharacter(piece);
    if (IsValidUtf8(WithoutCutCharacter(reply)) && IsValidUtf8(whole))
        text = whole;
    else
        text = DecodeLegacyText(piece);
    std::erase_if(text, IsControl);
    return text;
}
