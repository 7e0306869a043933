#include "bench/BenchDeviceSupport.h"

#include "net/ReplyParser.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
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

std::vector<Endpoint> StartSimulator(QProcess& sim, int count, const std::string& device)
{
    sim.setProgram(VARION_SIM);
    sim.setArguments({"--many", QString::number(count), QString::fromStdString(device)});
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start();
    std::vector<Endpoint> endpoints;
    while (sim.waitForReadyRead(10000) || sim.canReadLine())
    {
        while (sim.canReadLine())
        {
            const std::string line = sim.readLine().trimmed().toStdString();
            if (line == "ready")
                return endpoints;
            const size_t tab = line.rfind('\t');
            const size_t colon = line.rfind(':');
            if (line.starts_with("device\t") && colon != std::string::npos && colon > tab)
                endpoints.push_back(
                    {line.substr(tab + 1, colon - tab - 1),
                     static_cast<std::uint16_t>(std::stoi(line.substr(colon + 1)))});
        }
    }
    return {};
}

long AcceptedConnections(QProcess& sim)
{
    if (kill(static_cast<pid_t>(sim.processId()), SIGUSR1) != 0)
        return -1;
    long accepted = 0;
    while (sim.canReadLine() || sim.waitForReadyRead(10000))
    {
        while (sim.canReadLine())
        {
            const std::string line = sim.readLine().trimmed().toStdString();
            if (line == "end")
                return accepted;
            if (line.starts_with("connections\t"))
                accepted += std::stol(line.substr(line.rfind('\t') + 1));
        }
    }
    return -1;
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
