#include "net/DeviceChannel.h"
#include "net/NetTestSupport.h"
#include "net/SocketError.h"

#include <QCoreApplication>
#include <algorithm>
#include <arpa/inet.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{

class DeviceConnectionTest : public ::testing::Test
{
protected:
    void SetUp() override { EnsureApplication(); }

    // A started channel of sensor 0 on the device.
    std::unique_ptr<CDeviceChannel> StartChannel(const std::string& host, std::uint16_t port)
    {
        auto channel = std::make_unique<CDeviceChannel>(SensorOn(host, port));
        channel->Start(&m_sink);
        return channel;
    }

    RecordingSink m_sink;
};

TEST_F(DeviceConnectionTest, EndedAttemptsShowWhyAndArePolledAgainInTime)
{
    const struct
    {
        const char* device;
        int received;   // bytes before the attempt ends
        int closeTicks; // ticks until the connection gives up; 0: the device ends it
        int error;
        const char* text;
        int parsed;     // slots of the reply; 0: no reply
        float second;   // the value of slot 1
        int retryTicks; // from the end to the next attempt
        int accepted;   // connections per attempt
    } cases[] = {
        {"refuse", 0, 0, SocketError::kConnectionRefused, "[10061] Verbindung abgewiesen", 0, 0, 50,
         0},
        {"reset", 0, 0, SocketError::kConnectionAborted, "[10053] Verbindung abgebrochen", 0, 0, 50,
         1},
        // The closing tick already counts toward the 50.
        {"silent", 0, 101, 0, "Verbindungsaufbau...", 0, 0, 49, 1},
        // The first 10 bytes are "21.5°C;45": two slots. Bytes arrived, so
        // the next poll waits the full period.
        {"stall=10 21.5°C;45%;", 10, 31, 0, "21.5 °C", 2, 45.0f, 599, 1},
        // Cut at 199 bytes; slot 2 is the run of filler bytes.
        {"oversize=5000 21.5°C;7,5%;", 199, 0, 0, "21.5 °C", 3, 7.5f, 600, 1},
        {"oversize=199 21.5°C;7,5%;", 199, 0, 0, "21.5 °C", 3, 7.5f, 600, 1},
        // Cut by the device itself.
        {"oversize=10 21.5°C;45%;", 10, 0, 0, "21.5 °C", 2, 45.0f, 600, 1},
    };
    std::vector<std::string> devices;
    for (const auto& c : cases)
        devices.push_back(std::string("127.0.0.1:0 ") + c.device);
    SimulatedDevices sim(devices);
    for (int i = 0; i < static_cast<int>(std::size(cases)); ++i)
    {
        const auto& c = cases[i];
        SCOPED_TRACE(c.device);
        auto channel = StartChannel(sim.Address(i), sim.Port(i));
        const CDeviceConnection& connection = channel->m_connection;
        for (int attempt = 1; attempt <= 2; ++attempt)
        {
            if (c.closeTicks > 0)
            {
                ASSERT_TRUE(PumpUntil(
                    [&]
                    {
                        return connection.State() == CAsyncConnection::Connected &&
                               connection.Received() == c.received;
                    }));
                PumpFor(50ms);
                Tick(c.closeTicks - 1);
                EXPECT_EQ(connection.State(), CAsyncConnection::Connected);
                Tick();
            }
            ASSERT_TRUE(PumpUntil([&] { return connection.State() == CAsyncConnection::Waiting; }));
            EXPECT_EQ(connection.Received(), c.received);
            EXPECT_EQ(connection.LastError(), c.error);
            EXPECT_EQ(connection.Replies(), c.parsed > 0 ? attempt : 0);
            EXPECT_EQ(connection.SlotsInLastReply(), c.parsed);
            if (c.parsed > 0)
            {
                EXPECT_FLOAT_EQ(connection.Value(0), 21.5f);
                EXPECT_FLOAT_EQ(connection.Value(1), c.second);
            }
            EXPECT_EQ(channel->GetStatusText(), c.text);
            EXPECT_TRUE(PumpUntil([&] { return sim.Connections(i) == attempt * c.accepted; }));
            Tick(c.retryTicks - 1);
            EXPECT_EQ(connection.State(), CAsyncConnection::Waiting);
            Tick();
            EXPECT_EQ(connection.State(), CAsyncConnection::Connecting);
            // An error stays in view until the next attempt ends.
            EXPECT_EQ(channel->GetStatusText(), c.error != 0 ? c.text : "Verbindungsaufbau...");
        }
    }
}

