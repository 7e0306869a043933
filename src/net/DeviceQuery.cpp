#include "net/DeviceQuery.h"

#include "net/ReplyParser.h"
#include "net/ReplyText.h"
#include "sensors/FileDescriptor.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr size_t kMaxHostChars = 99;
constexpr std::string_view kRequest = "GET /Single\r\n";
constexpr milliseconds kReadableWithin{4000};
constexpr milliseconds kWaitStep{100};
// Devices send their line in a few segments; give the rest time to arrive.
constexpr milliseconds kSettle{100};
constexpr size_t kReplyBytes = 199;

int PendingError(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

// Waits until the socket is readable, sending the request once it is
// writable. False when the connection fails or 4 s pass first.
bool AwaitReply(int fd)
{
    const Clock::time_point start = Clock::now();
    bool sent = false;
    for (;;)
    {
        const auto left = std::chrono::ceil<milliseconds>(kReadableWithin - (Clock::now() - start));
        if (left <= milliseconds::zero())
            return false;
        pollfd watched{fd, static_cast<short>(sent ? POLLIN : POLLIN | POLLOUT), 0};
        const int ready = poll(&watched, 1, static_cast<int>(std::min(left, kWaitStep).count()));
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        if (!sent && (watched.revents & (POLLOUT | POLLERR)) != 0)
        {
            // A refused or unreachable device: waiting out the 4 s would
            // change nothing.
            if (PendingError(fd) != 0)
                return false;
            if ((watched.revents & POLLOUT) != 0)
            {
                send(fd, kRequest.data(), kRequest.size(), MSG_NOSIGNAL);
                sent = true;
            }
        }
        if ((watched.revents & (POLLIN | POLLHUP | POLLERR)) != 0)
            return true;
    }
}

} // namespace

int ResolveHost(std::string_view text, std::span<std::uint32_t> addresses)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    std::string copy(text.substr(0, kMaxHostChars));
    copy.resize(std::min(copy.size(), copy.find('\0')));

    const bool isName =
        std::any_of(copy.begin(), copy.end(),
                    [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
    if (!isName)
    {
        const in_addr_t address = inet_addr(copy.c_str());
        if (address == INADDR_NONE)
            return 0;
        if (!addresses.empty())
            addresses[0] = address;
        return 1;
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    // One entry per address rather than one per socket type.
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(copy.c_str(), nullptr, &hints, &found) != 0)
        return 0;
    int count = 0;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next, ++count)
        if (static_cast<size_t>(count) < addresses.size())
            addresses[count] =
                reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return count;
}

std::optional<std::string> QueryDeviceReply(std::string_view host, std::uint16_t port)
{
    std::uint32_t address = 0;
    if (ResolveHost(host, {&address, 1}) == 0)
        return std::nullopt;

    const CFileDescriptor socketHandle(
        socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int fd = socketHandle.Get();
    if (fd < 0)
        return std::nullopt;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0 &&
        errno != EINPROGRESS)
        return std::nullopt;
    if (!AwaitReply(fd))
        return std::nullopt;

    std::this_thread::sleep_for(kSettle);
    char reply[kReplyBytes];
    const ssize_t received = recv(fd, reply, sizeof reply, 0);
    if (received < 0)
        return std::nullopt;
    return std::string(reply, static_cast<size_t>(received));
}

std::vector<CInstalledSensor> ReadInstalledSensors(std::string reply)
{
    const std::string original(reply.c_str());
    std::vector<CInstalledSensor> sensors;
    float value = 0;
    int valid = 0;
    char unit[5];
    char* next = reply.data();
    for (int slot = 0; ParseNextValue(next, &value, &valid, unit, &next) != 0; ++slot)
        if (valid != 0)
            sensors.push_back({slot, DecodeReplyText(original, unit)});
    return sensors;
}
