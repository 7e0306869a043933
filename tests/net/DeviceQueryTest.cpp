#include "DeviceQuery.h"

#include "NetTestSupport.h"

#include <arpa/inet.h>
#include <array>
#include <gtest/gtest.h>

namespace
{

using SlotList = std::vector<std::pair<int, std::string>>;

SlotList Slots(const std::string& reply)
{
    SlotList list;
    for (const CInstalledSensor& sensor : ReadInstalledSensors(reply))
        list.emplace_back(sensor.m_nSensorNo, sensor.m_strUnit);
    return list;
}

TEST(ResolveHost, ReadsDottedAddressesAndLooksUpNames)
{
    std::array<std::uint32_t, 2> addresses{};
    EXPECT_EQ(ResolveHost(" \t10.0.0.5", addresses), 1);
    EXPECT_EQ(addresses[0], inet_addr("10.0.0.5"));
    EXPECT_EQ(ResolveHost("999.1.1.1", addresses), 0);
    EXPECT_EQ(ResolveHost("", addresses), 0);

    addresses = {};
    const int count = ResolveHost("localhost", addresses);
    ASSERT_GE(count, 1);
    EXPECT_EQ(addresses[0], inet_addr("127.0.0.1"));
    // Only as many as there is room for are written, but all are counted.
    std::array<std::uint32_t, 1> untouched{};
    EXPECT_EQ(ResolveHost("localhost", std::span<std::uint32_t>(untouched.data(), 0)), count);
    EXPECT_EQ(untouched[0], 0u);

    // An empty label is refused before any name server is asked.
    EXPECT_EQ(ResolveHost("geraet..lager", addresses), 0);
}

TEST(DeviceQuery, ReturnsTheReplyAndItsSlotsWithAValue)
{
    SimulatedDevices sim({"127.0.0.1:0 reply 21.5\302\260C;-\302\260C;45,0%",
                          "127.0.0.1:0 reply 10.0.0.5;Lager;--- %;12,5\\xB0C;3.5V;",
                          "127.0.0.1:0 close"});
    const std::optional<std::string> bare = QueryDeviceReply("localhost", sim.Port(0));
    ASSERT_TRUE(bare.has_value());
    EXPECT_EQ(*bare, "21.5\302\260C;-\302\260C;45,0%");
    EXPECT_EQ(Slots(*bare), (SlotList{{0, "\302\260C"}, {2, "%"}}));

    const std::optional<std::string> addressed = QueryDeviceReply(" 127.0.0.1", sim.Port(1));
    ASSERT_TRUE(addressed.has_value());
    EXPECT_EQ(Slots(*addressed), (SlotList{{1, "\302\260C"}, {2, "V"}}));

    // A device that closes without a word gives an empty reply, not a failure.
    EXPECT_EQ(QueryDeviceReply(sim.Address(2), sim.Port(2)), std::optional<std::string>(""));
    EXPECT_EQ(sim.Connections(2), 1);
}

TEST(DeviceQuery, GivesNothingWhenTheDeviceCannotBeRead)
{
    SimulatedDevices sim({"127.0.0.1:0 refuse", "127.0.0.1:0 reset", "127.0.0.1:0 silent"});
    EXPECT_EQ(QueryDeviceReply(sim.Address(0), sim.Port(0)), std::nullopt);
    EXPECT_EQ(QueryDeviceReply(sim.Address(1), sim.Port(1)), std::nullopt);
    EXPECT_EQ(sim.Connections(1), 1);
    EXPECT_EQ(QueryDeviceReply(sim.Address(2), sim.Port(2)), std::nullopt);
    EXPECT_EQ(sim.Connections(2), 1);
    EXPECT_EQ(QueryDeviceReply("geraet..lager", sim.Port(0)), std::nullopt);
    EXPECT_EQ(QueryDeviceReply("999.1.1.1", sim.Port(0)), std::nullopt);
}

} // namespace