TEST_F(DeviceConnectionTest, HostsThatCannotBeReachedFailButOnlyNamesAreLookedUpAgain)
{
    // The empty label is refused before any name server is asked, so nothing
    // leaves the machine.
    for (const std::string host : {"geraet..lager", "999.1.1.1", "1.2.3.4.5"})
    {
        const bool name = host == "geraet..lager";
        const std::string text =
            name ? "[11001] Unbekannter Hostname" : "[10022] ungültiger Parameter";
        auto channel = StartChannel(host, 80);
        const CDeviceConnection& connection = channel->m_connection;
        if (name)
        {
            EXPECT_EQ(channel->GetStatusText(), "Namensauflösung...");
        }
        ASSERT_TRUE(PumpUntil([&] { return connection.State() == CAsyncConnection::Failed; }));
        EXPECT_EQ(connection.LastError(),
                  name ? SocketError::kHostNotFound : SocketError::kInvalidArgument);
        EXPECT_EQ(channel->GetStatusText(), text);
        PumpFor(50ms);
        m_sink.calls.clear();
        // A name server that was down for a minute must not end the recording;
        // a malformed address is not tried again, not even unseen.
        Tick(599);
        EXPECT_EQ(connection.State(), CAsyncConnection::Failed);
        EXPECT_EQ(connection.Socket(), -1);
        Tick();
        EXPECT_EQ(connection.State(),
                  name ? CAsyncConnection::Resolving : CAsyncConnection::Failed);
        ASSERT_TRUE(PumpUntil([&] { return connection.State() == CAsyncConnection::Failed; }));
        PumpFor(50ms);
        EXPECT_EQ(channel->GetStatusText(), text);
        EXPECT_EQ(m_sink.calls.empty(), !name);
    }
}

TEST_F(DeviceConnectionTest, SocketThatCannotBeOpenedWaitsForADescriptorShowingWhy)
{
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer runtime needs descriptors of its own and fails its checks
    // once the process has none left.
    GTEST_SKIP() << "not under the sanitizers: the process runs out of descriptors";
#endif
    SimulatedDevices sim({"127.0.0.1:0 reply 21.5°C;"});
    auto channel = std::make_unique<CDeviceChannel>(SensorOn(sim.Address(0), sim.Port(0)));
    const CDeviceConnection& connection = channel->m_connection;
    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    const int nextFd = dup(0);
    ASSERT_GE(nextFd, 0);
    close(nextFd);
    // No descriptor left for the process while the socket is due.
    rlimit scarce = files;
    scarce.rlim_cur = static_cast<rlim_t>(nextFd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &scarce), 0);
    channel->Start(&m_sink);
    const bool shown = PumpUntil([&] { return connection.LastError() != 0; }, 2s);
    Tick();
    PumpFor(50ms);
    const int waiting = connection.State();
    setrlimit(RLIMIT_NOFILE, &files);
    ASSERT_TRUE(shown);
    EXPECT_EQ(waiting, CAsyncConnection::Connecting);
    EXPECT_EQ(connection.LastError(), SocketError::kTooManyOpenFiles);
    EXPECT_EQ(channel->GetStatusText(), "[10024] Zu viele offene Dateien");
    // The next tick finds the descriptor; the device sees one poll, later.
    Tick();
    ASSERT_TRUE(PumpUntil([&] { return connection.Replies() == 1; }));
    EXPECT_EQ(channel->GetStatusText(), "21.5 °C");
    EXPECT_EQ(sim.Connections(0), 1);
}

