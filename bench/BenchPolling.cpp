// 1,000 simulated devices polled by one process through the event loop,
// against the same 1,000 exchanges done one after the other by a blocking loop.

#include "net/AsyncConnection.h"
#include "bench/BenchDeviceSupport.h"
#include "net/ChannelStatusSink.h"
#include "net/DeviceChannel.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unordered_map>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kDevices = 1000;
constexpr auto kGiveUp = 150s;

double PeakRssMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

double ThreadCpuMillis()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Every event the loop delivers is timed: the longest one is the longest
// stretch for which the loop could not react to anything else. Its CPU time
// is kept as well, since on a busy machine the wall time also holds the
// time that other processes had the CPU.
class TimedApplication : public QCoreApplication
{
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        const bool measure = measuring;
        const auto start = Clock::now();
        const double cpuStart = ThreadCpuMillis();
        const bool result = QCoreApplication::notify(receiver, event);
        const double cpu = ThreadCpuMillis() - cpuStart;
        const auto took = Clock::now() - start;
        if (measure && took > longest)
        {
            longest = took;
            longestType = event->type();
        }
        if (measure && cpu > longestCpuMillis)
            longestCpuMillis = cpu;
        return result;
    }
    bool measuring = false;
    Clock::duration longest{};
    int longestType = 0;
    double longestCpuMillis = 0;
};

class RoundWatcher : public IChannelStatusSink
{
public:
    void OnChannelStatus(CSensorChannel* channel) override
    {
        const int replies = static_cast<CDeviceChannel*>(channel)->m_connection.Replies();
        int& counted = m_counted[channel];
        for (; counted < replies && counted < 2; ++counted)
            if (++m_done[counted] == kDevices)
            {
                roundEnd.push_back(Clock::now());
                roundCpu.push_back(CpuSeconds());
                if (onRoundEnd)
                    onRoundEnd(static_cast<int>(roundEnd.size()));
            }
    }
    std::vector<Clock::time_point> roundEnd;
    std::vector<double> roundCpu;
    std::function<void(int)> onRoundEnd;

private:
    std::unordered_map<CSensorChannel*, int> m_counted;
    int m_done[2] = {};
};

} // namespace

int main(int argc, char** argv)
{
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0)
    {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    TimedApplication app(argc, argv);
    QProcess sim;
    const std::vector<Endpoint> endpoints =
        StartSimulator(sim, kDevices, "127.0.0.1:0 reply 10.0.0.5;Lager;{drift:20.0:0.1}°C;");
    if (endpoints.size() != kDevices)
    {
        std::fprintf(stderr, "bench-polling: varion-sim did not start %d devices\n", kDevices);
        return 1;
    }

    // Reference: the same exchanges, one after the other.
    const double referenceCpuStart = CpuSeconds();
    const auto referenceStart = Clock::now();
    int referenceOk = 0;
    for (const Endpoint& endpoint : endpoints)
        referenceOk += BlockingExchange(endpoint);
    const auto referenceTime = Clock::now() - referenceStart;
    const double referenceCpu = CpuSeconds() - referenceCpuStart;
    const double rssBefore = PeakRssMegabytes();

    std::vector<std::unique_ptr<CDeviceChannel>> channels;
    for (const Endpoint& endpoint : endpoints)
    {
        CSensor sensor;
        sensor.m_strAddress = endpoint.address;
        sensor.m_nPort = endpoint.port;
        sensor.m_strUnit = "°C";
        channels.push_back(std::make_unique<CDeviceChannel>(sensor));
    }
    LinkChannels();
    RoundWatcher watcher;

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [] { CAsyncConnection::DispatchSocketMessage(CSocketMessage{}); });
    // A 1 ms timer shows how late the loop comes round to it. It runs only
    // while the devices are polled, so that its own wake-ups stay out of the
    // CPU figure of the quiet minute between the rounds.
    Clock::time_point start;
    Clock::time_point lastBeat;
    Clock::duration longestGap{};
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout,
                     [&]
                     {
                         const auto now = Clock::now();
                         longestGap = std::max(longestGap, now - lastBeat);
                         lastBeat = now;
                     });
    const auto listen = [&]
    {
        lastBeat = Clock::now();
        heartbeat.start();
    };
    watcher.onRoundEnd = [&](int round)
    {
        if (round == 2)
        {
            QCoreApplication::quit();
            return;
        }
        QTimer::singleShot(1s, &heartbeat, &QTimer::stop);
        QTimer::singleShot(58s, &heartbeat, listen);
    };

    double startCpu = 0;
    Clock::duration startLoop{};
    QTimer::singleShot(0, &app,
                       [&]
                       {
                           start = Clock::now();
                           startCpu = CpuSeconds();
                           // As the recorder starts its channels: all in one handler.
                           for (auto& channel : channels)
                               channel->Start(&watcher);
                           startLoop = Clock::now() - start;
                           tick.start(100);
                           listen();
                           app.measuring = true;
                       });
    QTimer::singleShot(kGiveUp, &app, [] { QCoreApplication::exit(1); });
    const int status = app.exec();
    app.measuring = false;
    for (auto& channel : channels)
        channel->Stop();
    sim.terminate();
    sim.waitForFinished(5000);
    if (status != 0 || watcher.roundEnd.size() != 2)
    {
        std::fprintf(stderr, "bench-polling: not every device answered twice within %lld s\n",
                     static_cast<long long>(kGiveUp.count()));
        return 1;
    }

    const double firstRound = Millis(watcher.roundEnd[0] - start);
    std::printf("devices polled                              %d\n", kDevices);
    std::printf("reference: blocking loop, one after another %8.1f ms  %.3f CPU s  (%d values)\n",
                Millis(referenceTime), referenceCpu, referenceOk);
    std::printf("event loop: until every channel has a value %8.1f ms  %.3f CPU s\n", firstRound,
                watcher.roundCpu[0] - startCpu);
    std::printf("ratio event loop / reference                %8.2f\n",
                firstRound / Millis(referenceTime));
    std::printf("CPU per full poll round (60 s, ticks incl.) %8.3f s\n",
                watcher.roundCpu[1] - watcher.roundCpu[0]);
    std::printf(
        "peak memory                                 %8.1f MB  (%.1f MB before the channels)\n",
        PeakRssMegabytes(), rssBefore);
    std::printf("starting all channels, one handler          %8.2f ms\n", Millis(startLoop));
    std::printf(
        "longest event handled after that            %8.2f ms  (%.2f ms CPU; event type %d)\n",
        Millis(app.longest), app.longestCpuMillis, app.longestType);
    std::printf("longest gap of a 1 ms timer while polling   %8.2f ms\n", Millis(longestGap));
    return 0;
}
