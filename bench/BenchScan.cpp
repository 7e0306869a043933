// A network scan of 200 simulated devices that each answer after a set
// delay, against the same scan of a single such device: that one measures,
// in this run, what every scan costs at least (the 1 s discovery window and
// one reply delay). With 32 devices asked at a time, 200 devices need
// ceil(200 / 32) = 7 rounds of the delay, which sets the floor for the large
// scan.

#include "net/NetworkScan.h"
#include "common/ScanSimulator.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

constexpr int kDevices = 200;
constexpr int kDelayMilliseconds = 100;
constexpr int kAtOnce = 32;
constexpr int kRuns = 3;
// Slot 0 and slot 2 carry a value.
constexpr int kSensorsPerDevice = 2;

struct Result
{
    double seconds = 0;
    int sensors = 0;
};

std::vector<std::string> Devices(int count)
{
    std::vector<std::string> devices;
    for (int i = 0; i < count; ++i)
        devices.push_back("delay=" + std::to_string(kDelayMilliseconds) + " 10.0.0." +
                          std::to_string(i % 250 + 1) + ";Geraet " + std::to_string(i) +
                          ";21.5\302\260C;-\302\260C;45,0%;");
    return devices;
}

// The median of kRuns scans, each against a fresh simulator.
Result MedianScan(int devices)
{
    std::vector<Result> results;
    for (int run = 0; run < kRuns; ++run)
    {
        ScanSimulator sim(Devices(devices));
        if (!sim.Ready())
        {
            std::fprintf(stderr, "bench-scan: varion-sim did not start\n");
            return {};
        }
        Result result;
        CNetworkScan scan(ScanSimulator::BroadcastAddress(), sim.DiscoveryPort(), sim.QueryPort());
        const Clock::time_point start = Clock::now();
        scan.Run([&](std::unique_ptr<CSensor>) { ++result.sensors; });
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        results.push_back(result);
    }
    std::sort(results.begin(), results.end(),
              [](const Result& a, const Result& b) { return a.seconds < b.seconds; });
    return results[results.size() / 2];
}

} // namespace

int main()
{
    const Result one = MedianScan(1);
    const Result many = MedianScan(kDevices);
    if (one.sensors != kSensorsPerDevice || many.sensors != kDevices * kSensorsPerDevice)
    {
        std::fprintf(stderr, "bench-scan: found %d and %d sensors, expected %d and %d\n",
                     one.sensors, many.sensors, kSensorsPerDevice, kDevices * kSensorsPerDevice);
        return 1;
    }
    const int rounds = (kDevices + kAtOnce - 1) / kAtOnce;
    const double delay = kDelayMilliseconds / 1000.0;
    const double floor = one.seconds + (rounds - 1) * delay;
    const auto line = [](const std::string& label, const char* format, double value)
    {
        std::printf("%-40s", label.c_str());
        std::printf(format, value);
        std::printf("\n");
    };
    line("reply delay of each device", "%8.3f s", delay);
    line("scan of 1 device (window + 1 delay)", "%8.3f s", one.seconds);
    line("scan of " + std::to_string(kDevices) + " devices", "%8.3f s", many.seconds);
    line("  per device", "%8.2f ms", many.seconds * 1000 / kDevices);
    line("  per device beyond the 1-device scan", "%8.2f ms",
         (many.seconds - one.seconds) * 1000 / (kDevices - 1));
    line("floor: 1-device scan + " + std::to_string(rounds - 1) + " delays", "%8.3f s", floor);
    line("ratio to the floor", "%8.2f", many.seconds / floor);
    line("ratio to the 1-device scan", "%8.2f", many.seconds / one.seconds);
    std::printf("(medians of %d scans each)\n", kRuns);
    return 0;
}
