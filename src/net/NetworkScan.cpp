#include "net/NetworkScan.h"

#include "net/DeviceQuery.h"
#include "net/ReplyParser.h"
#include "net/ReplyText.h"
#include "net/ScanClient.h"
#include "net/SocketError.h"
#include "sensors/FileDescriptor.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kDiscoveryRequest = '?';
constexpr milliseconds kDiscoveryWindow{1000};
constexpr milliseconds kWaitStep{100};
constexpr milliseconds kInactivityLimit{5000};
constexpr size_t kMaxClients = 32;
constexpr size_t kAnnouncementBytes = 62;
constexpr size_t kAddressOffset = 6;

// Where the discovery goes. The limited broadcast leaves the host only by
// its default route; the directed broadcast of each interface reaches that
// interface's network whatever the routes are. Only the production
// destination looks at the interfaces, so that a scan aimed at loopback
// never sends anywhere else.
std::vector<std::uint32_t> DiscoveryDestinations(std::uint32_t broadcast)
{
    std::vector<std::uint32_t> destinations{broadcast};
    ifaddrs* interfaces = nullptr;
    if (broadcast != htonl(INADDR_BROADCAST) || getifaddrs(&interfaces) != 0)
        return destinations;
    for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next)
    {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            entry->ifa_netmask == nullptr || (entry->ifa_flags & IFF_UP) == 0 ||
            (entry->ifa_flags & IFF_BROADCAST) == 0)
            continue;
        const auto inet = [](const sockaddr* address)
        { return reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr; };
        const std::uint32_t own = inet(entry->ifa_addr);
        const std::uint32_t mask = inet(entry->ifa_netmask);
        std::uint32_t directed = entry->ifa_broadaddr != nullptr ? inet(entry->ifa_broadaddr) : 0;
        // An address set up without a broadcast address (reported as zero or
        // as the address itself) has the one its network implies.
        if (directed == 0 || directed == own)
            directed = own | ~mask;
        // A point-to-point network (/31, /32) has no broadcast address.
        if (ntohl(mask) >= 0xFFFFFFFEu ||
            std::find(destinations.begin(), destinations.end(), directed) != destinations.end())
            continue;
        destinations.push_back(directed);
    }
    freeifaddrs(interfaces);
    return destinations;
}

// The device address of an announcement: bytes 6 to 9, last octet first.
std::uint32_t AnnouncedAddress(const unsigned char* datagram)
{
    const unsigned char octets[4] = {datagram[kAddressOffset + 3], datagram[kAddressOffset + 2],
                                     datagram[kAddressOffset + 1], datagram[kAddressOffset]};
    std::uint32_t address = 0;
    static_assert(sizeof address == sizeof octets);
    std::copy(octets, octets + 4, reinterpret_cast<unsigned char*>(&address));
    return address;
}

std::string DottedAddress(std::uint32_t address)
{
    char text[INET_ADDRSTRLEN] = {};
    in_addr value{};
    value.s_addr = address;
    inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}

void Evaluate(const CScanClient& client, std::uint16_t port, const CNetworkScan::SensorFound& found)
{
    const std::string reply(client.m_szReply.data());
    const std::string name = DecodeReplyText(reply, ParseDeviceName(reply.c_str()));
    const std::string address = DottedAddress(client.m_nAddress);
    for (CInstalledSensor& slot : ReadInstalledSensors(reply))
    {
        auto sensor = std::make_unique<CSensor>();
        sensor->m_nSensorNo = slot.m_nSensorNo;
        sensor->m_strAddress = address;
        sensor->m_nPort = port;
        sensor->m_strUnit = std::move(slot.m_strUnit);
        sensor->m_strDescription = name;
        found(std::move(sensor));
    }
}

} // namespace

CNetworkScan::CNetworkScan(std::uint32_t broadcastAddress, std::uint16_t discoveryPort,
                           std::uint16_t queryPort)
    : m_nBroadcastAddress(broadcastAddress), m_nDiscoveryPort(discoveryPort),
      m_nQueryPort(queryPort)
{
}

