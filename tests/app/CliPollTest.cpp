#include "common/VarionSim.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace
{

// Polls the simulator's one device, by the host name when one is given.
std::vector<std::string> PollArgs(const VarionSim& sim, const std::vector<std::string>& options,
                                  const std::string& host = {})
{
    const Endpoint& device = sim.Devices().at(0);
    std::vector<std::string> argv{TESSARO_CLI, "poll", host.empty() ? device.address : host,
                                  std::to_string(device.port)};
    argv.insert(argv.end(), options.begin(), options.end());
    return argv;
}

std::vector<std::string> Lines(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(prefix))
            lines.push_back(line);
    return lines;
}

TEST(CliPoll, PrintsStatesAndTheSlotsOfTheReply)
{
    VarionSim sim({"--device", "127.0.0.1:0 reply 10.0.0.5;Lager;21.5°C;-°C;45,0%;"});
    const ProcessResult result = RunProcess(PollArgs(sim, {}, "localhost"));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> states = Lines(result.out, "state\t");
    ASSERT_GE(states.size(), 2u) << result.out;
    // States are sampled when the posted notice runs: a quick lookup may be
    // over by then, so the resolving state need not show.
    EXPECT_EQ(states.back(), "state\t0\t21.5 ");
    for (size_t i = 0; i + 1 < states.size(); ++i)
        EXPECT_TRUE((i == 0 && states[i] == "state\t3\tNamensauflösung...") ||
                    states[i] == "state\t4\tVerbindungsaufbau..." ||
                    states[i] == "state\t5\tVerbindungsaufbau...")
            << states[i];
    EXPECT_EQ(
        Lines(result.out, "reply\t"),
        (std::vector<std::string>{"reply\t0\t21.5\t1", "reply\t1\t0.0\t0", "reply\t2\t45.0\t1"}));
    // The reply lines follow the state that the reply produced.
    EXPECT_TRUE(result.out.ends_with("state\t0\t21.5 \nreply\t0\t21.5\t1\nreply\t1\t0.0\t0\n"
                                     "reply\t2\t45.0\t1\n"))
        << result.out;
}

TEST(CliPoll, ShowsErrorsAndGivesUpAfterTheTimeout)
{
    VarionSim sim({"--device", "127.0.0.1:0 refuse"});
    const ProcessResult refused = RunProcess(PollArgs(sim, {"--timeout", "0.5"}));
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.out.find("state\t0\t[10061] Verbindung abgewiesen\n"), std::string::npos)
        << refused.out;
    EXPECT_TRUE(Lines(refused.out, "reply\t").empty());
    EXPECT_NE(refused.err, "");

    const ProcessResult invalid =
        RunProcess({TESSARO_CLI, "poll", "999.1.1.1", "80", "--timeout", "0.3"});
    EXPECT_EQ(invalid.exitCode, 1);
    EXPECT_EQ(invalid.out, "state\t1\t[10022] ungültiger Parameter\n");
}

TEST(CliPoll, RaisesItsOpenFileLimitToTheHardLimit)
{
    VarionSim sim({"--device", "127.0.0.1:0 silent"});
    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    ASSERT_GT(files.rlim_max, 256u);
    // Inherited from the test, which goes back to its own at once.
    rlimit lowered = files;
    lowered.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    ChildProcess poll(PollArgs(sim, {"--timeout", "5"}));
    setrlimit(RLIMIT_NOFILE, &files);
    rlimit seen{};
    for (int look = 0; look < 500; ++look)
    {
        if (prlimit(poll.Pid(), RLIMIT_NOFILE, nullptr, &seen) != 0 ||
            seen.rlim_cur == seen.rlim_max)
            break;
        usleep(10000);
    }
    EXPECT_EQ(seen.rlim_cur, files.rlim_max);
    EXPECT_EQ(seen.rlim_max, files.rlim_max);
}

TEST(CliPoll, RejectsBadArguments)
{
    ExpectUsageErrors(
        {TESSARO_CLI, "poll"},
        {{}, {"127.0.0.1"}, {"127.0.0.1", "0"}, {"127.0.0.1", "65536"}, {"127.0.0.1", "80x"}});
    ExpectUsageErrors({TESSARO_CLI, "poll", "127.0.0.1", "80"}, {{"--count"},
                                                                 {"--count", "0"},
                                                                 {"--count", "zwei"},
                                                                 {"--timeout", "-1"},
                                                                 {"--timeout", "nan"},
                                                                 {"--timeout", "1e300"},
                                                                 {"--verbose", "1"}});
}

} // namespace
