// 1,000 and then 10,000 simulated devices polled by one process through the
// event loop, against the same exchanges done one after the other by a
// blocking loop. For each count: the processor time of a steady minute of
// polling (ticks included) against the blocking loop's processor time for
// one exchange per device, the longest the event loop was held up by one
// event, and the peak memory.

#include "bench/BenchDeviceSupport.h"
#include "net/AsyncConnection.h"
#include "net/ChannelStatusSink.h"
#include "net/DeviceChannel.h"

#include <QCoreApplication>
#include <QEventLoop>
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

constexpr int kDeviceCounts[] = {1000, 10000};
constexpr int kRounds = 3;
constexpr auto kGiveUp = 240s;

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

// While measuring, every event the loop delivers is timed: the longest one
// is the longest stretch for which the loop could not react to anything
// else. Its processor time is kept as well, since on a busy machine the wall
// time also holds the time that other processes had the processor.
class TimedApplication : public QCoreApplication
{
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        if (!measuring)
            return QCoreApplication::notify(receiver, event);
        const auto start = Clock::now();
        const double cpuStart = ThreadCpuMillis();
        const bool result = QCoreApplication::notify(receiver, event);
        const double cpu = ThreadCpuMillis() - cpuStart;
        const auto took = Clock::now() - start;
        if (took > longest)
        {
            longest = took;
            longestType = event->type();
        }
        longestCpuMillis = std::max(longestCpuMillis, cpu);
        return result;
    }
    void Reset()
    {
        longest = {};
        longestType = 0;
        longestCpuMillis = 0;
    }
    bool measuring = false;
    Clock::duration longest{};
    int longestType = 0;
    double longestCpuMillis = 0;
};

// Notes when every device has answered once more: the end of a round.
class RoundWatcher : public IChannelStatusSink
{
public:
    explicit RoundWatcher(int devices) : m_nDevices(devices), m_done(kRounds, 0) {}
    void OnChannelStatus(CSensorChannel* channel) override
    {
        const int replies = static_cast<CDeviceChannel*>(channel)->m_connection.Replies();
        int& counted = m_counted[channel];
        for (; counted < replies && counted < kRounds; ++counted)
            if (++m_done[counted] == m_nDevices)
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
    int m_nDevices;
    std::unordered_map<CSensorChannel*, int> m_counted;
    std::vector<int> m_done;
};

struct Blocking
{
    double eventMillis = 0;
    double eventCpuMillis = 0;
    int eventType = 0;
    double heartbeatGapMillis = 0;
};

// A 1 ms timer shows how late the loop comes round to it. It runs only
// while the loop is watched, so that its own wake-ups stay out of the
// processor figure of the steady minute.
class Heartbeat
{
public:
    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this]
                         {
                             const auto now = Clock::now();
                             m_longestGap = std::max(m_longestGap, now - m_lastBeat);
                             m_lastBeat = now;
                         });
    }
    void Start()
    {
        m_lastBeat = Clock::now();
        m_longestGap = {};
        m_timer.start();
    }
    Clock::duration Stop()
    {
        m_timer.stop();
        return m_longestGap;
    }

private:
    QTimer m_timer;
    Clock::time_point m_lastBeat;
    Clock::duration m_longestGap{};
};

int Measure(TimedApplication& app, int devices)
{
    const VarionSim sim(
        ManyDevices(devices, "127.0.0.1:0 reply 10.0.0.5;Lager;{drift:20.0:0.1}°C;"));
    const std::vector<Endpoint>& endpoints = sim.Devices();
    if (!sim.Ready() || endpoints.size() != static_cast<size_t>(devices))
    {
        std::fprintf(stderr, "bench-polling: varion-sim did not start %d devices\n", devices);
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
    RoundWatcher watcher(devices);
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [] { CAsyncConnection::DispatchSocketMessage(CSocketMessage{}); });

    // Round 1 (every channel started at once) and round 3 (the polls as
    // they fall due on their own) are watched; the minute from the end of
    // round 1 to the end of round 2 gives the processor figure.
    Heartbeat heartbeat;
    Blocking watched[2];
    const auto watch = [&]
    {
        app.Reset();
        heartbeat.Start();
        app.measuring = true;
    };
    const auto unwatch = [&](Blocking& into)
    {
        app.measuring = false;
        into = {Millis(app.longest), app.longestCpuMillis, app.longestType,
                Millis(heartbeat.Stop())};
    };
    watcher.onRoundEnd = [&](int round)
    {
        if (round == 1)
            unwatch(watched[0]);
        else if (round == 2)
            watch();
        else
        {
            unwatch(watched[1]);
            loop.quit();
        }
    };

    Clock::time_point start;
    double startCpu = 0;
    Clock::duration startLoop{};
    QTimer::singleShot(0, &loop,
                       [&]
                       {
                           start = Clock::now();
                           startCpu = CpuSeconds();
                           // As the recorder starts its channels: all in one handler.
                           for (auto& channel : channels)
                               channel->Start(&watcher);
                           startLoop = Clock::now() - start;
                           tick.start(100);
                           watch();
                       });
    bool gaveUp = false;
    QTimer::singleShot(kGiveUp, &loop,
                       [&]
                       {
                           gaveUp = true;
                           loop.quit();
                       });
    loop.exec();
    app.measuring = false;
    tick.stop();
    for (auto& channel : channels)
        channel->Stop();
    channels.clear();
    if (gaveUp || watcher.roundEnd.size() != kRounds)
    {
        std::fprintf(stderr, "bench-polling: not every device answered %d times within %lld s\n",
                     kRounds, static_cast<long long>(kGiveUp.count()));
        return 1;
    }

    const double firstRound = Millis(watcher.roundEnd[0] - start);
    const double minute = Millis(watcher.roundEnd[1] - watcher.roundEnd[0]) / 60000.0;
    const double cpuPerMinute = (watcher.roundCpu[1] - watcher.roundCpu[0]) / minute;
    std::printf("%d devices\n", devices);
    std::printf("  reference: blocking loop, one after another %8.1f ms  %.3f CPU s  (%d values)\n",
                Millis(referenceTime), referenceCpu, referenceOk);
    std::printf("  event loop: until every channel has a value %8.1f ms  %.3f CPU s\n", firstRound,
                watcher.roundCpu[0] - startCpu);
    std::printf("  CPU per minute of polling (ticks incl.)     %8.3f s   ratio to reference %.2f "
                "(goal: at most 3)\n",
                cpuPerMinute, cpuPerMinute / referenceCpu);
    std::printf("  starting all channels, one handler          %8.2f ms\n", Millis(startLoop));
    const char* phases[] = {"first round", "third round"};
    for (int i = 0; i < 2; ++i)
        std::printf("  longest event, %-12s                %8.2f ms  (%.2f ms CPU; event type %d; "
                    "goal: at most 10 ms)\n"
                    "  longest gap of a 1 ms timer, %-12s  %8.2f ms\n",
                    phases[i], watched[i].eventMillis, watched[i].eventCpuMillis,
                    watched[i].eventType, phases[i], watched[i].heartbeatGapMillis);
    std::printf("  peak memory                                 %8.1f MB  (%.1f MB before the "
                "channels; goal at 10,000: under 100 MB)\n",
                PeakRssMegabytes(), rssBefore);
    std::fflush(stdout);
    return 0;
}

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
    for (const int devices : kDeviceCounts)
        if (const int status = Measure(app, devices))
            return status;
    return 0;
}
