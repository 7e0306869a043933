#include "common/VarionSim.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>

namespace
{

TEST(ProcessRunner, ReportsThePeakMemoryOfEachChildItself)
{
    constexpr long kBigKb = 64 * 1024;
    // The big child first: a figure summed or kept over all children would
    // show it again for the small one.
    const ProcessResult big = RunProcess({"/usr/bin/python3", "-c", "data = b'x' * (64 << 20)"});
    const ProcessResult small = RunProcess({"/bin/true"});
    ASSERT_TRUE(big.exitCode == 0 && small.exitCode == 0) << big.err << small.err;
    EXPECT_GE(big.usage.peakRssKb, kBigKb);
    EXPECT_LT(small.usage.peakRssKb, kBigKb);
}

TEST(ProcessRunnerDeathTest, ASimulatorDiesWithTheTestThatStartedIt)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_DEATH(
        {
            VarionSim sim({"--device", "127.0.0.1:0 silent"});
            const pid_t pid = sim.Ready() ? sim.Process().Pid() : -1;
            [[maybe_unused]] const ssize_t written = write(fds[1], &pid, sizeof pid);
            std::abort();
        },
        "");
    close(fds[1]);
    pid_t pid = -1;
    const ssize_t got = read(fds[0], &pid, sizeof pid);
    close(fds[0]);
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof pid));
    ASSERT_GT(pid, 0);
    const bool gone = AwaitExit(pid, std::chrono::seconds(30));
    if (!gone)
        kill(pid, SIGKILL);
    EXPECT_TRUE(gone) << "varion-sim " << pid << " outlived the process that started it";
}

} // namespace
