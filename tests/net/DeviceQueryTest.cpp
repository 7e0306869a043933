#include "net/DeviceQuery.h"

#include "net/NetTestSupport.h"

#include <arpa/inet.h>
#include <array>
#include <gtest/gtest.h>

namespace
{

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
}

TEST(DeviceQuery, ReturnsTheReplyAsItCame)
{
    SimulatedDevices sim({"127.0.0.1:0 reply 10.0.0.5;Lager;21.5\302\260C;-\302\260C;45,0%;",
                          "127.0.0.1:0 close", "127.0.0.1:0 trickle=2000 21.5\302\260C;",
                          "127.0.0.1:0 refuse", "127.0.0.1:0 reset", "127.0.0.1:0 silent"});
    EXPECT_EQ(QueryDeviceReply(" localhost", sim.Port(0)),
              std::optional<std::string>("10.0.0.5;Lager;21.5\302\260C;-\302\260C;45,0%;"));
    // A device that closes without a word gives an empty reply, not a failure.
    EXPECT_EQ(QueryDeviceReply(sim.Address(1), sim.Port(1)), std::optional<std::string>(""));
    // One read: a device that trickles its reply cannot hold the query.
    EXPECT_EQ(QueryDeviceReply(sim.Address(2), sim.Port(2)), std::optional<std::string>("2"));
    // Nothing from a device that cannot be read, or a host that cannot be reached.
    for (int device : {3, 4, 5})
        EXPECT_EQ(QueryDeviceReply(sim.Address(device), sim.Port(device)), std::nullopt) << device;
    EXPECT_EQ(QueryDeviceReply("geraet..lager", sim.Port(0)), std::nullopt);
    EXPECT_EQ(QueryDeviceReply("999.1.1.1", sim.Port(0)), std::nullopt);
    for (int device : {1, 4, 5})
        EXPECT_EQ(sim.Connections(device), 1) << device;
}

} // namespace
