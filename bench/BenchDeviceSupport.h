#pragma once

#include "common/VarionSim.h"

#include <chrono>
#include <string>
#include <vector>

// What the benchmarks that poll simulated devices share.

double Millis(std::chrono::steady_clock::duration duration);
// User and system CPU time of the whole process so far.
double CpuSeconds();

// The arguments that start `count` copies of one device line on free ports.
std::vector<std::string> ManyDevices(int count, const std::string& device);

// Connections the simulator's devices have accepted so far, all added up;
// -1 when it did not answer.
long AcceptedConnections(VarionSim& sim);

// One request and its reply, blocking, parsed like a connection parses it;
// true when the first slot had a value.
bool BlockingExchange(const Endpoint& endpoint);
