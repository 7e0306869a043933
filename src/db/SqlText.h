#pragma once

#include "sensors/Clock.h"

#include <string>
#include <string_view>

// Pieces of SQL text, written the same whatever the process locale says.

// The text between single quotes with every quote doubled, so that no text
// can end the literal early and change the statement.
std::string SqlQuote(std::string_view text);
// Six decimals with a point, as "%f" in the "C" locale.
std::string SqlFloat(double value);
// ODBC escapes "{d 'yyyy-mm-dd'}" and "{t 'hh:mm:ss'}".
std::string SqlDate(const CivilTime& time);
std::string SqlTime(const CivilTime& time);
