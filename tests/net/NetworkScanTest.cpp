#include "net/NetworkScan.h"

#include "common/ScanSimulator.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

namespace
{

// What a scanned sensor says about its device; port, interval and flag are
// checked once for all.
using Found = std::tuple<std::string, int, std::string, std::string>;

class NetworkScanTest : public ::testing::Test
{
protected:
    std::vector<Found> Scan(const ScanSimulator& sim,
                            std::chrono::milliseconds deadline = std::chrono::seconds(10))
    {
        std::vector<Found> found;
        CNetworkScan scan(ScanSimulator::BroadcastAddress(), sim.DiscoveryPort(), sim.QueryPort());
        scan.m_nQueryDeadline = deadline;
        scan.Run(
            [&](std::unique_ptr<CSensor> sensor)
            {
                EXPECT_EQ(sensor->m_nPort, sim.QueryPort());
                EXPECT_EQ(sensor->m_nInterval, 1);
                EXPECT_FALSE(sensor->m_bDisabled);
                found.emplace_back(sensor->m_strAddress, sensor->m_nSensorNo, sensor->m_strUnit,
                                   sensor->m_strDescription);
            });
        EXPECT_EQ(scan.DiscoveryError(), 0);
        return found;
    }

    static std::vector<Found> Sorted(std::vector<Found> found)
    {
        std::sort(found.begin(), found.end());
        return found;
    }

