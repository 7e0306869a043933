// tessaro-cli record as an operator runs it: 10,000 sensors on 2,500
// simulated devices, all at a 1-minute interval, for some full minutes into
// a fresh SQLite database (the data source `db init` makes) and into
// PostgreSQL with fsync on. For each minute: the rows the table holds for
// it, which must be all of them; when the recorder reported the tick's rows
// stored, counted from the full minute, against one prepared, bound INSERT
// of as many rows in one transaction on the same database; its memory then.
// Over the run: its CPU share and peak memory, and the CPU from tick to tick
// against a blocking client doing the same exchanges with the devices.

#include "bench/BenchDbSupport.h"
#include "bench/BenchDeviceSupport.h"
#include "common/Process.h"
#include "common/TempDir.h"
#include "db/SensorDatabase.h"

#include <QCoreApplication>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace
{

using namespace std::chrono_literals;
using SystemClock = std::chrono::system_clock;
using Steady = std::chrono::steady_clock;

constexpr int kDevices = 2500;
constexpr int kSlots = 4;
constexpr int kSensors = kDevices * kSlots;
constexpr const char* kDevice = "127.0.0.1:0 reply 10.0.0.5;Bench;{drift:20:0.1}°C;"
                                "{drift:50:0.2}%;{drift:1000:0.5}hPa;{drift:3:0.01}V;\\r\\n";
constexpr const char* kUnits[kSlots] = {"C", "%", "hPa", "V"};
// The lines of one tick come together, the next tick's a minute later.
constexpr auto kTickGap = 5s;
// Registering 10,000 points takes one synced statement after another.
constexpr auto kStartBound = 15min;
constexpr int kReferenceRounds = 5;

double Seconds(SystemClock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// User and system time of all the threads of a running process.
double ProcCpuSeconds(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    // The fields after the command name, which may hold blanks: state is
    // field 3, utime 14, stime 15.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number)
        if (number >= 14)
            ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ProcRssMegabytes(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:"))
            return std::stod(line.substr(6)) / 1024;
    return 0;
}

SystemClock::time_point FullMinute(SystemClock::time_point time)
{
    return std::chrono::floor<std::chrono::minutes>(time);
}

// Local date and time as the reading table holds them, "YYYY-MM-DD hh:mm:ss".
std::string TableTime(SystemClock::time_point time)
{
    const std::time_t seconds = SystemClock::to_time_t(time);
    std::tm fields{};
    localtime_r(&seconds, &fields);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
    return text;
}

void WriteConfiguration(const std::filesystem::path& file, const std::vector<Endpoint>& devices)
{
    std::ofstream out(file, std::ios::binary);
    out << "ZELD1\r\n";
    for (std::size_t device = 0; device < devices.size(); ++device)
        for (int slot = 0; slot < kSlots; ++slot)
            out << devices[device].address << '\t' << devices[device].port << '\t' << slot
                << "\t1\t" << kUnits[slot] << "\tPunkt " << device << '/' << slot << "\t0x00\r\n";
    Check(out.good(), "cannot write " + file.string());
}

// One tick's `stored` lines, and where the recorder stood at the first.
struct Tick
{
    SystemClock::time_point first;
    SystemClock::time_point last;
    int rows = 0;
    int nulls = 0;
    double cpuSeconds = 0;
    long exchanges = 0;
    double rssMegabytes = 0;
};

struct Run
{
    std::vector<Tick> ticks;
    double cpuSeconds = 0;
    double wallSeconds = 0;
    long peakRssKb = 0;
    std::vector<std::string> failures;
};

// Records until `minutes` ticks have been reported stored, then stops the
// recorder as a service manager would.
Run Record(const std::string& config, const std::string& dsn, int minutes, VarionSim& sim)
{
    Run run;
    const auto started = Steady::now();
    ChildProcess recorder({TESSARO_CLI, "record", config, "--dsn", dsn});
    const pid_t pid = recorder.Pid();
    auto deadline = SystemClock::now() + kStartBound;
    std::string line;
    for (;;)
    {
        const auto asked = Steady::now();
        const bool got = recorder.ReadLine(line, 1s);
        const auto now = SystemClock::now();
        if (got && line.starts_with("stored\t"))
        {
            if (run.ticks.empty() || now - run.ticks.back().last > kTickGap)
            {
                run.ticks.push_back({now, now, 0, 0, ProcCpuSeconds(pid), AcceptedConnections(sim),
                                     ProcRssMegabytes(pid)});
                deadline = FullMinute(run.ticks.front().first) + minutes * 1min + 1min;
            }
            Tick& tick = run.ticks.back();
            tick.last = now;
            ++tick.rows;
            tick.nulls += line.ends_with("\tNULL");
        }
        else if (got)
            continue;
        else if (Steady::now() - asked < 500ms)
        {
            // Nothing to wait for: its stdout has closed.
            run.failures.push_back("the recorder ended by itself");
            break;
        }
        if (static_cast<int>(run.ticks.size()) == minutes && now - run.ticks.back().last > kTickGap)
            break;
        if (now > deadline)
        {
            run.failures.push_back("only " + std::to_string(run.ticks.size()) + " of " +
                                   std::to_string(minutes) + " ticks reported stored in time");
            break;
        }
    }
    recorder.Signal(SIGTERM);
    // The emptied Status cells are printed on the way out.
    recorder.ReadRest(120s);
    if (recorder.Wait(10s) != 0)
        run.failures.push_back("the recorder did not end with status 0");
    run.wallSeconds = std::chrono::duration<double>(Steady::now() - started).count();
    run.cpuSeconds = recorder.Usage().ProcessorSeconds();
    run.peakRssKb = recorder.Usage().peakRssKb;
    return run;
}

// Rows of the reading table per local date and time, "YYYY-MM-DD hh:mm:ss".
std::map<std::string, long> RowsPerTime(CDbAccess& db)
{
    Check(db.Execute("SELECT Calendar, Clock, COUNT(*) FROM Recording GROUP BY Calendar, Clock"),
          "cannot count the rows per minute");
    std::map<std::string, long> rows;
    while (db.Fetch())
        rows[db.GetColumn(1) + " " + db.GetColumn(2)] = std::atol(db.GetColumn(3).c_str());
    return rows;
}

// Median time of one prepared INSERT of a tick's rows in one transaction.
double ReferenceSeconds(const std::string& dsn)
{
    PreparedInsert reference(dsn, false);
    std::vector<double> times;
    for (int round = 0; round < kReferenceRounds; ++round)
    {
        const auto start = Steady::now();
        for (int id = 1; id <= kSensors; ++id)
            Check(reference.Insert(id % 500 + 0.5, id), "reference insert failed");
        Check(reference.Commit(), "reference commit failed");
        times.push_back(std::chrono::duration<double>(Steady::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Prints the figures of one database; false when rows went missing or the
// minutes were not stored as they came.
bool Report(const char* name, const std::string& dsn, Run& run, double blockingPerExchange)
{
    CountingUi ui("bench-recorder");
    CSensorDatabase database(ui);
    database.m_strDataSource = dsn;
    Check(database.OpenDatabase(false), "cannot open " + dsn);
    // Each tick stamps its rows with the local time it ran at, in order.
    const std::map<std::string, long> rows = RowsPerTime(database.m_db);
    auto stamp = rows.begin();

    std::printf("%s\n", name);
    std::vector<double> latencies;
    SystemClock::time_point previous;
    for (const Tick& tick : run.ticks)
    {
        const SystemClock::time_point minute = FullMinute(tick.first);
        const std::string time = TableTime(minute);
        const bool inMinute = stamp != rows.end() && stamp->first.starts_with(time.substr(0, 16));
        const long inTable = inMinute ? stamp->second : 0;
        latencies.push_back(Seconds(tick.first - minute));
        std::printf("  minute %.5s  %5ld rows stamped %s (%d reported, %d without value)  "
                    "reported stored after %5.2f s, last line %5.2f s  memory %6.1f MB\n",
                    time.c_str() + 11, inTable, inMinute ? stamp->first.c_str() + 11 : "-",
                    tick.rows, tick.nulls, latencies.back(), Seconds(tick.last - minute),
                    tick.rssMegabytes);
        if (inTable != kSensors || tick.rows != kSensors)
            run.failures.push_back("minute " + time.substr(0, 16) + ": " + std::to_string(inTable) +
                                   " rows in the table, " + std::to_string(tick.rows) +
                                   " reported, of " + std::to_string(kSensors));
        // A tick more than half a minute late stands for the next minute;
        // only the first may be, held up by the start.
        const bool late = inMinute && stamp->first.substr(17) > "30";
        if (late && previous != SystemClock::time_point())
            run.failures.push_back("the tick of " + stamp->first + " came late after the first");
        const SystemClock::time_point countsFor = minute + (late ? 1min : 0min);
        if (previous != SystemClock::time_point() && countsFor - previous != 1min)
            run.failures.push_back("the tick reported at " + TableTime(tick.first) +
                                   " does not follow the one before by a minute");
        previous = countsFor;
        if (inMinute)
            ++stamp;
    }
    for (; stamp != rows.end(); ++stamp)
        run.failures.push_back(std::to_string(stamp->second) + " rows stamped " + stamp->first +
                               ", which no tick of the run reported");

    if (!latencies.empty())
    {
        std::sort(latencies.begin(), latencies.end());
        const double median = latencies[latencies.size() / 2];
        const double reference = ReferenceSeconds(dsn);
        std::printf("  full minute to the tick's rows reported stored: min %.2f s  median %.2f s  "
                    "max %.2f s (the timer fires 0.5 to 1.5 s after it)\n",
                    latencies.front(), median, latencies.back());
        std::printf("  less the first 0.5 s, median %7.1f ms   prepared INSERT of %d rows, one "
                    "transaction %7.1f ms   ratio %.2f\n",
                    (median - 0.5) * 1000, kSensors, reference * 1000, (median - 0.5) / reference);
    }
    std::printf("  recorder: %.1f s CPU in %.0f s (%.1f%% of one core), peak memory %.1f MB\n",
                run.cpuSeconds, run.wallSeconds, run.cpuSeconds / run.wallSeconds * 100,
                run.peakRssKb / 1024.0);
    if (run.ticks.size() >= 2)
    {
        const Tick& first = run.ticks.front();
        const Tick& last = run.ticks.back();
        const double minutes = Seconds(last.first - first.first) / 60;
        const double cpuPerMinute = (last.cpuSeconds - first.cpuSeconds) / minutes;
        const double exchangesPerMinute = (last.exchanges - first.exchanges) / minutes;
        const double blocking = exchangesPerMinute * blockingPerExchange;
        std::printf("  tick to tick: %.2f s CPU per minute, %.0f exchanges per minute   blocking "
                    "client, same exchanges %.3f s   ratio %.1f\n",
                    cpuPerMinute, exchangesPerMinute, blocking, cpuPerMinute / blocking);
        std::printf("  memory from the first tick to the last: %+.1f MB\n",
                    last.rssMegabytes - first.rssMegabytes);
    }
    for (const std::string& failure : run.failures)
        std::printf("  FAILED: %s\n", failure.c_str());
    std::fflush(stdout);
    return run.failures.empty();
}

} // namespace

int main(int argc, char** argv)
{
    const int minutes = argc > 1 ? std::atoi(argv[1]) : 5;
    const std::string only = argc > 2 ? argv[2] : "";
    if (minutes < 1 || argc > 3 || (only != "" && only != "sqlite" && only != "postgres"))
    {
        std::fprintf(stderr, "usage: bench-recorder [MINUTES [sqlite|postgres]]\n");
        return 2;
    }
    QCoreApplication application(argc, argv);
    bool allStored = true;
    try
    {
        // The recorder's settings, data folder and journal are the run's own.
        const TempDir home;
        setenv("HOME", home.Path().c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
        setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
        OdbcTestEnv env;

        VarionSim sim(ManyDevices(kDevices, kDevice));
        const std::vector<Endpoint>& devices = sim.Devices();
        Check(sim.Ready() && devices.size() == kDevices, "varion-sim did not start its devices");
        const std::filesystem::path config = home / "bench.ini";
        WriteConfiguration(config, devices);

        const double blockingStart = CpuSeconds();
        int answered = 0;
        for (const Endpoint& device : devices)
            answered += BlockingExchange(device);
        const double blockingPerExchange = (CpuSeconds() - blockingStart) / kDevices;
        Check(answered == kDevices, "not every device answered the blocking client");

        std::printf("bench-recorder: tessaro-cli record, %d sensors on %d devices, %d minutes\n",
                    kSensors, kDevices, minutes);
        std::fflush(stdout);
        if (only != "postgres")
        {
            const ProcessResult init =
                RunProcess({TESSARO_CLI, "db", "init", "--dsn", "bench sqlite", "--file",
                            (home / "bench.sqlite").string()});
            Check(init.exitCode == 0, "db init failed: " + init.err);
            Run run = Record(config.string(), "bench sqlite", minutes, sim);
            allStored &= Report("SQLite, the data source of db init", "bench sqlite", run,
                                blockingPerExchange);
        }
        if (only != "sqlite")
        {
            PgServer server(true);
            env.AddPostgresDataSource("bench postgres", server.Port(), server.CreateDatabase(),
                                      PgServer::User());
            Run run = Record(config.string(), "bench postgres", minutes, sim);
            allStored &= Report("PostgreSQL, fsync on", "bench postgres", run, blockingPerExchange);
        }
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "bench-recorder: %s\n", error.what());
        return 1;
    }
    return allStored ? 0 : 1;
}
