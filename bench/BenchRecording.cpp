// Recording 1,000 sensors on 250 simulated devices, all at a 1-minute
// interval. The time one minute tick takes to store its 1,000 rows, against
// the same rows through the bare-ODBC reference (one prepared, bound INSERT),
// on the embedded driver and on a private PostgreSQL server; and the CPU
// share of the process between ticks, while the 250 devices are polled,
// against the CPU of the same 250 exchanges done by a plain blocking client.

#include "bench/BenchDbSupport.h"
#include "bench/BenchDeviceSupport.h"
#include "net/DeviceChannel.h"
#include "sensors/OrbelDoc.h"
#include "recording/Recorder.h"
#include "recording/RecordingView.h"
#include "db/SensorDatabase.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace
{

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kDevices = 250;
constexpr int kSlots = 4;
constexpr int kSensors = kDevices * kSlots;
constexpr int kTicks = 5;
constexpr const char* kDevice = "127.0.0.1:0 reply 10.0.0.5;Bench;{drift:20:0.1}°C;"
                                "{drift:50:0.2}%;{drift:1000:0.5}hPa;{drift:3:0.01}V;\\r\\n";

// Keeps the Status texts as a list would and accounts for the CPU spent
// inside the minute ticks, which are framed by the two status bar texts.
class BenchView : public IRecordingView
{
public:
    BenchView(COrbelDoc& document, CSensorDatabase& database)
        : m_document(document), m_database(database)
    {
    }

    SensorList& Sensors() override { return m_document.m_sensors; }
    bool OpenDatabase() override { return m_database.OpenDatabase(false); }
    void SetStatusText(int stringId, int) override
    {
        if (stringId == CRecorder::kStrDatabaseAccess)
            m_busySince = CpuSeconds();
        else if (m_busySince >= 0)
        {
            m_busyCpu += CpuSeconds() - m_busySince;
            m_busySince = -1;
        }
    }
    void RefreshStatusColumn() override
    {
        for (const auto& record : m_document.m_sensors)
            UpdateStatusCell(*record);
    }
    void ClearStatusColumn() override
    {
        for (const auto& record : m_document.m_sensors)
            record->m_strStatus.clear();
    }
    void UpdateStatusCell(CSensor& record) override
    {
        record.m_strStatus = record.m_pChannel ? record.m_pChannel->GetStatusText() : "";
    }
    void SetListColour(std::uint32_t) override {}
    bool IsMinimized() const override { return false; }
    void OnRowStored(const CReading& row) override
    {
        ++m_nRows;
        m_nMissing += row.m_strValue == kNullValue;
    }
    void OnRowsBuffered(const std::vector<CReading>&) override {}
    void OnRowsReplayed(std::size_t) override {}
    void OnRowsDropped(std::size_t) override {}
    void ReportUnrecorded(const std::vector<CUnrecordedPoint>&) override {}
    bool StopRequested() const override { return false; }

    double m_busyCpu = 0;
    int m_nRows = 0;
    int m_nMissing = 0;

private:
    COrbelDoc& m_document;
    CSensorDatabase& m_database;
    double m_busySince = -1;
};

void Wait(std::chrono::milliseconds duration)
{
    // One timer for the whole wait, so that waiting costs no CPU of its own.
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

int PolledReplies(const CRecorder& recorder)
{
    int replies = 0;
    for (const auto& channel : recorder.Channels())
        if (channel->m_pMaster == nullptr)
            replies += static_cast<const CDeviceChannel&>(*channel).m_connection.Replies();
    return replies;
}

struct Figures
{
    double tickMillis = 1e300;
    double referenceMillis = 1e300;
    double pollCpuPerMinute = 0;
    int polls = 0;
};

// Records into a fresh data source: the best of kTicks minute ticks against
// the best of as many reference runs, taken in turns; then, when pollWindow
// is given, the CPU spent between ticks during that long.
Figures Measure(const std::string& dsn, const std::vector<Endpoint>& devices,
                std::chrono::seconds pollWindow)
{
    COrbelDoc document;
    for (const Endpoint& device : devices)
        for (int slot = 0; slot < kSlots; ++slot)
        {
            auto record = std::make_unique<CSensor>();
            record->m_strAddress = device.address;
            record->m_nPort = device.port;
            record->m_nSensorNo = slot;
            document.AddSensor(record, true);
        }
    CountingUi ui("bench-recording");
    CSensorDatabase database(ui);
    database.m_strDataSource = dsn;
    BenchView view(document, database);
    bool recording = false;
    CRecorder recorder(view, database, recording);
    Check(recorder.Start(), "recording did not start on " + dsn);
    const auto deadline = Clock::now() + 30s;
    while (PolledReplies(recorder) < kDevices && Clock::now() < deadline)
        Wait(100ms);
    Check(PolledReplies(recorder) >= kDevices, "not every device answered");

    Figures figures;
    PreparedInsert reference(dsn);
    for (int turn = 0; turn < 2 * kTicks; ++turn)
    {
        const auto start = Clock::now();
        if (turn % 2 == 0)
        {
            recorder.OnMinuteTimer();
            // The rows are stored on the recording's own thread.
            while (!recorder.IsStorageIdle())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            figures.tickMillis = std::min(figures.tickMillis, Millis(Clock::now() - start));
            continue;
        }
        int failed = 0;
        for (const auto& channel : recorder.Channels())
        {
            float value = 0;
            channel->GetValue(value, nullptr);
            failed += !reference.Insert(value, channel->m_nSensorId);
        }
        figures.referenceMillis = std::min(figures.referenceMillis, Millis(Clock::now() - start));
        Check(failed == 0, "reference rows failed");
    }
    Check(view.m_nRows == kTicks * kSensors && ui.m_nErrors == 0, "rows went missing");
    Check(CountRows(database.m_db) == 2L * kTicks * kSensors, "the table misses rows");
    if (view.m_nMissing != 0)
        std::printf("  (%d of the rows without value)\n", view.m_nMissing);

    if (pollWindow.count() > 0)
    {
        const int repliesBefore = PolledReplies(recorder);
        const double cpuBefore = CpuSeconds();
        const double busyBefore = view.m_busyCpu;
        const auto start = Clock::now();
        Wait(pollWindow);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = CpuSeconds() - cpuBefore - (view.m_busyCpu - busyBefore);
        figures.pollCpuPerMinute = cpu * 60 / seconds;
        figures.polls = PolledReplies(recorder) - repliesBefore;
    }
    recorder.Stop();
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    const long window = argc > 1 ? std::atol(argv[1]) : 60;
    if (window <= 0)
    {
        std::fprintf(stderr, "usage: bench-recording [SECONDS OF POLLING]\n");
        return 2;
    }
    QCoreApplication application(argc, argv);
    try
    {
        BenchDataSources sources;
        const VarionSim sim(ManyDevices(kDevices, kDevice));
        const std::vector<Endpoint>& devices = sim.Devices();
        Check(sim.Ready() && devices.size() == kDevices, "varion-sim did not start its devices");

        std::printf("bench-recording: %d sensors on %d devices, 1-minute interval\n", kSensors,
                    kDevices);
        std::fflush(stdout);
        const Figures sqlite = Measure(sources.NewSqlite(), devices, std::chrono::seconds(window));
        const Figures postgres = Measure(sources.NewPostgres(), devices, {});
        for (const auto& [name, figures] : {std::pair{"SQLite", sqlite}, {"PostgreSQL", postgres}})
            std::printf("%-11s minute tick %8.1f ms   prepared INSERT %8.1f ms   ratio %.2f\n",
                        name, figures.tickMillis, figures.referenceMillis,
                        figures.tickMillis / figures.referenceMillis);

        const double blockingStart = CpuSeconds();
        int answered = 0;
        for (const Endpoint& device : devices)
            answered += BlockingExchange(device);
        const double blockingCpu = CpuSeconds() - blockingStart;
        Check(answered == kDevices, "not every device answered the blocking client");
        std::printf("polling between ticks: %.1f ms CPU per minute (%.2f%% of one core, %d polls "
                    "in %ld s)   blocking exchanges %.1f ms   ratio %.2f\n",
                    sqlite.pollCpuPerMinute * 1000, sqlite.pollCpuPerMinute / 60 * 100,
                    sqlite.polls, window, blockingCpu * 1000,
                    sqlite.pollCpuPerMinute / blockingCpu);
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "bench-recording: %s\n", error.what());
        return 1;
    }
    return 0;
}
