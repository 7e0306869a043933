#include "common/Process.h"
#include "common/TempDir.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <gtest/gtest.h>
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

struct Endpoint
{
    std::string address;
    std::uint16_t port = 0;

    sockaddr_in Sockaddr() const
    {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
        return sa;
    }
};

Endpoint ParseEndpoint(const std::string& text)
{
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return {};
    return {text.substr(0, colon), static_cast<std::uint16_t>(std::stoi(text.substr(colon + 1)))};
}

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

// A running simulator with the endpoints it announced before "ready".
class Sim
{
public:
    explicit Sim(std::vector<std::string> args) : m_process(WithBinary(std::move(args)))
    {
        std::string line;
        while (m_process.ReadLine(line))
        {
            const std::vector<std::string> fields = SplitTabs(line);
            if (line == "ready")
            {
                ready = true;
                return;
            }
            if (fields[0] == "device" && fields.size() == 3 &&
                fields[1] == std::to_string(devices.size()))
                devices.push_back(ParseEndpoint(fields[2]));
            else if (fields[0] == "discovery" && fields.size() == 2)
                discovery = ParseEndpoint(fields[1]);
        }
    }

    // The per-device counts of one report, up to its "end"; empty when the
    // report is malformed.
    std::vector<long> ReadCounts()
    {
        std::vector<long> counts;
        std::string line;
        while (m_process.ReadLine(line) && line != "end")
        {
            const std::vector<std::string> fields = SplitTabs(line);
            if (fields.size() != 3 || fields[0] != "connections" ||
                fields[1] != std::to_string(counts.size()))
                return {};
            counts.push_back(std::stol(fields[2]));
        }
        return line == "end" ? counts : std::vector<long>{};
    }

    std::vector<long> RequestCounts()
    {
        m_process.Signal(SIGUSR1);
        return ReadCounts();
    }

    ChildProcess& Process() { return m_process; }

    bool ready = false;
    std::vector<Endpoint> devices;
    Endpoint discovery;

private:
    static std::vector<std::string> WithBinary(std::vector<std::string> args)
    {
        args.insert(args.begin(), VARION_SIM);
        return args;
    }

    ChildProcess m_process;
};

class Socket
{
public:
    explicit Socket(int type) : m_fd(socket(AF_INET, type | SOCK_CLOEXEC, 0)) {}
    ~Socket()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
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
        const sockaddr_in sa = to.Sockaddr();
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
    int receiveError = 0;
};

