#pragma once

#include <cstdint>

// A TCP port that is free on loopback right now, 0 when none could be found;
// another process may still take it before the one it is meant for binds it.
std::uint16_t FreeLoopbackPort();
