#include "bench/BenchDeviceSupport.h"

#include "net/ReplyParser.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <numeric>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

double Millis(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::vector<std::string> ManyDevices(int count, const std::string& device)
{
    return {"--many", std::to_string(count), device};
}

long AcceptedConnections(VarionSim& sim)
{
    const std::vector<long> counts = sim.Connections();
    return counts.empty() ? -1 : std::accumulate(counts.begin(), counts.end(), 0L);
}

bool BlockingExchange(const Endpoint& endpoint)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(endpoint.port);
    peer.sin_addr.s_addr = inet_addr(endpoint.address.c_str());
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0 &&
              send(fd, "GET /Single\r\n", 13, MSG_NOSIGNAL) == 13;
    char reply[200] = {};
    int received = 0;
    while (ok && received < 199)
    {
        const long n = recv(fd, reply + received, 199 - received, 0);
        if (n <= 0)
            break;
        received += static_cast<int>(n);
    }
    close(fd);
    float value = 0;
    int valid = 0;
    char unit[5];
    char* next = nullptr;
    return ok && ParseNextValue(reply, &value, &valid, unit, &next) != 0 && valid;
}
