#include "common/Process.h"
#include "common/ScanSimulator.h"
#include "common/TempDir.h"

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

    // A second scan finds the same and adds nothing.
    const ProcessResult again = RunProcess(args);
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(SortedLines(again.out), SortedLines(printed.out));
    EXPECT_EQ(ReadFileBytes(file), saved);
    EXPECT_EQ(sim.Connections(), (std::vector<long>{6, 3}));
}

TEST(CliScan, CreatesAMissingFileAndLeavesAForeignOneAlone)
{
    ScanSimulator sim({"reply,announce=0 3.5V"}, {""});
    ASSERT_TRUE(sim.Ready());
    TempDir dir;
    std::vector<std::string> args = ScanArgs(sim);
    args.push_back((dir / "new.cfg").string());
    const ProcessResult none = RunProcess(args);
    EXPECT_EQ(none.exitCode, 0) << none.err;
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(ReadFileBytes(dir / "new.cfg"), "ZELD1\r\n");

    WriteFileBytes(dir / "foreign.txt", "not a configuration\r\n");
    args.back() = (dir / "foreign.txt").string();
    const ProcessResult foreign = RunProcess(args);
    EXPECT_EQ(foreign.exitCode, 2);
    EXPECT_NE(foreign.err, "");
    EXPECT_EQ(ReadFileBytes(dir / "foreign.txt"), "not a configuration\r\n");
}

TEST(CliScan, RejectsBadArguments)
{
    // Every case names a loopback broadcast first, so that an argument taken
    // by mistake can never send anywhere else.
    const std::string local = ScanSimulator::kBroadcast;
    const std::vector<std::vector<std::string>> bad = {
        {"--broadcast", local, "--broadcast", "nowhere"},
        {"--broadcast", local, "--broadcast", "127.0.0"},
        {"--broadcast", local, "--port", "0"},
        {"--broadcast", local, "--port", "65536"},
        {"--broadcast", local, "--discovery-port", "eighty"},
        {"--broadcast", local, "--discovery-port"},
        {"--broadcast", local, "--colour", "red"},
        {"--broadcast", local, "one.cfg", "two.cfg"},
    };
    for (const std::vector<std::string>& arguments : bad)
    {
        std::vector<std::string> argv{TESSARO_CLI, "scan"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const ProcessResult result = RunProcess(argv);
        EXPECT_EQ(result.exitCode, 2) << arguments.back();
        EXPECT_NE(result.err.find("usage"), std::string::npos) << arguments.back();
        EXPECT_EQ(result.out, "") << arguments.back();
    }
}

} // namespace
