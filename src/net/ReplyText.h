#pragma once

#include <string>
#include <string_view>

// A piece of a device's reply (a unit, the device name) as text for the
// configuration and the screen. The whole reply decides the encoding: a reply
// that is UTF-8, allowing for a character cut off at its end, keeps its
// pieces byte for byte, less a character cut off at the piece's end (units
// are cut at 4 bytes); any other reply is read as Windows-1252. Control
// characters are dropped, since a TAB, CR or LF would break the line of the
// configuration file that the text ends up in.
std::string DecodeReplyText(std::string_view reply, std::string_view piece);