TEST_F(DeviceConnectionTest, HealthyDevicesGetValuesBesideTwoThousandSilentOnesOnFewDescriptors)
{
    constexpr int kSilent = 2000;
    constexpr int kHealthy = 3;
    std::vector<std::string> devices(kSilent, "127.0.0.1:0 silent");
    devices.insert(devices.end(), kHealthy, "127.0.0.1:0 reply 21.5°C;");
    SimulatedDevices sim(devices);
    // Started last, the healthy devices queue behind every silent one.
    std::vector<std::unique_ptr<CDeviceChannel>> channels;
    for (int i = 0; i < kSilent + kHealthy; ++i)
        channels.push_back(std::make_unique<CDeviceChannel>(SensorOn(sim.Address(i), sim.Port(i))));
    const auto healthy = [&]
    {
        return std::all_of(channels.end() - kHealthy, channels.end(),
                           [](const auto& channel) { return channel->m_connection.Replies() > 0; });
    };
    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    const auto open = std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                    std::filesystem::directory_iterator());
    rlimit scarce = files;
    scarce.rlim_cur = static_cast<rlim_t>(open + 300);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &scarce), 0);
    for (auto& channel : channels)
        channel->Start(&m_sink);
    int errors = 0;
    // Each silent device holds its socket for 101 ticks; enough ticks for
    // the queue to come round several times.
    for (int tick = 0; tick < 3000 && !healthy(); ++tick)
    {
        Tick();
        for (int pass = 0; pass < 20; ++pass)
            QCoreApplication::processEvents();
        for (const auto& channel : channels)
        {
            const int error = channel->m_connection.LastError();
            errors += error == SocketError::kTooManyOpenFiles ||
                      error == SocketError::kTooManyOpenFilesInSystem;
        }
    }
    setrlimit(RLIMIT_NOFILE, &files);
    EXPECT_TRUE(healthy());
    EXPECT_EQ(errors, 0) << "the connections took every descriptor there was";
    for (auto it = channels.end() - kHealthy; it != channels.end(); ++it)
        EXPECT_EQ((*it)->GetStatusText(), "21.5 °C");
    EXPECT_GT(sim.Connections(0), 0);
    EXPECT_GT(sim.Connections(kSilent - 1), 0);
}

TEST_F(DeviceConnectionTest, StopWhileLookupPendingCancelsIt)
{
    SimulatedDevices sim({"127.0.0.1:0 reply 21.5°C;"});
    auto channel = StartChannel("localhost", sim.Port(0));
    const CDeviceConnection& connection = channel->m_connection;
    EXPECT_EQ(connection.State(), CAsyncConnection::Resolving);
    channel->Stop();
    EXPECT_EQ(connection.State(), CAsyncConnection::Stopped);
    EXPECT_EQ(channel->GetStatusText(), "Verbindung getrennt");
    PumpFor(300ms);
    Tick(100);
    EXPECT_EQ(connection.State(), CAsyncConnection::Stopped);
    EXPECT_EQ(sim.Connections(0), 0);

    // Started again, it resolves and polls once: the cancelled lookup's
    // result reached nobody.
    channel->Start(&m_sink);
    ASSERT_TRUE(PumpUntil([&] { return connection.Replies() == 1; }));
    PumpFor(100ms);
    EXPECT_EQ(sim.Connections(0), 1);
    EXPECT_EQ(channel->GetStatusText(), "21.5 °C");
}

// A listener whose queue is full: further handshakes hang unanswered, as
// they do towards a device that is switched off.
struct FullListener
{
    FullListener()
    {
        sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        auto* const at = reinterpret_cast<sockaddr*>(&address);
        socklen_t length = sizeof address;
        if (bind(listener, at, length) != 0 || listen(listener, 0) != 0 ||
            getsockname(listener, at, &length) != 0 || connect(filler, at, length) != 0)
            throw std::runtime_error("cannot fill the queue of a loopback listener");
        port = ntohs(address.sin_port);
    }
    ~FullListener()
    {
        close(filler);
        close(listener);
    }
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::uint16_t port = 0;
};

