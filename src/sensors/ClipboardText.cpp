#include "sensors/ClipboardText.h"

#include "sensors/TextEncoding.h"

#include <algorithm>

namespace
{

constexpr std::string_view kMagicLine = "ZELD1\r\n";

} // namespace

std::string FormatClipboardText(std::span<CSensor* const> records)
{
    std::string text(kMagicLine);
    for (CSensor* record : records)
    {
        text += record->FormatLine();
        text += "\r\n";
    }
    return text;
}

std::optional<std::vector<std::unique_ptr<CSensor>>> ParseClipboardText(std::string_view text)
{
    text = text.substr(0, text.find('\0'));
    if (!text.starts_with(kMagicLine))
        return std::nullopt;
    text.remove_prefix(kMagicLine.size());

    std::vector<std::unique_ptr<CSensor>> records;
    auto sensor = std::make_unique<CSensor>();
    while (!text.empty())
    {
        // A bare LF ends a line as well: carried into a field, it would split
        // the record's line in the next saved file.
        const size_t end = text.find_first_of("\r\n");
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(line.size());
        // Blank lines go, and so do the leading blanks and TABs of the next line.
        text.remove_prefix(std::min(text.find_first_not_of(" \t\r\n"), text.size()));
        // Text of the single-byte era is converted; UTF-8 stays byte for byte.
        if (sensor->ParseLine(DecodeLegacyText(line)))
        {
            records.push_back(std::move(sensor));
            sensor = std::make_unique<CSensor>();
        }
    }
    return records;
}
