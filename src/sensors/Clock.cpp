#include "sensors/Clock.h"

#include <ctime>

namespace
{
const CClock kSystemClock;
const CClock* g_pClock = &kSystemClock;
} // namespace

std::chrono::system_clock::time_point CClock::UtcNow() const
{
    return std::chrono::system_clock::now();
}

CivilTime CClock::LocalNow() const
{
    const std::time_t now = std::chrono::system_clock::to_time_t(UtcNow());
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

const CClock& CClock::Current()
{
    return *g_pClock;
}

void CClock::Install(const CClock* clock)
{
    g_pClock = clock ? clock : &kSystemClock;
}
