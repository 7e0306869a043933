#pragma once

#include "varion-sim/DeviceConfig.h"
#include "varion-sim/Endpoint.h"

#include <optional>
#include <string>
#include <vector>

// What the command line asks varion-sim to simulate.
struct CSimOptions
{
    std::vector<CDeviceConfig> devices;
    std::optional<CEndpoint> discovery;
    // Raw datagrams sent after the device answers of every discovery.
    std::vector<std::string> discoveryExtras;
    bool help = false;
    bool version = false;
};

extern const char* const kSimUsage;

// Reads argv and the script files it names. On failure returns false and
// says why in error.
bool ParseSimOptions(int argc, const char* const* argv, CSimOptions& options, std::string& error);
