#include "net/NetTestSupport.h"

#include "net/AsyncConnection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <csignal>
#include <gtest/gtest.h>
#include <stdexcept>

namespace
{

std::vector<std::string> SimArguments(const std::vector<std::string>& devices)
{
    std::vector<std::string> argv{VARION_SIM};
    for (const std::string& device : devices)
    {
        argv.push_back("--device");
        argv.push_back(device);
    }
    return argv;
}

} // namespace

SimulatedDevices::SimulatedDevices(const std::vector<std::string>& devices)
    : m_process(SimArguments(devices))
{
    std::string line;
    while (m_process.ReadLine(line) && line != "ready")
    {
        // device<TAB>index<TAB>address:port
        const size_t colon = line.rfind(':');
        const size_t tab = line.rfind('\t');
        if (!line.starts_with("device\t") || colon == std::string::npos || tab > colon)
            continue;
        m_addresses.push_back(line.substr(tab + 1, colon - tab - 1));
        m_ports.push_back(static_cast<std::uint16_t>(std::stoi(line.substr(colon + 1))));
    }
    if (line != "ready" || m_addresses.size() != devices.size())
        throw std::runtime_error("varion-sim did not start its devices");
}

int SimulatedDevices::Connections(int index)
{
    m_process.Signal(SIGUSR1);
    const std::string prefix = "connections\t" + std::to_string(index) + "\t";
    int count = -1;
    std::string line;
    while (m_process.ReadLine(line) && line != "end")
        if (line.starts_with(prefix))
            count = std::stoi(line.substr(prefix.size()));
    return count;
}

void EnsureApplication()
{
    if (QCoreApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "tessaro_net_tests";
    static char* argv[] = {name, nullptr};
    // Lives until the process ends, like the application object of the program.
    static QCoreApplication* application = new QCoreApplication(argc, argv);
    (void)application;
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

CSensor SensorOn(const std::string& host, std::uint16_t port, int sensorNo,
                 const std::string& unit, bool disabled)
{
    CSensor sensor;
    sensor.m_strAddress = host;
    sensor.m_nPort = port;
    sensor.m_nSensorNo = sensorNo;
    sensor.m_strUnit = unit;
    sensor.m_bDisabled = disabled;
    return sensor;
}
