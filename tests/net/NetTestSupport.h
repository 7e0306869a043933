#pragma once

#include "common/VarionSim.h"
#include "net/ChannelStatusSink.h"
#include "sensors/Clock.h"
#include "sensors/Sensor.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Devices of a running varion-sim, one per device line, on loopback.
class SimulatedDevices
{
public:
    explicit SimulatedDevices(const std::vector<std::string>& devices);

    const std::string& Address(int index) const { return m_sim.Devices().at(index).address; }
    std::uint16_t Port(int index) const { return m_sim.Devices().at(index).port; }
    // Connections the device has accepted so far.
    int Connections(int index);

private:
    VarionSim m_sim;
};

// The event loop that delivers socket events and lookup results in tests.
void EnsureApplication();
// A sensor record of one slot on one device.
CSensor SensorOn(const std::string& host, std::uint16_t port, int sensorNo = 0,
                 const std::string& unit = "°C", bool disabled = false);
bool PumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));
void PumpFor(std::chrono::milliseconds duration);
// Ticks straight into the connections, so that tests count them exactly.
void Tick(int count = 1);

// Records every channel status call it gets.
class RecordingSink : public IChannelStatusSink
{
public:
    void OnChannelStatus(CSensorChannel* channel) override { calls.push_back(channel); }
    std::vector<CSensorChannel*> calls;
};

// A clock that stands still where the test puts it; installed while it lives.
class FixedClock : public CClock
{
public:
    explicit FixedClock(std::chrono::system_clock::time_point now) : m_now(now) { Install(this); }
    ~FixedClock() override { Install(nullptr); }
    std::chrono::system_clock::time_point UtcNow() const override { return m_now; }
    void Set(std::chrono::system_clock::time_point now) { m_now = now; }

private:
    std::chrono::system_clock::time_point m_now;
};
