#include "common/Process.h"
#include "common/ScanSimulator.h"
#include "common/VarionSim.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

ProcessResult Query(const std::string& target)
{
    return RunProcess({TESSARO_CLI, "query", target});
}

TEST(CliQuery, PrintsTheSlotsThatCarryAValueOrFailsWithoutAReply)
{
    ScanSimulator sim({"reply 10.0.0.5;Lager;21.5\302\260C;-\302\260C;45,0%;",
                       "reply 1.5\\xB0C;;2.5\\xB0F", "reply --- %", "refuse", "close"});
    ASSERT_TRUE(sim.Ready());
    const std::string port = ":" + std::to_string(sim.QueryPort());

    // What each target prints; nullptr: no reply, a failure.
    const std::pair<std::string, const char*> cases[] = {
        {ScanSimulator::Address(0) + port, "0 [\302\260C]\n2 [%]\n"},
        // A device of the single-byte era: its degree sign comes out as UTF-8.
        {ScanSimulator::Address(1) + port, "0 [\302\260C]\n2 [\302\260F]\n"},
        // A reply without values is still a reply.
        {ScanSimulator::Address(2) + port, ""},
        {ScanSimulator::Address(3) + port, nullptr},
        {ScanSimulator::Address(4) + port, nullptr},
        {"geraet..lager" + port, nullptr},
    };
    for (const auto& [target, out] : cases)
    {
        const ProcessResult result = Query(target);
        EXPECT_EQ(result.exitCode, out ? 0 : 1) << target << result.err;
        EXPECT_EQ(result.out, out ? out : "") << target;
        EXPECT_EQ(result.err.find("no reply") == std::string::npos, out != nullptr) << target;
    }
}

TEST(CliQuery, AsksPort80UnlessToldOtherwise)
{
    // Port 80 of a loopback address of its own; a machine where it cannot be
    // had skips this check.
    VarionSim sim({"--device", "127.0.0.80:80 reply 7.5V"});
    if (!sim.Ready())
        GTEST_SKIP() << "port 80 on 127.0.0.80 is not available here";
    const ProcessResult result = Query("127.0.0.80");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "0 [V]\n");
}

TEST(CliQuery, RejectsBadArguments)
{
    ExpectUsageErrors({TESSARO_CLI, "query"}, {{},
                                               {""},
                                               {"127.0.0.1:"},
                                               {"127.0.0.1:0"},
                                               {"127.0.0.1:65536"},
                                               {"127.0.0.1:http"},
                                               {"127.0.0.1", "80"}});
}

} // namespace
