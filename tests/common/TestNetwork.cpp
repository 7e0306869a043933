#include "common/TestNetwork.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace
{

constexpr const char* kFarInterface = "tsr1";
// Long enough for any test; a holder left behind by a crashed test ends by itself.
constexpr const char* kHolderScript = "echo ready; exec sleep 600";

std::string FindTool(const std::string& name)
{
    for (const char* folder : {"/usr/sbin", "/usr/bin", "/sbin", "/bin"})
    {
        const std::filesystem::path path = std::filesystem::path(folder) / name;
        if (access(path.c_str(), X_OK) == 0)
            return path.string();
    }
    return {};
}

std::string NetnsOf(const std::string& pid)
{
    std::error_code error;
    const std::filesystem::path link =
        std::filesystem::read_symlink("/proc/" + pid + "/ns/net", error);
    return error ? std::string() : link.string();
}

} // namespace

CTestNetwork::CTestNetwork()
{
    if (geteuid() != 0)
    {
        m_strUnavailable = "network namespaces need root";
        return;
    }
    m_strIp = FindTool("ip");
    m_strNsenter = FindTool("nsenter");
    const std::string unshare = FindTool("unshare");
    if (m_strIp.empty() || m_strNsenter.empty() || unshare.empty())
    {
        m_strUnavailable = "ip (iproute2), unshare or nsenter (util-linux) is missing";
        return;
    }
    m_strHostNetns = NetnsOf("self");
    for (Side* side : {&m_near, &m_far})
    {
        side->holder = std::make_unique<ChildProcess>(
            std::vector<std::string>{unshare, "--net", "--", "/bin/sh", "-c", kHolderScript});
        if (!MakeSide(*side))
        {
            m_strUnavailable = "cannot make a network namespace (unshare --net failed)";
            return;
        }
    }
    const std::string farPid = std::to_string(m_far.holder->Pid());
    const std::string near = std::string(kNearAddress) + "/24";
    const std::string far = std::string(kFarAddress) + "/24";
    const bool built = Ip(m_near, {"link", "set", "lo", "up"}) &&
                       Ip(m_near, {"link", "add", kNearInterface, "type", "veth", "peer", "name",
                                   kFarInterface, "netns", farPid}) &&
                       Ip(m_near, {"addr", "add", near, "dev", kNearInterface}) &&
                       Ip(m_near, {"link", "set", kNearInterface, "up"}) &&
                       Ip(m_far, {"link", "set", "lo", "up"}) &&
                       Ip(m_far, {"addr", "add", far, "dev", kFarInterface}) &&
                       Ip(m_far, {"link", "set", kFarInterface, "up"}) &&
                       Ip(m_near, {"route", "add", "default", "via", kFarAddress});
    if (!built)
        m_strUnavailable = "cannot set up the veth pair between the test's namespaces";
}

bool CTestNetwork::MakeSide(Side& side)
{
    std::string line;
    if (!side.holder->ReadLine(line) || line != "ready")
        return false;
    side.netns = NetnsOf(std::to_string(side.holder->Pid()));
    // Anything run "inside" a namespace that is the host's own would
    // reconfigure the host: refuse rather than go on.
    return !side.netns.empty() && !m_strHostNetns.empty() && side.netns != m_strHostNetns;
}

std::vector<std::string> CTestNetwork::Inside(const Side& side,
                                              const std::vector<std::string>& argv) const
{
    // The holder still alive in the namespace it made, or nothing runs.
    if (!side.holder || side.netns.empty() ||
        NetnsOf(std::to_string(side.holder->Pid())) != side.netns)
        return {"/bin/false"};
    std::vector<std::string> wrapped{m_strNsenter, "--target", std::to_string(side.holder->Pid()),
                                     "--net", "--"};
    wrapped.insert(wrapped.end(), argv.begin(), argv.end());
    return wrapped;
}

bool CTestNetwork::Ip(const Side& side, const std::vector<std::string>& args) const
{
    std::vector<std::string> argv{m_strIp};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProcess(Inside(side, argv)).exitCode == 0;
}
