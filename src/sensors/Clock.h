#pragma once

#include <chrono>

// Local calendar date and time of day, as stored in the database.
struct CivilTime
{
    int year = 0;
    int month = 0; // 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The wall clock. Production code asks CClock::Current(); tests install a
// clock of their own so that minute alignment, freshness and time stamps
// can be checked without waiting for real minutes.
class CClock
{
public:
    virtual ~CClock() = default;

    virtual std::chrono::system_clock::time_point UtcNow() const;
    // Local time of the machine's time zone at UtcNow().
    virtual CivilTime LocalNow() const;

    static const CClock& Current();
    // nullptr restores the system clock. The caller keeps ownership.
    static void Install(const CClock* clock);
};
