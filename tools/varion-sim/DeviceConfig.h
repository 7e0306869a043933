#pragma once

#include "varion-sim/Endpoint.h"
#include "varion-sim/ReplyTemplate.h"

#include <cstdint>
#include <string>
#include <string_view>

enum class EDeviceMode
{
    Reply,
    Refuse,
    Silent,
    Stall,
    Oversize,
    Reset,
    Delay,
    Trickle,
    Close
};

// One simulated device as written on the command line or in a script:
// "ADDRESS:PORT MODE[,announce=N] [REPLY]".
struct CDeviceConfig
{
    CEndpoint endpoint;
    EDeviceMode mode = EDeviceMode::Reply;
    // Bytes for stall and oversize, milliseconds for delay and trickle.
    std::int64_t modeValue = 0;
    // Discovery answers per "?"; 0 keeps the device out of discovery.
    int announce = 1;
    CReplyTemplate reply;
};

// On failure returns false and says why in error.
bool ParseDeviceConfig(std::string_view text, CDeviceConfig& config, std::string& error);
