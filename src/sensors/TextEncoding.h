#pragma once

#include <string>
#include <string_view>

// Text from files, the clipboard and devices arrives as bytes. Valid UTF-8 is
// kept byte for byte; anything else is read as Windows-1252, so files and
// devices of the single-byte era still read right.
bool IsValidUtf8(std::string_view bytes);
std::string DecodeLegacyText(std::string_view bytes);