// Reads until the peer closes, fails, or stays quiet for `quiet`.
void ReadAll(Socket& socket, Exchange& exchange, std::chrono::milliseconds quiet)
{
    socket.SetReceiveTimeout(quiet);
    char buffer[65536];
    for (;;)
    {
        const ssize_t n = recv(socket.Fd(), buffer, sizeof buffer, 0);
        if (n > 0)
            exchange.data.append(buffer, static_cast<size_t>(n));
        else if (n == 0)
        {
            exchange.closed = true;
            return;
        }
        else
        {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                exchange.quiet = true;
            else
                exchange.receiveError = errno;
            return;
        }
    }
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

std::uint16_t FreeTcpPort()
{
    Socket probe(SOCK_STREAM);
    sockaddr_in sa = Endpoint{"127.0.0.1", 0}.Sockaddr();
    bind(probe.Fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    socklen_t length = sizeof sa;
    getsockname(probe.Fd(), reinterpret_cast<sockaddr*>(&sa), &length);
    return ntohs(sa.sin_port);
}

// The datagrams that arrive until none has come for `quiet`.
std::vector<std::string> ReceiveDatagrams(Socket& socket, std::chrono::milliseconds quiet = 300ms)
{
    socket.SetReceiveTimeout(quiet);
    std::vector<std::string> datagrams;
    char buffer[2048];
    for (;;)
    {
        const ssize_t n = recv(socket.Fd(), buffer, sizeof buffer, 0);
        if (n < 0)
            return datagrams;
        datagrams.emplace_back(buffer, static_cast<size_t>(n));
    }
}

void SendDatagram(Socket& socket, const std::string& bytes, const Endpoint& to)
{
    const sockaddr_in sa = to.Sockaddr();
    sendto(socket.Fd(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&sa),
           sizeof sa);
}

void BindToLoopback(Socket& socket)
{
    const sockaddr_in sa = Endpoint{"127.0.0.1", 0}.Sockaddr();
    bind(socket.Fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
}

std::string AddressBytes(const std::string& datagram)
{
    return datagram.size() >= 10 ? datagram.substr(6, 4) : std::string();
}

} // namespace

TEST(VarionSim, ReplyDeviceAnswersTheRequestOncePerConnectionAndCloses)
{
    Sim sim({"--device",
             "127.0.0.1:0 reply 10.0.0.5;Lager;{drift:20.0:0.5}\xC2\xB0"
             "C;{count};\\r\\n",
             "--device", "127.0.0.1:0 reply a\\tb\\\\c\\x41\\xB0 x;y,z {drift:-1:-0.5} {oops}"});
    ASSERT_TRUE(sim.ready);
    ASSERT_EQ(sim.devices.size(), 2u);

    const Exchange first = Poll(sim.devices[0]);
    EXPECT_TRUE(first.closed);
    EXPECT_EQ(first.data, "10.0.0.5;Lager;20.0\xC2\xB0"
                          "C;0;\r\n");
    const Exchange second = Poll(sim.devices[0]);
    EXPECT_EQ(second.data, "10.0.0.5;Lager;20.5\xC2\xB0"
                           "C;1;\r\n");
    EXPECT_EQ(Poll(sim.devices[0]).data, "10.0.0.5;Lager;21.0\xC2\xB0"
                                         "C;2;\r\n");

    // Escapes give raw bytes; spaces and separators stay; the other device
    // keeps its own poll count.
    const Exchange escaped = Poll(sim.devices[1]);
    EXPECT_TRUE(escaped.closed);
    EXPECT_EQ(escaped.data, "a\tb\\cA\xB0 x;y,z -1.0 {oops}");
    EXPECT_EQ(Poll(sim.devices[1]).data, "a\tb\\cA\xB0 x;y,z -1.5 {oops}");

    // A request in two pieces is still one request.
    {
        Exchange split;
        Socket socket(SOCK_STREAM);
        ASSERT_EQ(socket.Connect(sim.devices[0]), 0);
        const int on = 1;
        setsockopt(socket.Fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ASSERT_TRUE(socket.SendAll("GET /Si"));
        std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(socket.SendAll("ngle\r\n"));
        ReadAll(socket, split, 5s);
        EXPECT_EQ(split.data, "10.0.0.5;Lager;21.5\xC2\xB0"
                              "C;3;\r\n");
    }

    // Anything but the exact request is closed without an answer and is no poll.
    for (const std::string& wrong : {std::string("GET /single\r\n"), std::string("GET /Single\n"),
                                     std::string("GET /Singlexyz")})
    {
        const Exchange refused = Poll(sim.devices[0], wrong);
        EXPECT_TRUE(refused.closed) << wrong;
        EXPECT_EQ(refused.data, "") << wrong;
    }
    // No answer before the request is complete.
    EXPECT_TRUE(Poll(sim.devices[0], "GET /Sin", 200ms).quiet);
    EXPECT_EQ(Poll(sim.devices[0]).data, "10.0.0.5;Lager;22.0\xC2\xB0"
                                         "C;4;\r\n");
}

TEST(VarionSim, MisbehavingDevicesMisbehaveAsAsked)
{
    Sim sim({"--device", "127.0.0.1:0 refuse 1.0",
             "--device", "127.0.0.1:0 stall=4 21.5;22.5",
             "--device", "127.0.0.1:0 oversize=300 1;2",
             "--device", "127.0.0.1:0 oversize=3 12345",
             "--device", "127.0.0.1:0 reset 1.0",
             "--device", "127.0.0.1:0 close 1.0",
             "--device", "127.0.0.1:0 silent 1.0",
             "--device", "127.0.0.1:0 delay=50 late;1",
             "--device", "127.0.0.1:0 trickle=1000 slow;1",
             "--device", "127.0.0.1:0 trickle=5 drip;1"});
    ASSERT_TRUE(sim.ready);
    ASSERT_EQ(sim.devices.size(), 10u);

    EXPECT_EQ(Poll(sim.devices[0]).connectError, ECONNREFUSED);

    const Exchange stalled = Poll(sim.devices[1], kRequest, 300ms);
    EXPECT_EQ(stalled.data, "21.5");
    EXPECT_TRUE(stalled.quiet);

    const Exchange oversized = Poll(sim.devices[2]);
    EXPECT_TRUE(oversized.closed);
    ASSERT_EQ(oversized.data.size(), 300u);
    EXPECT_EQ(oversized.data.substr(0, 3), "1;2");
    const Exchange cut = Poll(sim.devices[3]);
    EXPECT_TRUE(cut.closed);
    EXPECT_EQ(cut.data, "123");

    const Exchange reset = Poll(sim.devices[4]);
    EXPECT_EQ(reset.connectError, 0);
    EXPECT_EQ(reset.receiveError, ECONNRESET);
    EXPECT_EQ(reset.data, "");

    const Exchange closed = Poll(sim.devices[5]);
    EXPECT_EQ(closed.connectError, 0);
    EXPECT_TRUE(closed.closed);
    EXPECT_EQ(closed.data, "");

    const Exchange silent = Poll(sim.devices[6], kRequest, 300ms);
    EXPECT_TRUE(silent.quiet);
    EXPECT_EQ(silent.data, "");

    const Exchange late = Poll(sim.devices[7]);
    EXPECT_TRUE(late.closed);
    EXPECT_EQ(late.data, "late;1");

    // A trickling device sends its first byte at once and the next ones apart.
    const Exchange slow = Poll(sim.devices[8], kRequest, 300ms);
    EXPECT_TRUE(slow.quiet);
    EXPECT_EQ(slow.data, "s");
    const Exchange drip = Poll(sim.devices[9]);
    EXPECT_TRUE(drip.closed);
    EXPECT_EQ(drip.data, "drip;1");
}

TEST(VarionSim, StuckClientsDoNotHoldUpOtherDevicesOrClients)
{
    Sim sim({"--device", "127.0.0.1:0 oversize=16000000 big", "--device", "127.0.0.1:0 silent",
             "--device", "127.0.0.1:0 stall=2 abc", "--device", "127.0.0.1:0 reply {count}",
             "--device", "127.0.0.1:0 delay=100000 never"});
    ASSERT_TRUE(sim.ready);
    ASSERT_EQ(sim.devices.size(), 5u);

    {
        // A client that never reads a 16 MB answer, one that never hears
        // back, one held after two bytes and one waiting for a day.
        Socket neverReads(SOCK_STREAM), waits(SOCK_STREAM), held(SOCK_STREAM), delayed(SOCK_STREAM);
        ASSERT_EQ(neverReads.Connect(sim.devices[0]), 0);
        ASSERT_TRUE(neverReads.SendAll(kRequest));
        ASSERT_EQ(waits.Connect(sim.devices[1]), 0);
        ASSERT_TRUE(waits.SendAll(kRequest));
        ASSERT_EQ(held.Connect(sim.devices[2]), 0);
        ASSERT_TRUE(held.SendAll(kRequest));
        ASSERT_EQ(delayed.Connect(sim.devices[4]), 0);
        ASSERT_TRUE(delayed.SendAll(kRequest));

        for (int poll = 0; poll < 20; ++poll)
            EXPECT_EQ(Poll(sim.devices[3]).data, std::to_string(poll));
        // The big device serves a second client beside the stuck one.
        Socket second(SOCK_STREAM);
        ASSERT_EQ(second.Connect(sim.devices[0]), 0);
        ASSERT_TRUE(second.SendAll(kRequest));
        Exchange big;
        ReadAll(second, big, 5s);
        EXPECT_TRUE(big.closed);
        EXPECT_EQ(big.data.size(), 16000000u);
        // All four go away with the device still busy on them.
    }
    EXPECT_EQ(Poll(sim.devices[3]).data, "20");
    EXPECT_EQ(sim.RequestCounts(), (std::vector<long>{2, 1, 1, 21, 1}));
}

TEST(VarionSim, DevicesShareOnePortOnDifferentLoopbackAddresses)
{
    const std::string port = std::to_string(FreeTcpPort());
    Sim sim({"--device", "127.0.0.2:" + port + " reply two", "--device",
             "127.0.0.3:" + port + " reply three;3"});
    ASSERT_TRUE(sim.ready);
    ASSERT_EQ(sim.devices.size(), 2u);
    EXPECT_EQ(sim.devices[0].address, "127.0.0.2");
    EXPECT_EQ(sim.devices[1].address, "127.0.0.3");
    EXPECT_EQ(std::to_string(sim.devices[0].port), port);
    EXPECT_EQ(std::to_string(sim.devices[1].port), port);

    EXPECT_EQ(Poll(sim.devices[0]).data, "two");
    EXPECT_EQ(Poll(sim.devices[1]).data, "three;3");
    // Bound to their own addresses, not to all of loopback.
    EXPECT_EQ(Poll(Endpoint{"127.0.0.4", sim.devices[0].port}).connectError, ECONNREFUSED);
}

TEST(VarionSim, DiscoveryAnnouncesEveryDeviceWithItsAddressReversed)
{
    Sim sim({"--discovery", "127.0.0.1:0", "--device", "127.0.0.5:0 reply,announce=2 a", "--device",
             "127.1.2.3:0 refuse", "--device", "127.0.0.9:0 reply,announce=0 hidden",
             "--discovery-extra", "", "--discovery-extra", "3f00Ff"});
    ASSERT_TRUE(sim.ready);
    ASSERT_EQ(sim.discovery.address, "127.0.0.1");
    ASSERT_NE(sim.discovery.port, 0);

    Socket asker(SOCK_DGRAM);
    BindToLoopback(asker);
    // Only the one-byte "?" is a discovery.
    SendDatagram(asker, "??", sim.discovery);
    SendDatagram(asker, "x", sim.discovery);
    SendDatagram(asker, "", sim.discovery);
    SendDatagram(asker, "?", sim.discovery);
    const std::vector<std::string> answers = ReceiveDatagrams(asker);
    ASSERT_EQ(answers.size(), 5u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(answers[i].size(), 62u) << i;
    EXPECT_EQ(AddressBytes(answers[0]), std::string("\x05\x00\x00\x7F", 4));
    EXPECT_EQ(AddressBytes(answers[1]), std::string("\x05\x00\x00\x7F", 4));
    EXPECT_EQ(AddressBytes(answers[2]), std::string("\x03\x02\x01\x7F", 4));
    EXPECT_EQ(answers[3], "");
    EXPECT_EQ(answers[4], std::string("\x3F\x00\xFF", 3));

    // Every discovery is answered anew.
    SendDatagram(asker, "?", sim.discovery);
    EXPECT_EQ(ReceiveDatagrams(asker).size(), 5u);
}

TEST(VarionSim, DiscoveryOnTheWildcardAddressHearsTheLoopbackBroadcast)
{
    Sim sim({"--discovery", "0.0.0.0:0", "--device", "127.0.0.7:0 reply a"});
    ASSERT_TRUE(sim.ready);
    ASSERT_EQ(sim.discovery.address, "0.0.0.0");
    // A second simulator may listen on the same discovery port.
    Sim other({"--discovery", "0.0.0.0:" + std::to_string(sim.discovery.port), "--device",
               "127.0.0.8:0 reply b"});
    ASSERT_TRUE(other.ready);

    Socket asker(SOCK_DGRAM);
    BindToLoopback(asker);
    const int on = 1;
    ASSERT_EQ(setsockopt(asker.Fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on), 0);
    SendDatagram(asker, "?", Endpoint{"127.255.255.255", sim.discovery.port});
    std::vector<std::string> addresses;
    for (const std::string& answer : ReceiveDatagrams(asker))
        addresses.push_back(AddressBytes(answer));
    std::sort(addresses.begin(), addresses.end());
    EXPECT_EQ(addresses, (std::vector<std::string>{std::string("\x07\x00\x00\x7F", 4),
                                                   std::string("\x08\x00\x00\x7F", 4)}));
}

TEST(VarionSim, CountsAcceptedConnectionsOnRequestAndAtExit)
{
    TempDir dir;
    WriteFileBytes(dir / "devices.txt", "# two devices\n\n   \n  # indented comment\n"
                                        "127.0.0.1:0 reply from script\r\n"
                                        "127.0.0.1:0  close\n");
    Sim sim({(dir / "devices.txt").string(), "--device", "127.0.0.1:0 refuse", "--many", "2",
             "127.0.0.1:0 reply many {count}"});
    ASSERT_TRUE(sim.ready);
    // Command-line devices first, in their order, then the script's.
    ASSERT_EQ(sim.devices.size(), 5u);
    EXPECT_NE(sim.devices[1].port, sim.devices[2].port);
    EXPECT_EQ(Poll(sim.devices[0]).connectError, ECONNREFUSED);
    EXPECT_EQ(Poll(sim.devices[1]).data, "many 0");
    EXPECT_EQ(Poll(sim.devices[1]).data, "many 1");
    EXPECT_EQ(Poll(sim.devices[2]).data, "many 0");
    EXPECT_EQ(Poll(sim.devices[3]).data, "from script");
    const Exchange closed = Poll(sim.devices[4]);
    EXPECT_TRUE(closed.closed);
    EXPECT_EQ(closed.data, "");

    EXPECT_EQ(sim.RequestCounts(), (std::vector<long>{0, 2, 1, 1, 1}));
    EXPECT_EQ(Poll(sim.devices[2]).data, "many 1");
    EXPECT_EQ(sim.RequestCounts(), (std::vector<long>{0, 2, 2, 1, 1}));

    sim.Process().Signal(SIGTERM);
    EXPECT_EQ(sim.ReadCounts(), (std::vector<long>{0, 2, 2, 1, 1}));
    EXPECT_EQ(sim.Process().Wait(), 0);
}

TEST(VarionSim, ServesTwoThousandDevicesInOneProcess)
{
    Sim sim({"--many", "2000", "127.0.0.1:0 reply {count}"});
    ASSERT_TRUE(sim.ready);
    ASSERT_EQ(sim.devices.size(), 2000u);
    for (size_t i = 0; i < sim.devices.size(); ++i)
        ASSERT_EQ(Poll(sim.devices[i]).data, "0") << "device " << i;
    EXPECT_EQ(sim.RequestCounts(), std::vector<long>(2000, 1));
    sim.Process().Signal(SIGINT);
    EXPECT_EQ(sim.ReadCounts().size(), 2000u);
    EXPECT_EQ(sim.Process().Wait(), 0);
}

TEST(VarionSim, RefusesWhatItCannotServe)
{
    const std::vector<std::vector<std::string>> bad = {
        {"--device", "10.0.0.1:80 reply x"},
        {"--device", "0.0.0.0:80 reply x"},
        // Just beside the networks reserved for documentation.
        {"--device", "192.0.3.1:80 reply x"},
        {"--device", "198.51.99.255:80 reply x"},
        {"--device", "203.0.114.1:80 reply x"},
        {"--discovery", "192.168.1.1:8512"},
        {"--device", "127.0.0.1:0 bogus x"},
        {"--device", "127.0.0.1:0 stall x"},
        {"--device", "127.0.0.1:0 delay=-5 x"},
        {"--device", "127.0.0.1:0 reply,announce=x x"},
        {"--device", "127.0.0.1:0 reply,colour=red x"},
        {"--device", "127.0.0.1:0 reply tail\\"},
        {"--device", "127.0.0.1:0 reply \\q"},
        {"--device", "127.0.0.1:0 reply \\xZ1"},
        {"--device", "127.0.0.1:0 reply {drift:1}"},
        {"--device", "127.0.0.1:70000 reply x"},
        {"--device", "127.0.0.1 reply x"},
        {"--device", "127.0.0.1:0"},
        {"--device"},
        {"--many", "2", "127.0.0.1:5000 reply x"},
        {"--many", "lots", "127.0.0.1:0 reply x"},
        {"--discovery", "127.0.0.1:0", "--discovery-extra", "abc"},
        {"--discovery-extra", "00"},
        {"--frobnicate"},
        {"/nonexistent/devices.txt"},
    };
    for (const std::vector<std::string>& args : bad)
    {
        std::vector<std::string> argv = {VARION_SIM};
        argv.insert(argv.end(), args.begin(), args.end());
        const ProcessResult result = RunProcess(argv, {}, 10s);
        EXPECT_EQ(result.exitCode, 2) << args.back();
        EXPECT_NE(result.err.find("varion-sim:"), std::string::npos) << args.back();
        EXPECT_EQ(result.out.find("ready"), std::string::npos) << args.back();
    }

    TempDir dir;
    WriteFileBytes(dir / "bad.txt", "127.0.0.1:0 reply ok\n127.0.0.1:0 sulk\n");
    const ProcessResult script = RunProcess({VARION_SIM, (dir / "bad.txt").string()}, {}, 10s);
    EXPECT_EQ(script.exitCode, 2);
    EXPECT_NE(script.err.find("bad.txt:2"), std::string::npos) << script.err;

    // A documentation address is taken; where the machine has no such
    // address, binding it fails, which is no bad argument.
    for (const char* address : {"198.51.100.7:0", "203.0.113.7:0"})
    {
        const ProcessResult unbound =
            RunProcess({VARION_SIM, "--device", std::string(address) + " reply x"}, {}, 10s);
        EXPECT_EQ(unbound.exitCode, 1) << address << unbound.err;
    }

    // A port that is taken is no bad argument but a failure to start.
    Sim holder({"--device", "127.0.0.1:0 reply x"});
    ASSERT_TRUE(holder.ready);
    const ProcessResult taken =
        RunProcess({VARION_SIM, "--device",
                    "127.0.0.1:" + std::to_string(holder.devices[0].port) + " reply y"},
                   {}, 10s);
    EXPECT_EQ(taken.exitCode, 1);
    EXPECT_EQ(taken.out.find("ready"), std::string::npos);
}
