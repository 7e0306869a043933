#include "net/NetTestSupport.h"

#include "net/AsyncConnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

SimulatedDevices::SimulatedDevices(const std::vector<std::string>& devices)
    : m_sim(DeviceArgs(devices))
{
    if (!m_sim.Ready() || m_sim.Devices().size() != devices.size())
        throw std::runtime_error("varion-sim did not start its devices");
}

int SimulatedDevices::Connections(int index)
{
    const std::vector<long> counts = m_sim.Connections();
    return static_cast<size_t>(index) < counts.size() ? static_cast<int>(counts[index]) : -1;
}

void EnsureApplication()
{
    if (QCoreApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "tessaro_net_tests";
    static char* argv[] = {name, nullptr};
    // Lives until the process ends, like the application object of the program.
    [[maybe_unused]] static auto* application = new QCoreApplication(argc, argv);
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    EnsureApplication();
    QElapsedTimer timer;
    timer.start();
    while (!done())
    {
        if (timer.elapsed() > timeout.count())
            return false;
        // Sleep in the event loop rather than spin beside it.
        QEventLoop loop;
        QTimer::singleShot(2, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void PumpFor(std::chrono::milliseconds duration)
{
    PumpUntil([] { return false; }, duration);
}

void Tick(int count)
{
    for (int i = 0; i < count; ++i)
        CAsyncConnection::DispatchSocketMessage({});
}

CSensor SensorOn(const std::string& host, std::uint16_t port, int sensorNo, const std::string& unit,
                 bool disabled)
{
    CSensor sensor;
    sensor.m_strAddress = host;
    sensor.m_nPort = port;
    sensor.m_nSensorNo = sensorNo;
    sensor.m_strUnit = unit;
    sensor.m_bDisabled = disabled;
    return sensor;
}
