#pragma once

#include "sensors/Sensor.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The clipboard carries the text of a configuration file: the magic line, then
// one line per record, each ended by CR LF.
std::string FormatClipboardText(std::span<CSensor* const> records);

// Nothing when the text is empty or does not start with the magic line and its
// CR LF; otherwise the records of its readable lines, in text order (possibly
// none). The text ends at its first NUL, as the C string of a clipboard does.
std::optional<std::vector<std::unique_ptr<CSensor>>> ParseClipboardText(std::string_view text);
