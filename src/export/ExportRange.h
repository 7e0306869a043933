#pragma once

#include "sensors/Clock.h"

#include <optional>
#include <string>

// The first day that the "last N days" of a series export leave out: today
// minus N calendar days. The time of day plays no part. Empty when that day
// would fall before 1 January 1601, where the system's calendar ends.
std::optional<CivilTime> ExportRangeStart(const CivilTime& now, int days);

// " AND Calendar>{d '...'}" for days > 0; empty for all readings, and also
// when the start would fall before 1601, since every reading is then inside.
std::string ExportRangeCondition(const CivilTime& now, int days);
