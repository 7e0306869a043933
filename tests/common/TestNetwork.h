#pragma once

#include "common/Process.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// A network that looks like a real one without touching the host's: two
// network namespaces of the test's own, joined by a veth pair. The near side
// (198.51.100.1/24, default route to the far side) runs the program under test,
// the far side (198.51.100.2/24) the simulated devices. Both namespaces vanish
// with this object, also when a test fails.
class CTestNetwork
{
public:
    static constexpr const char* kNearAddress = "198.51.100.1";
    static constexpr const char* kFarAddress = "198.51.100.2";
    static constexpr const char* kNearInterface = "tsr0";

    CTestNetwork();

    // Empty when the network stands; otherwise why it could not be made.
    const std::string& Unavailable() const { return m_strUnavailable; }

    // argv wrapped to run inside the near or the far namespace.
    std::vector<std::string> Near(const std::vector<std::string>& argv) const
    {
        return Inside(m_near, argv);
    }
    std::vector<std::string> Far(const std::vector<std::string>& argv) const
    {
        return Inside(m_far, argv);
    }
    // Runs "ip ARGS" inside the near namespace; true when it succeeded.
    bool NearIp(const std::vector<std::string>& args) const { return Ip(m_near, args); }

private:
    struct Side
    {
        std::unique_ptr<ChildProcess> holder; // keeps the namespace alive
        std::string netns;                    // its /proc/PID/ns/net link
    };

    bool MakeSide(Side& side);
    bool Ip(const Side& side, const std::vector<std::string>& args) const;
    std::vector<std::string> Inside(const Side& side, const std::vector<std::string>& argv) const;

    std::string m_strUnavailable;
    std::string m_strHostNetns;
    std::string m_strIp;
    std::string m_strNsenter;
    Side m_near;
    Side m_far;
};
