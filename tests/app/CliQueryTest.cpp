#include "Process.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

// varion-sim with the given devices on loopback, and their ports.
class Devices
{
public:
    explicit Devices(const std::vector<std::string>& devices) : m_process(Arguments(devices))
    {
        std::string line;
        while (m_process.ReadLine(line) && line != "ready")
            if (line.starts_with("device\t"))
                ports.push_back(line.substr(line.rfind(':') + 1));
    }
    std::vector<std::string> ports;

private:
    static std::vector<std::string> Arguments(const std::vector<std::string>& devices)
    {
        std::vector<std::string> argv{VARION_SIM};
        for (const std::string& device : devices)
        {
            argv.push_back("--device");
            argv.push_back(device);
        }
        return argv;
    }
    ChildProcess m_process;
};

TEST(CliQuery, PrintsTheSlotsThatCarryAValue)
{
    Devices sim({"127.0.0.1:0 reply 10.0.0.5;Lager;21.5\302\260C;-\302\260C;45,0%;",
                 "127.0.0.1:0 reply 1.5\\xB0C;;2.5\\xB0F", "127.0.0.1:0 reply --- %"});
    ASSERT_EQ(sim.ports.size(), 3u);
    const ProcessResult addressed = RunProcess({TESSARO_CLI, "query", "localhost:" + sim.ports[0]});
    EXPECT_EQ(addressed.exitCode, 0) << addressed.err;
    EXPECT_EQ(addressed.out, "0 [\302\260C]\n2 [%]\n");

    const ProcessResult legacy = RunProcess({TESSARO_CLI, "query", "127.0.0.1:" + sim.ports[1]});
    EXPECT_EQ(legacy.exitCode, 0) << legacy.err;
    EXPECT_EQ(legacy.out, "0 [\302\260C]\n2 [\302\260F]\n");

    // A reply without values is still a reply.
    const ProcessResult empty = RunProcess({TESSARO_CLI, "query", "127.0.0.1:" + sim.ports[2]});
    EXPECT_EQ(empty.exitCode, 0) << empty.err;
    EXPECT_EQ(empty.out, "");
}

TEST(CliQuery, FailsWhenNothingCanBeRead)
{
    Devices sim({"127.0.0.1:0 refuse", "127.0.0.1:0 close"});
    ASSERT_EQ(sim.ports.size(), 2u);
    for (const std::string& target : {"127.0.0.1:" + sim.ports[0], "127.0.0.1:" + sim.ports[1],
                                      "geraet..lager:" + sim.ports[0]})
    {
        const ProcessResult result = RunProcess({TESSARO_CLI, "query", target});
        EXPECT_EQ(result.exitCode, 1) << target;
        EXPECT_EQ(result.out, "") << target;
        EXPECT_NE(result.err.find("no reply"), std::string::npos) << target;
    }
}

TEST(CliQuery, AsksPort80UnlessToldOtherwise)
{
    // Port 80 of a loopback address of its own; a machine where it cannot be
    // had skips this check.
    Devices sim({"127.0.0.80:80 reply 7.5V"});
    if (sim.ports.size() != 1)
        GTEST_SKIP() << "port 80 on 127.0.0.80 is not available here";
    const ProcessResult result = RunProcess({TESSARO_CLI, "query", "127.0.0.80"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0 [V]\n");
}

TEST(CliQuery, RejectsBadArguments)
{
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{},
                                               {""},
                                               {"127.0.0.1:"},
                                               {"127.0.0.1:0"},
                                               {"127.0.0.1:65536"},
                                               {"127.0.0.1:http"},
                                               {"127.0.0.1", "80"}})
    {
        std::vector<std::string> argv{TESSARO_CLI, "query"};
        argv.insert(argv.end(), args.begin(), args.end());
        const ProcessResult result = RunProcess(argv);
        EXPECT_EQ(result.exitCode, 2) << (args.empty() ? "" : args[0]);
        EXPECT_EQ(result.out, "");
    }
}

} // namespace
