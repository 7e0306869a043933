#include "net/DeviceChannel.h"

#include "net/NetTestSupport.h"
#include "net/SocketError.h"

#include <cerrno>
#include <climits>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;

namespace
{

class DeviceChannelTest : public ::testing::Test
{
protected:
    void SetUp() override { EnsureApplication(); }

    // Channels in configuration order, as recording creates them.
    CDeviceChannel& Add(const CSensor& sensor)
    {
        m_channels.push_back(std::make_unique<CDeviceChannel>(sensor));
        return *m_channels.back();
    }
    void StartAll()
    {
        for (auto& channel : m_channels)
            channel->Start(&m_sink);
    }

    RecordingSink m_sink;
    std::vector<std::unique_ptr<CDeviceChannel>> m_channels;
};

TEST_F(DeviceChannelTest, FirstEnabledSensorPollsForTheDeviceAndItsFollowersShowItsReply)
{
    const auto replyTime = std::chrono::system_clock::time_point(1700000000s);
    FixedClock clock(replyTime);
    SimulatedDevices sim({"127.0.0.1:0 reply 10.0.0.5;Lager;21.5°C;-°C;23.5°C;"});
    // Host names that differ in letter case name one device.
    CDeviceChannel& disabled = Add(SensorOn("localhost", sim.Port(0), 0, "°C", true));
    CDeviceChannel& master = Add(SensorOn("LocalHost", sim.Port(0), 2));
    CDeviceChannel& follower = Add(SensorOn("LOCALHOST", sim.Port(0), 1, "Grad"));
    LinkChannels();
    EXPECT_EQ(master.m_pMaster, nullptr);
    EXPECT_EQ(disabled.m_pMaster, &master);
    EXPECT_EQ(follower.m_pMaster, &master);
    EXPECT_EQ(master.GetStatusText(), "Verbindung getrennt");
    EXPECT_EQ(follower.GetStatusText(), "Verbindung getrennt");
    EXPECT_EQ(disabled.GetStatusText(), "deaktiviert");

    StartAll();
    EXPECT_EQ(master.GetStatusText(), "Namensauflösung...");
    EXPECT_EQ(follower.GetStatusText(), "Namensauflösung...");
    EXPECT_EQ(follower.m_connection.State(), CAsyncConnection::Stopped);
    ASSERT_TRUE(PumpUntil([&] { return master.m_connection.Replies() == 1; }));
    EXPECT_EQ(master.GetStatusText(), "23.5 °C");
    // The configured unit is shown, not the one in the reply.
    EXPECT_EQ(follower.GetStatusText(), "~ Grad");
    EXPECT_EQ(disabled.GetStatusText(), "deaktiviert");

    float value = -1;
    std::chrono::system_clock::time_point readAt;
    EXPECT_TRUE(master.GetValue(value, &readAt));
    EXPECT_FLOAT_EQ(value, 23.5f);
    EXPECT_EQ(readAt, replyTime);
    readAt = {};
    EXPECT_FALSE(follower.GetValue(value, &readAt));
    EXPECT_FLOAT_EQ(value, 0.0f);
    EXPECT_EQ(readAt, replyTime);
    EXPECT_TRUE(master.GetValue(value, nullptr));

    // Only the master's connection ever reports, so only the master is posted.
    PumpFor(100ms);
    for (CSensorChannel* channel : m_sink.calls)
        EXPECT_EQ(channel, &master);
    EXPECT_EQ(sim.Connections(0), 1);

    // A record of the same point, loaded while recording runs, shows this channel.
    CSensor record = SensorOn("localHOST", sim.Port(0), 1);
    EXPECT_TRUE(record.FindChannel());
    EXPECT_EQ(record.m_pChannel, &follower);
    record.m_nSensorNo = 3;
    EXPECT_FALSE(record.FindChannel());
    EXPECT_EQ(record.m_pChannel, nullptr);

    for (auto& channel : m_channels)
        channel->Stop();
    EXPECT_EQ(master.GetStatusText(), "Verbindung getrennt");
    EXPECT_EQ(follower.GetStatusText(), "Verbindung getrennt");
    EXPECT_EQ(disabled.GetStatusText(), "deaktiviert");
}

TEST_F(DeviceChannelTest, LinkChannelsBuildsOneChainPerDevice)
{
    CDeviceChannel& a = Add(SensorOn("Geraet1", 80, 0));
    CDeviceChannel& b = Add(SensorOn("GERAET1", 80, 1));
    CDeviceChannel& otherPort = Add(SensorOn("geraet1", 8080, 0));
    CDeviceChannel& otherHost = Add(SensorOn("Geraet2", 80, 0));
    CDeviceChannel& e = Add(SensorOn("geraet1", 80, 2));
    CDeviceChannel& allOff1 = Add(SensorOn("aus", 80, 0, "", true));
    CDeviceChannel& allOff2 = Add(SensorOn("AUS", 80, 1, "", true));
    CDeviceChannel& lateOff = Add(SensorOn("Geraet1", 80, 3, "", true));
    for (int pass = 0; pass < 2; ++pass)
    {
        LinkChannels();
        EXPECT_EQ(a.m_pMaster, nullptr);
        // Each later channel is inserted right behind the master.
        EXPECT_EQ(a.m_pNextFollower, &lateOff);
        EXPECT_EQ(lateOff.m_pNextFollower, &e);
        EXPECT_EQ(e.m_pNextFollower, &b);
        EXPECT_EQ(b.m_pNextFollower, nullptr);
        for (CDeviceChannel* follower : {&b, &e, &lateOff})
            EXPECT_EQ(follower->m_pMaster, &a);
        for (CDeviceChannel* alone : {&otherPort, &otherHost, &allOff1, &allOff2})
        {
            EXPECT_EQ(alone->m_pMaster, nullptr);
            EXPECT_EQ(alone->m_pNextFollower, nullptr);
        }
    }
}

TEST_F(DeviceChannelTest, SensorNumberOutsideTheEightSlotsOrDisabledHasNoValue)
{
    SimulatedDevices sim(
        {"127.0.0.1:0 reply 1.5°C;2.5°C;3.5°C;4.5°C;5.5°C;6.5°C;7.5°C;8.5°C;9.5°C;10.5°C;",
         "127.0.0.1:0 reply 21.5°C;"});
    CDeviceChannel& last = Add(SensorOn(sim.Address(0), sim.Port(0), 7));
    std::vector<CDeviceChannel*> outside;
    for (int sensorNo : {8, 9, -1, INT_MAX, INT_MIN})
        outside.push_back(&Add(SensorOn(sim.Address(0), sim.Port(0), sensorNo)));
    // The only sensor of its device, and disabled: that device is never asked.
    CDeviceChannel& disabled = Add(SensorOn(sim.Address(1), sim.Port(1), 0, "°C", true));
    outside.push_back(&disabled);
    LinkChannels();
    StartAll();
    ASSERT_TRUE(PumpUntil([&] { return last.m_connection.Replies() == 1; }));
    EXPECT_EQ(last.m_connection.SlotsInLastReply(), 8);
    EXPECT_EQ(last.GetStatusText(), "8.5 °C");
    Tick(700);
    PumpFor(100ms);
    for (CDeviceChannel* channel : outside)
    {
        EXPECT_EQ(channel->GetStatusText(), channel == &disabled ? "deaktiviert" : "~ °C")
            << channel->m_sensor.m_nSensorNo;
        float value = -1;
        EXPECT_FALSE(channel->GetValue(value, nullptr)) << channel->m_sensor.m_nSensorNo;
        EXPECT_FLOAT_EQ(value, 0.0f) << channel->m_sensor.m_nSensorNo;
    }
    EXPECT_EQ(disabled.m_connection.State(), CAsyncConnection::Stopped);
    EXPECT_EQ(sim.Connections(1), 0);
}

TEST(SocketErrorTest, TextsAndPlatformNumbers)
{
    // What the platform reports, as the user sees it.
    const std::pair<int, const char*> shown[] = {
        {ECONNREFUSED, "[10061] Verbindung abgewiesen"},
        {ETIMEDOUT, "[10060] Zeitüberschreitung beim Verbindungsaufbau"},
        {EADDRNOTAVAIL, "[10049] Kann die gewünschte Adresse nicht zuweisen"},
        {ECONNABORTED, "[10053] Verbindung abgebrochen"},
        {ECONNRESET, "[10053] Verbindung abgebrochen"},
        {EINVAL, "[10022] ungültiger Parameter"},
        {EMFILE, "[10024] Zu viele offene Dateien"},
        {ENFILE, "[23] Zu viele offene Dateien im System"},
        {EINPROGRESS, "[10035] ???"},
        {EWOULDBLOCK, "[10035] ???"},
        {EHOSTUNREACH, "[10065] ???"},
        {ENETUNREACH, "[10051] ???"},
        {ENOENT, "[2] ???"},
    };
    for (const auto& [error, text] : shown)
        EXPECT_EQ(FormatSocketError(MapSocketErrno(error)), text) << error;
    EXPECT_EQ(MapSocketErrno(0), 0);
    EXPECT_EQ(FormatSocketError(11001), "[11001] Unbekannter Hostname");
    EXPECT_EQ(FormatSocketError(10054), "[10054] ???");
    EXPECT_EQ(FormatSocketError(-5), "[-5] ???");
}

} // namespace