TEST_F(DeviceConnectionTest, TimedOutConnectIsRetriedAfterOneTickWithoutItsText)
{
    FullListener device;
    auto channel = StartChannel("127.0.0.1", device.port);
    const CDeviceConnection& connection = channel->m_connection;
    ASSERT_TRUE(PumpUntil([&] { return connection.Socket() >= 0; }));
    PumpFor(50ms);
    ASSERT_EQ(connection.State(), CAsyncConnection::Connecting);
    // What the platform reports when it gives up on the handshake.
    CAsyncConnection::DispatchSocketMessage({.kind = CSocketMessage::Kind::SocketEvent,
                                             .handle = connection.Socket(),
                                             .event = CSocketMessage::Connect,
                                             .error = SocketError::kTimedOut});
    EXPECT_EQ(connection.State(), CAsyncConnection::Waiting);
    EXPECT_EQ(connection.Socket(), -1);
    EXPECT_EQ(connection.LastError(), SocketError::kTimedOut);
    EXPECT_EQ(channel->GetStatusText(), "Verbindungsaufbau...");
    Tick();
    EXPECT_EQ(connection.State(), CAsyncConnection::Connecting);
    EXPECT_EQ(channel->GetStatusText(), "Verbindungsaufbau...");
}

// Records its ticks; may remove another connection while it is ticked.
class TickCounter : public CAsyncConnection
{
public:
    explicit TickCounter(std::vector<const TickCounter*>& visits)
        : CAsyncConnection("127.0.0.1", 9, 10, 0), m_visits(visits)
    {
    }
    void OnTick() override
    {
        victim.reset();
        m_visits.push_back(this);
    }
    std::unique_ptr<TickCounter> victim;

private:
    std::vector<const TickCounter*>& m_visits;
};

TEST_F(DeviceConnectionTest, ConnectionsDueInTheSameTickActNewestFirstAndMayRemoveOthers)
{
    std::vector<const TickCounter*> visits;
    TickCounter oldest(visits);
    auto middle = std::make_unique<TickCounter>(visits);
    TickCounter newest(visits);
    const TickCounter* const removed = middle.get();
    Tick();
    EXPECT_EQ(visits, (std::vector<const TickCounter*>{&newest, removed, &oldest}));
    newest.victim = std::move(middle);
    visits.clear();
    Tick(2);
    EXPECT_EQ(visits, (std::vector<const TickCounter*>{&newest, &oldest, &newest, &oldest}));
}

class CountingSink : public IChannelStatusSink
{
public:
    void OnChannelStatus(CSensorChannel*) override { ++calls; }
    static inline int calls = 0;
};

TEST_F(DeviceConnectionTest, StatusCallsAreQueuedAndSkipDeletedChannels)
{
    SimulatedDevices sim({"127.0.0.1:0 refuse"});
    auto kept = StartChannel(sim.Address(0), sim.Port(0));
    auto dropped = StartChannel(sim.Address(0), sim.Port(0));
    EXPECT_TRUE(m_sink.calls.empty());
    dropped.reset();
    PumpFor(100ms);
    ASSERT_FALSE(m_sink.calls.empty());
    for (CSensorChannel* channel : m_sink.calls)
        EXPECT_EQ(channel, kept.get());

    // A sink that is gone gets nothing, even for calls already queued.
    auto sink = std::make_unique<CountingSink>();
    kept->Stop();
    kept->Start(sink.get());
    kept->Stop();
    sink.reset();
    PumpFor(100ms);
    EXPECT_EQ(CountingSink::calls, 0);
}

