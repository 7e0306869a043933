#include "common/VarionSim.h"

#include "common/TempDir.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using namespace std::chrono_literals;

const std::string kRequest = "GET /Single\r\n";

sockaddr_in Sockaddr(const Endpoint& endpoint)
{
    sockaddr_in sa{AF_INET, htons(endpoint.port), {}, {}};
    inet_pton(AF_INET, endpoint.address.c_str(), &sa.sin_addr);
    return sa;
}

class Socket
{
public:
    explicit Socket(int type) : m_fd(socket(AF_INET, type | SOCK_CLOEXEC, 0)) {}
    ~Socket() { close(m_fd); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int Fd() const { return m_fd; }
    void SetReceiveTimeout(std::chrono::milliseconds timeout)
    {
        const timeval tv{static_cast<time_t>(timeout.count() / 1000),
                         static_cast<suseconds_t>(timeout.count() % 1000 * 1000)};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    // 0 on success, else errno.
    int Connect(const Endpoint& to)
    {
        const sockaddr_in sa = Sockaddr(to);
        return connect(m_fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : errno;
    }
    bool SendAll(const std::string& bytes)
    {
        return send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

private:
    int m_fd;
};

// What a client saw of one TCP exchange.
struct Exchange
{
    int connectError = 0;
    std::string data;
    bool closed = false; // orderly end of stream
    bool quiet = false;  // still open, nothing more within the wait
};

// Reads until the peer closes, fails, or stays quiet for `quiet`.
void ReadAll(Socket& socket, Exchange& exchange, std::chrono::milliseconds quiet)
{
    socket.SetReceiveTimeout(quiet);
    char buffer[65536];
    ssize_t n;
    while ((n = recv(socket.Fd(), buffer, sizeof buffer, 0)) > 0)
        exchange.data.append(buffer, static_cast<size_t>(n));
    exchange.closed = n == 0;
    exchange.quiet = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

Exchange Poll(const Endpoint& device, const std::string& request = kRequest,
              std::chrono::milliseconds quiet = 5s)
{
    Exchange exchange;
    Socket socket(SOCK_STREAM);
    exchange.connectError = socket.Connect(device);
    if (exchange.connectError == 0 && socket.SendAll(request))
        ReadAll(socket, exchange, quiet);
    return exchange;
}

// A datagram socket on loopback that hears the answers to what it sends.
class Asker : public Socket
{
public:
    Asker() : Socket(SOCK_DGRAM)
    {
        const sockaddr_in sa = Sockaddr({"127.0.0.1", 0});
        bind(Fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    }
    void Send(const std::string& bytes, const Endpoint& to)
    {
        const sockaddr_in sa = Sockaddr(to);
        sendto(Fd(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&sa),
               sizeof sa);
    }
    // The datagrams that arrive until none has come for 300 ms.
    std::vector<std::string> Receive()
    {
        SetReceiveTimeout(300ms);
        std::vector<std::string> datagrams;
        char buffer[2048];
        for (ssize_t n; (n = recv(Fd(), buffer, sizeof buffer, 0)) >= 0;)
            datagrams.emplace_back(buffer, static_cast<size_t>(n));
        return datagrams;
    }
};

std::string AddressBytes(const std::string& datagram)
{
    return datagram.size() >= 10 ? datagram.substr(6, 4) : std::string();
}

} // namespace

TEST(VarionSim, ReplyDeviceAnswersTheRequestOncePerConnectionAndCloses)
{
    VarionSim sim({"--device", "127.0.0.1:0 reply 10.0.0.5;Lager;{drift:20.0:0.5}°C;{count};\\r\\n",
                   "--device",
                   "127.0.0.1:0 reply a\\tb\\\\c\\x41\\xB0 x;y,z {drift:-1:-0.5} {oops}"});
    ASSERT_EQ(sim.Devices().size(), 2u);
    for (const char* value : {"20.0°C;0;", "20.5°C;1;", "21.0°C;2;"})
    {
        const Exchange poll = Poll(sim.Devices()[0]);
        EXPECT_TRUE(poll.closed);
        EXPECT_EQ(poll.data, "10.0.0.5;Lager;" + std::string(value) + "\r\n");
    }

    // Escapes give raw bytes; spaces and separators stay; the other device
    // keeps its own poll count.
    const Exchange escaped = Poll(sim.Devices()[1]);
    EXPECT_TRUE(escaped.closed);
    EXPECT_EQ(escaped.data, "a\tb\\cA\xB0 x;y,z -1.0 {oops}");
    EXPECT_EQ(Poll(sim.Devices()[1]).data, "a\tb\\cA\xB0 x;y,z -1.5 {oops}");

    // A request in two pieces is still one request.
    {
        Exchange split;
        Socket socket(SOCK_STREAM);
        ASSERT_EQ(socket.Connect(sim.Devices()[0]), 0);
        const int on = 1;
        setsockopt(socket.Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ASSERT_TRUE(socket.SendAll("GET /Si"));
        std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(socket.SendAll("ngle\r\n"));
        ReadAll(socket, split, 5s);
        EXPECT_EQ(split.data, "10.0.0.5;Lager;21.5°C;3;\r\n");
    }

    // Anything but the exact request is closed without an answer and is no poll.
    for (const std::string& wrong : {std::string("GET /single\r\n"), std::string("GET /Single\n"),
                                     std::string("GET /Singlexyz")})
    {
        const Exchange refused = Poll(sim.Devices()[0], wrong);
        EXPECT_TRUE(refused.closed) << wrong;
        EXPECT_EQ(refused.data, "") << wrong;
    }
    // No answer before the request is complete.
    EXPECT_TRUE(Poll(sim.Devices()[0], "GET /Sin", 200ms).quiet);
    EXPECT_EQ(Poll(sim.Devices()[0]).data, "10.0.0.5;Lager;22.0°C;4;\r\n");
}

TEST(VarionSim, StuckClientsDoNotHoldUpOtherDevicesOrClients)
{
    VarionSim sim({"--device", "127.0.0.1:0 oversize=16000000 big", "--device",
                   "127.0.0.1:0 silent", "--device", "127.0.0.1:0 stall=2 abc", "--device",
                   "127.0.0.1:0 reply {count}", "--device", "127.0.0.1:0 delay=100000 never"});
    ASSERT_TRUE(sim.Ready());
    ASSERT_EQ(sim.Devices().size(), 5u);

    {
        // A client that never reads a 16 MB answer, one that never hears
        // back, one held after two bytes and one waiting for a day.
        std::vector<std::unique_ptr<Socket>> stuck;
        for (int device : {0, 1, 2, 4})
        {
            stuck.push_back(std::make_unique<Socket>(SOCK_STREAM));
            ASSERT_EQ(stuck.back()->Connect(sim.Devices()[device]), 0);
            ASSERT_TRUE(stuck.back()->SendAll(kRequest));
        }
        for (int poll = 0; poll < 20; ++poll)
            EXPECT_EQ(Poll(sim.Devices()[3]).data, std::to_string(poll));
        // The big device serves a second client beside the stuck one.
        Socket second(SOCK_STREAM);
        ASSERT_EQ(second.Connect(sim.Devices()[0]), 0);
        ASSERT_TRUE(second.SendAll(kRequest));
        Exchange big;
        ReadAll(second, big, 5s);
        EXPECT_TRUE(big.closed);
        EXPECT_EQ(big.data.size(), 16000000u);
        // All four go away with the device still busy on them.
    }
    EXPECT_EQ(Poll(sim.Devices()[3]).data, "20");
    EXPECT_EQ(sim.Connections(), (std::vector<long>{2, 1, 1, 21, 1}));
}

TEST(VarionSim, DiscoveryAnnouncesEveryDeviceWithItsAddressReversed)
{
    VarionSim sim({"--discovery", "127.0.0.1:0", "--device", "127.0.0.5:0 reply,announce=2 a",
                   "--device", "127.1.2.3:0 refuse", "--device",
                   "127.0.0.9:0 reply,announce=0 hidden", "--discovery-extra", "",
                   "--discovery-extra", "3f00Ff"});
    ASSERT_EQ(sim.Discovery().address, "127.0.0.1");
    Asker asker;
    // Only the one-byte "?" is a discovery, and every one is answered anew.
    for (const char* query : {"??", "x", "", "?", "?"})
        asker.Send(query, sim.Discovery());
    const std::vector<std::string> answers = asker.Receive();
    ASSERT_EQ(answers.size(), 10u);
    for (size_t i : {0, 1, 2, 5, 6, 7})
        EXPECT_EQ(answers[i].size(), 62u) << i;
    const std::string device5("\x05\x00\x00\x7F", 4), device3("\x03\x02\x01\x7F", 4);
    for (size_t i : {0, 5})
        EXPECT_EQ((std::vector<std::string>{AddressBytes(answers[i]), AddressBytes(answers[i + 1]),
                                            AddressBytes(answers[i + 2]), answers[i + 3],
                                            answers[i + 4]}),
                  (std::vector<std::string>{device5, device5, device3, "",
                                            std::string("\x3F\x00\xFF", 3)}));
}

TEST(VarionSim, DiscoveryOnTheWildcardAddressHearsTheLoopbackBroadcast)
{
    VarionSim sim({"--discovery", "0.0.0.0:0", "--device", "127.0.0.7:0 reply a"});
    ASSERT_EQ(sim.Discovery().address, "0.0.0.0");
    // A second simulator may listen on the same discovery port.
    VarionSim other({"--discovery", "0.0.0.0:" + std::to_string(sim.Discovery().port), "--device",
                     "127.0.0.8:0 reply b"});
    ASSERT_TRUE(other.Ready());

    Asker asker;
    const int on = 1;
    ASSERT_EQ(setsockopt(asker.Fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on), 0);
    asker.Send("?", Endpoint{"127.255.255.255", sim.Discovery().port});
    std::vector<std::string> addresses;
    for (const std::string& answer : asker.Receive())
        addresses.push_back(AddressBytes(answer));
    std::sort(addresses.begin(), addresses.end());
    EXPECT_EQ(addresses, (std::vector<std::string>{std::string("\x07\x00\x00\x7F", 4),
                                                   std::string("\x08\x00\x00\x7F", 4)}));
}

TEST(VarionSim, CountsAcceptedConnectionsOnRequestAndAtExit)
{
    // The script's devices share one port on addresses of their own.
    TempDir dir;
    const std::string port = std::to_string(FreeLoopbackPort());
    WriteFileBytes(dir / "devices.txt",
                   "# two devices\n\n   \n  # indented comment\n127.0.0.2:" + port +
                       " reply from script\r\n127.0.0.3:" + port + "  close\n");
    VarionSim sim({(dir / "devices.txt").string(), "--device", "127.0.0.1:0 refuse", "--many", "2",
                   "127.0.0.1:0 reply many {count}"});
    // Command-line devices first, in their order, then the script's.
    ASSERT_EQ(sim.Devices().size(), 5u);
    EXPECT_NE(sim.Devices()[1].port, sim.Devices()[2].port);
    EXPECT_EQ(sim.Devices()[3].address + sim.Devices()[4].address, "127.0.0.2127.0.0.3");
    EXPECT_EQ(std::to_string(sim.Devices()[3].port), port);
    EXPECT_EQ(std::to_string(sim.Devices()[4].port), port);
    EXPECT_EQ(Poll(sim.Devices()[0]).connectError, ECONNREFUSED);
    EXPECT_EQ(Poll(sim.Devices()[1]).data, "many 0");
    EXPECT_EQ(Poll(sim.Devices()[1]).data, "many 1");
    EXPECT_EQ(Poll(sim.Devices()[2]).data, "many 0");
    EXPECT_EQ(Poll(sim.Devices()[3]).data, "from script");
    const Exchange closed = Poll(sim.Devices()[4]);
    EXPECT_TRUE(closed.closed);
    EXPECT_EQ(closed.data, "");
    // Bound to their own addresses, not to all of loopback.
    EXPECT_EQ(Poll(Endpoint{"127.0.0.4", sim.Devices()[3].port}).connectError, ECONNREFUSED);

    EXPECT_EQ(sim.Connections(), (std::vector<long>{0, 2, 1, 1, 1}));
    EXPECT_EQ(Poll(sim.Devices()[2]).data, "many 1");
    EXPECT_EQ(sim.Connections(), (std::vector<long>{0, 2, 2, 1, 1}));

    sim.Process().Signal(SIGTERM);
    EXPECT_EQ(sim.ReadCounts(), (std::vector<long>{0, 2, 2, 1, 1}));
    EXPECT_EQ(sim.Process().Wait(), 0);
}

TEST(VarionSim, RefusesWhatItCannotServe)
{
    std::vector<std::vector<std::string>> bad = {
        {"--discovery", "192.168.1.1:8512"},
        {"--device"},
        {"--many", "2", "127.0.0.1:5000 reply x"},
        {"--many", "lots", "127.0.0.1:0 reply x"},
        {"--discovery-extra", "00"},
        {"--frobnicate"},
        {"--discovery", "127.0.0.1:0", "--discovery-extra", "abc"},
        {"/nonexistent/devices.txt"}};
    // 192.0.3.1 and the next two lie just beside the networks reserved for documentation.
    for (const char* device :
         {"10.0.0.1:80 reply x", "0.0.0.0:80 reply x", "192.0.3.1:80 reply x",
          "198.51.99.255:80 reply x", "203.0.114.1:80 reply x", "127.0.0.1:0 bogus x",
          "127.0.0.1:0 stall x", "127.0.0.1:0 delay=-5 x", "127.0.0.1:0 reply,announce=x x",
          "127.0.0.1:0 reply,colour=red x", "127.0.0.1:0 reply tail\\", "127.0.0.1:0 reply \\q",
          "127.0.0.1:0 reply \\xZ1", "127.0.0.1:0 reply {drift:1}", "127.0.0.1:70000 reply x",
          "127.0.0.1 reply x", "127.0.0.1:0"})
        bad.push_back({"--device", device});
    ExpectUsageErrors({VARION_SIM}, bad, "varion-sim:");
    TempDir dir;
    WriteFileBytes(dir / "bad.txt", "127.0.0.1:0 reply ok\n127.0.0.1:0 sulk\n");
    ExpectUsageErrors({VARION_SIM}, {{(dir / "bad.txt").string()}}, "bad.txt:2");

    // A documentation address is taken; where the machine has no such
    // address, binding it fails. That, and a port that is taken, are no bad
    // arguments but a failure to start.
    VarionSim holder({"--device", "127.0.0.1:0 reply x"});
    for (const std::string& address : {std::string("198.51.100.7:0"), std::string("203.0.113.7:0"),
                                       "127.0.0.1:" + std::to_string(holder.Devices()[0].port)})
    {
        const ProcessResult unbound = RunProcess({VARION_SIM, "--device", address + " reply x"});
        EXPECT_EQ(unbound.exitCode, 1) << address << unbound.err;
        EXPECT_EQ(unbound.out.find("ready"), std::string::npos);
    }
}