    static std::vector<Found> OfDevice(const std::vector<Found>& found, int index)
    {
        std::vector<Found> of;
        std::copy_if(found.begin(), found.end(), std::back_inserter(of),
                     [&](const Found& f)
                     { return std::get<0>(f) == ScanSimulator::Address(index); });
        return of;
    }
};

TEST_F(NetworkScanTest, AddsOneSensorPerSlotWithAValueWithUnitAndDeviceName)
{
    ScanSimulator sim({
        "reply 10.0.0.5;Lager &amp; Technik;21.5\302\260C;-\302\260C;45,0%;",
        // A device of the single-byte era: the degree sign and its name's
        // umlaut are one byte.
        "reply 10.0.0.6;K\\xFChlhaus;21.5\\xB0C;-\\xB0C;7.25 Grad C",
        "reply --- %;-\302\260C",
        "reply,announce=0 21.5\302\260C",
        // The unit is cut at 4 bytes, here inside the degree sign; the line
        // break after the last field is no part of the unit.
        "reply 5.5abc\302\260C;1,5%\\r\\n",
    });
    ASSERT_TRUE(sim.Ready());
    const std::vector<Found> found = Scan(sim);

    const std::string a0 = ScanSimulator::Address(0);
    const std::string a1 = ScanSimulator::Address(1);
    const std::string a4 = ScanSimulator::Address(4);
    ASSERT_EQ(Sorted(found), Sorted({
                                 {a0, 0, "\302\260C", "Lager & Technik"},
                                 {a0, 2, "%", "Lager & Technik"},
                                 {a1, 0, "\302\260C", "K\303\274hlhaus"},
                                 {a1, 2, "Grad", "K\303\274hlhaus"},
                                 {a4, 0, "abc", ""},
                                 {a4, 1, "%", ""},
                             }));
    // Each device's slots come in slot order.
    EXPECT_EQ(OfDevice(found, 0).front(), Found(a0, 0, "\302\260C", "Lager & Technik"));
    EXPECT_EQ(OfDevice(found, 1).front(), Found(a1, 0, "\302\260C", "K\303\274hlhaus"));
    // Asked once each, the unannounced device never.
    EXPECT_EQ(sim.Connections(), (std::vector<long>{1, 1, 1, 0, 1}));

    // The scan keeps nothing between runs: the same devices give the same sensors.
    EXPECT_EQ(Sorted(Scan(sim)), Sorted(found));
}

TEST_F(NetworkScanTest, QueriesEveryAnnouncementAndPassesOverAnswersWithoutAnAddress)
{
    const std::string zeros(124, '0');
    // 100 bytes that announce device 1 in bytes 6 to 9; only 62 are read.
    const std::string longAnnouncement = std::string(12, '0') + "0200007f" + std::string(180, '0');
    ScanSimulator sim({"reply,announce=2 10.0.0.5;Lager;21.5\302\260C;", "reply,announce=0 3.5V"},
                      {"", zeros, "3f00ff", "0000000000000100", longAnnouncement});
    ASSERT_TRUE(sim.Ready());
    const std::vector<Found> found = Scan(sim);

    const std::string a0 = ScanSimulator::Address(0);
    const std::string a1 = ScanSimulator::Address(1);
    EXPECT_EQ(
        Sorted(found),
        Sorted({{a0, 0, "\302\260C", "Lager"}, {a0, 0, "\302\260C", "Lager"}, {a1, 0, "V", ""}}));
    // 0.0.0.0 would reach device 0 a third time.
    EXPECT_EQ(sim.Connections(), (std::vector<long>{2, 1}));
}

TEST_F(NetworkScanTest, SkipsDevicesThatFailOrPassTheirDeadlineAndCutsRepliesAt255Bytes)
{
    // 51 fields of 5 bytes fill the 255 bytes; the "C" field lies beyond.
    std::string longReply;
    for (int i = 0; i < 50; ++i)
        longReply += "1.5A;";
    longReply += "2.5B;3.5C;";
    ScanSimulator sim({
        "refuse",
        "reset 21.5\302\260C;",
        "silent",
        "stall=8 21.5\302\260C;22.5\302\260C;",
        "close",
        "oversize=300 " + longReply,
        "delay=200 10.0.0.5;Halle;19.0\302\260C;",
        // Complete only after 5 s, never quiet: the deadline drops it.
        "trickle=250 10.0.0.5;Rinnsal;1.5V;",
        // Byte by byte, but complete in time.
        "trickle=5 10.0.0.5;Tropfen;2.5V;",
    });
    ASSERT_TRUE(sim.Ready());
    const std::vector<Found> found = Scan(sim, std::chrono::seconds(2));

    EXPECT_EQ(OfDevice(found, 6),
              (std::vector<Found>{{ScanSimulator::Address(6), 0, "\302\260C", "Halle"}}));
    EXPECT_EQ(OfDevice(found, 8),
              (std::vector<Found>{{ScanSimulator::Address(8), 0, "V", "Tropfen"}}));
    const std::vector<Found> cut = OfDevice(found, 5);
    ASSERT_EQ(cut.size(), 51u);
    for (int slot = 0; slot < 50; ++slot)
        EXPECT_EQ(cut[slot], Found(ScanSimulator::Address(5), slot, "A", "")) << slot;
    EXPECT_EQ(cut[50], Found(ScanSimulator::Address(5), 50, "B", ""));
    // Nothing from the others, not even the stalled device's first field.
    EXPECT_EQ(found.size(), 53u);
    EXPECT_EQ(sim.Connections(), (std::vector<long>{0, 1, 1, 1, 1, 1, 1, 1, 1}));
}

TEST_F(NetworkScanTest, AsksAtMost32DevicesAtOnce)
{
    // 40 slow devices: the last 8 can only start as the first finish.
    std::vector<std::string> slow;
    for (int i = 0; i < 40; ++i)
        slow.push_back("delay=300 " + std::to_string(i) + ".5V;");
    ScanSimulator all(slow);
    ASSERT_TRUE(all.Ready());
    const std::vector<Found> found = Scan(all);
    ASSERT_EQ(found.size(), 40u);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(OfDevice(found, i), (std::vector<Found>{{ScanSimulator::Address(i), 0, "V", ""}}))
            << i;
    EXPECT_EQ(all.Connections(), std::vector<long>(40, 1));

    // Devices are taken from the end of the list: the 32 silent ones that
    // answered last fill the table and hold it until 5 s pass without data,
    // so the 8 that answered first are never asked.
    std::vector<std::string> blocked(8, "reply 1.5V;");
    blocked.resize(40, "silent");
    ScanSimulator held(blocked);
    ASSERT_TRUE(held.Ready());
    EXPECT_TRUE(Scan(held).empty());
    const std::vector<long> connections = held.Connections();
    ASSERT_EQ(connections.size(), 40u);
    EXPECT_EQ(std::accumulate(connections.begin(), connections.begin() + 8, 0L), 0);
    EXPECT_EQ(std::accumulate(connections.begin() + 8, connections.end(), 0L), 32);
}

} // namespace
