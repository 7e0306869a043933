#include "common/Process.h"
#include "common/ScanSimulator.h"
#include "common/TempDir.h"
#include "common/TestNetwork.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace
{

std::vector<std::string> ScanArgs(const ScanSimulator& sim)
{
    return {TESSARO_CLI,        "scan",
            "--broadcast",      ScanSimulator::kBroadcast,
            "--discovery-port", std::to_string(sim.DiscoveryPort()),
            "--port",           std::to_string(sim.QueryPort())};
}

std::vector<std::string> SortedLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The text form of a scanned sensor: port, number, interval, unit, name, enabled.
std::string Line(const ScanSimulator& sim, int device, int number, const std::string& unit,
                 const std::string& name)
{
    return ScanSimulator::Address(device) + "\t" + std::to_string(sim.QueryPort()) + "\t" +
           std::to_string(number) + "\t1\t" + unit + "\t" + name + "\t0x00";
}

TEST(CliScan, PrintsEverySensorFoundAndAddsOnlyNewOnesToTheFile)
{
    ScanSimulator sim(
        {"reply,announce=2 10.0.0.5;Lager;21.5\302\260C;-\302\260C;45,0%;", "reply 3.5V"});
    ASSERT_TRUE(sim.Ready());
    const std::string lager0 = Line(sim, 0, 0, "\302\260C", "Lager");
    const std::string lager2 = Line(sim, 0, 2, "%", "Lager");
    const std::string volt = Line(sim, 1, 0, "V", "");

    // Without a file the sensors are only printed, repeats included.
    const ProcessResult printed = RunProcess(ScanArgs(sim));
    ASSERT_EQ(printed.exitCode, 0) << printed.err;
    EXPECT_EQ(SortedLines(printed.out),
              (std::vector<std::string>{lager0, lager0, lager2, lager2, volt}));

    // The configuration already holds one of the points, under another
    // description; the scan keeps that one and adds the rest once.
    TempDir dir;
    const auto file = dir / "sensors.cfg";
    const std::string known = Line(sim, 0, 2, "rH", "Altbestand");
    WriteFileBytes(file, "ZELD1\r\n" + known + "\r\n");
    std::vector<std::string> args = ScanArgs(sim);
    args.push_back(file.string());
    const ProcessResult added = RunProcess(args);
    ASSERT_EQ(added.exitCode, 0) << added.err;
    EXPECT_EQ(SortedLines(added.out), SortedLines(printed.out));
    const std::string saved = ReadFileBytes(file);
    EXPECT_TRUE(saved.starts_with("ZELD1\r\n" + known + "\r\n")) << saved;
    EXPECT_EQ(SortedLines(saved),
              SortedLines("ZELD1\r\n" + known + "\r\n" + lager0 + "\r\n" + volt + "\r\n"));
    EXPECT_EQ(sim.Connections(), (std::vector<long>{4, 2}));

    // A missing file is made; one that is no configuration is left alone.
    args.back() = (dir / "new.cfg").string();
    EXPECT_EQ(RunProcess(args).exitCode, 0);
    EXPECT_EQ(SortedLines(ReadFileBytes(dir / "new.cfg")),
              SortedLines("ZELD1\r\n" + lager0 + "\r\n" + lager2 + "\r\n" + volt + "\r\n"));
    WriteFileBytes(dir / "foreign.txt", "not a configuration\r\n");
    args.back() = (dir / "foreign.txt").string();
    const ProcessResult foreign = RunProcess(args);
    EXPECT_EQ(foreign.exitCode, 2);
    EXPECT_NE(foreign.err, "");
    EXPECT_EQ(ReadFileBytes(dir / "foreign.txt"), "not a configuration\r\n");
}

TEST(CliScan, FindsDevicesOnARealNetworkWithTheProductionBroadcast)
{
    // Nothing here may run outside the namespaces the test made: the scan
    // below uses the production destination and ports.
    const CTestNetwork network;
    if (!network.Unavailable().empty())
        GTEST_SKIP() << "no private network for the test: " << network.Unavailable();
    const std::string far = CTestNetwork::kFarAddress;
    VarionSim sim({"--discovery", "0.0.0.0:8512", "--device",
                   far + ":80 reply 10.0.0.5;Lager;21.5\302\260C;-\302\260C;45,0%;"},
                  [&](const std::vector<std::string>& argv) { return network.Far(argv); });
    ASSERT_TRUE(sim.Ready());
    TempDir dir;
    const std::string file = (dir / "lager.cfg").string();
    const std::vector<std::string> scan = network.Near({TESSARO_CLI, "scan", file});
    const std::string lager0 = far + "\t80\t0\t1\t\302\260C\tLager\t0x00";
    const std::string lager2 = far + "\t80\t2\t1\t%\tLager\t0x00";

    // With a default route the limited broadcast leaves, and the directed
    // broadcast of the interface as well: the device answers both and is
    // asked twice; its sensors are added once.
    const ProcessResult routed = RunProcess(scan);
    ASSERT_EQ(routed.exitCode, 0) << routed.err;
    EXPECT_EQ(SortedLines(routed.out), (std::vector<std::string>{lager0, lager0, lager2, lager2}));
    EXPECT_EQ(ReadFileBytes(file), "ZELD1\r\n" + lager0 + "\r\n" + lager2 + "\r\n");
    EXPECT_EQ(sim.Connections(), std::vector<long>{2});

    // Without one the limited broadcast cannot be sent; the interface's own
    // broadcast still finds the device.
    ASSERT_TRUE(network.NearIp({"route", "del", "default"}));
    const ProcessResult local = RunProcess(scan);
    ASSERT_EQ(local.exitCode, 0) << local.err;
    EXPECT_EQ(SortedLines(local.out), (std::vector<std::string>{lager0, lager2}));
    EXPECT_EQ(sim.Connections(), std::vector<long>{3});

    // With no network at all nothing can be sent: a failure, with the reason.
    ASSERT_TRUE(network.NearIp({"link", "set", CTestNetwork::kNearInterface, "down"}));
    const ProcessResult none = RunProcess(scan);
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("cannot send the discovery"), std::string::npos) << none.err;
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(sim.Connections(), std::vector<long>{3});
}

TEST(CliScan, RejectsBadArguments)
{
    // Every case names a loopback broadcast first, so that an argument taken
    // by mistake can never send anywhere else.
    ExpectUsageErrors({TESSARO_CLI, "scan", "--broadcast", ScanSimulator::kBroadcast},
                      {{"--broadcast", "nowhere"},
                       {"--broadcast", "127.0.0"},
                       {"--port", "0"},
                       {"--port", "65536"},
                       {"--discovery-port", "eighty"},
                       {"--discovery-port"},
                       {"--colour", "red"},
                       {"one.cfg", "two.cfg"}},
                      "usage");
}

} // namespace
