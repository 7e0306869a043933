#include "export/ExportRange.h"

#include "db/SqlText.h"

#include <cstdint>

namespace
{

// Days from 1 January 1601 to 1 January 1970.
constexpr std::int64_t kDaysFrom1601To1970 = 134'774;

// Days since 1 January 1970 in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

CivilTime CivilFromDays(std::int64_t days)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
    CivilTime time;
    time.year = static_cast<int>(year);
    time.month = static_cast<int>(month);
    time.day = static_cast<int>(day);
    return time;
}

} // namespace

std::optional<CivilTime> ExportRangeStart(const CivilTime& now, int days)
{
    // Counted in whole days since 1601, as the file time of the local time
    // would be: the time of day, less than a day, never moves the date, and
    // a start before the first day of 1601 is a negative file time, which
    // has no calendar date.
    const std::int64_t today =
        DaysFromCivil(now.year, static_cast<unsigned>(now.month), static_cast<unsigned>(now.day)) +
        kDaysFrom1601To1970;
    const std::int64_t start = today - days;
    if (start < 0)
        return std::nullopt;
    return CivilFromDays(start - kDaysFrom1601To1970);
}

std::string ExportRangeCondition(const CivilTime& now, int days)
{
    if (days <= 0)
        return {};
    const std::optional<CivilTime> start = ExportRangeStart(now, days);
    if (!start)
        return {};
    return " AND Calendar>" + SqlDate(*start);
}