std::vector<std::uint32_t> CNetworkScan::Discover()
{
    std::vector<std::uint32_t> addresses;
    const CFileDescriptor udp(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int fd = udp.Get();
    const int on = 1;
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
    {
        m_nDiscoveryError = errno;
        return addresses;
    }
    // One network without a route must not keep the others from being asked.
    int firstError = 0;
    bool sent = false;
    for (const std::uint32_t destination : DiscoveryDestinations(m_nBroadcastAddress))
    {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(m_nDiscoveryPort);
        target.sin_addr.s_addr = destination;
        if (sendto(fd, &kDiscoveryRequest, 1, 0, reinterpret_cast<const sockaddr*>(&target),
                   sizeof target) == 1)
            sent = true;
        else if (firstError == 0)
            firstError = errno;
    }
    if (!sent)
    {
        m_nDiscoveryError = firstError;
        return addresses;
    }

    const Clock::time_point sentAt = Clock::now();
    for (;;)
    {
        const auto left =
            std::chrono::ceil<milliseconds>(kDiscoveryWindow - (Clock::now() - sentAt));
        if (left <= milliseconds::zero())
            break;
        pollfd watched{fd, POLLIN, 0};
        if (poll(&watched, 1, static_cast<int>(std::min(left, kWaitStep).count())) <= 0)
            continue;
        unsigned char datagram[kAnnouncementBytes];
        const ssize_t n = recv(fd, datagram, sizeof datagram, 0);
        // Too short to hold an address counts as no answer, like an empty one.
        if (n < static_cast<ssize_t>(kAddressOffset + 4))
            continue;
        const std::uint32_t address = AnnouncedAddress(datagram);
        if (address != 0)
            addresses.push_back(address);
    }
    return addresses;
}

void CNetworkScan::Run(const SensorFound& found)
{
    m_nDiscoveryError = 0;
    std::vector<std::uint32_t> addresses = Discover();

    std::vector<CScanClient> clients;
    clients.reserve(kMaxClients);
    Clock::time_point lastActivity = Clock::now();
    for (;;)
    {
        while (clients.size() < kMaxClients && !addresses.empty())
        {
            clients.emplace_back(addresses.back(), m_nQueryPort);
            addresses.pop_back();
        }
        if (PollScanClients(clients))
            lastActivity = Clock::now();
        // From the top down, so that the client moved into a freed place has
        // been looked at already.
        const Clock::time_point now = Clock::now();
        for (size_t i = clients.size(); i-- > 0;)
        {
            // A device that trickles its reply would otherwise hold its place,
            // and the scan, for minutes.
            if (clients[i].m_nState != CScanClient::NotStarted &&
                clients[i].m_nState != CScanClient::Finished &&
                now - clients[i].m_tConnectStart >= m_nQueryDeadline)
            {
                clients[i].CloseSocket();
                clients[i].m_nState = CScanClient::Finished;
            }
            if (clients[i].m_nState != CScanClient::Finished)
                continue;
            if (clients[i].m_bGotData)
                Evaluate(clients[i], m_nQueryPort, found);
            RemoveScanClient(clients, i);
        }
        if ((clients.empty() && addresses.empty()) || now - lastActivity >= kInactivityLimit)
            break;
    }
}

std::string CNetworkScan::DiscoveryErrorText() const
{
    const int code = MapSocketErrno(m_nDiscoveryError);
    std::string text = FormatSocketError(code);
    if (!text.ends_with("???"))
        return text;
    const char* reason = "unbekannter Fehler";
    switch (m_nDiscoveryError)
    {
    case ENETUNREACH:
        reason = "Netzwerk nicht erreichbar";
        break;
    case ENETDOWN:
        reason = "Netzwerk ausgefallen";
        break;
    case EHOSTUNREACH:
        reason = "Host nicht erreichbar";
        break;
    case EACCES:
    case EPERM:
        reason = "Zugriff verweigert";
        break;
    case ENOBUFS:
    case ENOMEM:
        reason = "kein Pufferspeicher frei";
        break;
    case EMFILE:
    case ENFILE:
        reason = "zu viele offene Dateien";
        break;
    default:
        break;
    }
    return "[" + std::to_string(code) + "] " + reason;
}
