#pragma once

#include <QProcess>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// What the benchmarks that poll simulated devices share.

struct Endpoint
{
    std::string address;
    std::uint16_t port = 0;
};

double Millis(std::chrono::steady_clock::duration duration);
// User and system CPU time of the whole process so far.
double CpuSeconds();

// Starts varion-sim with `count` copies of one device line on free ports;
// their endpoints, or none when it did not come up.
std::vector<Endpoint> StartSimulator(QProcess& sim, int count, const std::string& device);

// Connections the simulator's devices have accepted so far, all added up
// (asked for with SIGUSR1); -1 when it did not answer.
long AcceptedConnections(QProcess& sim);

// One request and its reply, blocking, parsed like a connection parses it;
// true when the first slot had a value.
bool BlockingExchange(const Endpoint& endpoint);