TEST_F(DeviceConnectionTest, EachReplyIsParsedAtItsTimeAndChangesOnlyTheSlotsItReaches)
{
    // One device that answers differently at each poll: the simulator starts
    // anew on the same port for each answer.
    const auto firstPoll = std::chrono::system_clock::time_point(1700000000s);
    FixedClock clock(firstPoll);
    auto sim = std::make_unique<SimulatedDevices>(
        std::vector<std::string>{"127.0.0.1:0 reply 10.0.0.5;Lager;21.5°C;-°C;45,0%;"});
    const std::uint16_t port = sim->Port(0);
    auto channel = StartChannel("127.0.0.1", port);
    const CDeviceConnection& connection = channel->m_connection;
    EXPECT_EQ(connection.State(), CAsyncConnection::Connecting);
    EXPECT_TRUE(m_sink.calls.empty()) << "status changes are posted, not delivered at once";
    ASSERT_TRUE(PumpUntil([&] { return connection.Replies() == 1; }));
    EXPECT_EQ(connection.State(), CAsyncConnection::Waiting);
    EXPECT_EQ(connection.LastError(), 0);
    EXPECT_EQ(connection.SlotsInLastReply(), 3);
    EXPECT_TRUE(connection.GotAny());
    EXPECT_TRUE(connection.HasValue(0) && !connection.NoValue(0));
    EXPECT_TRUE(!connection.HasValue(1) && connection.NoValue(1));
    EXPECT_TRUE(PumpUntil([&] { return !m_sink.calls.empty(); }));
    EXPECT_EQ(m_sink.calls.back(), channel.get());

    struct Poll
    {
        const char* device;
        int replies;               // parsed so far
        std::vector<float> values; // slots 0 to 2
        bool readNow;              // the reply time is this poll's
        int nextPoll;              // ticks until the poll after it
    };
    const Poll polls[] = {
        {"", 1, {21.5f, 0.0f, 45.0f}, true, 600},
        // Fewer fields: the higher slots keep what they had.
        {"reply 7.5A;", 2, {7.5f, 0.0f, 45.0f}, true, 600},
        // No value field at all: a reply, at its time, with the slots as they were.
        {"reply 10.0.0.5;Lager;", 3, {7.5f, 0.0f, 45.0f}, true, 600},
        // Closed without a byte: nothing parsed, tried again after 50 ticks.
        {"close", 3, {7.5f, 0.0f, 45.0f}, false, 50},
        {"reply 9.5A;8.5B;", 4, {9.5f, 8.5f, 45.0f}, true, 600},
        // The device restarts and has lost its reading.
        {"reply -A;8.5B;", 5, {0.0f, 8.5f, 45.0f}, true, 600},
    };
    int wait = 0;
    auto lastRead = firstPoll;
    for (const Poll& poll : polls)
    {
        SCOPED_TRACE(poll.device);
        if (wait > 0)
        {
            sim.reset();
            sim = std::make_unique<SimulatedDevices>(
                std::vector<std::string>{"127.0.0.1:" + std::to_string(port) + " " + poll.device});
            clock.Set(clock.UtcNow() + 60s);
            Tick(wait - 1);
            ASSERT_EQ(connection.State(), CAsyncConnection::Waiting);
            Tick();
            ASSERT_EQ(connection.State(), CAsyncConnection::Connecting);
            EXPECT_EQ(connection.StartTime(), clock.UtcNow());
            ASSERT_TRUE(PumpUntil([&] { return connection.State() == CAsyncConnection::Waiting; }));
        }
        EXPECT_EQ(sim->Connections(0), 1);
        EXPECT_EQ(connection.Replies(), poll.replies);
        for (int slot = 0; slot < 3; ++slot)
            EXPECT_FLOAT_EQ(connection.Value(slot), poll.values[slot]) << slot;
        if (poll.readNow)
            lastRead = clock.UtcNow();
        EXPECT_EQ(connection.ReadAt(), lastRead);
        wait = poll.nextPoll;
    }
    // The slot shows zero but reports no value.
    EXPECT_EQ(channel->GetStatusText(), "0.0 °C");
    float value = -1;
    EXPECT_FALSE(channel->GetValue(value, nullptr));
    EXPECT_FLOAT_EQ(value, 0.0f);
}

} // namespace
