// Storing the recording's rows with the disks really written: one minute
// tick of 10,000 sensors handed to the recording's storing thread, which
// writes it in one transaction, and the write-out of a journal of
// 1,000,000 rows; both against the bare-ODBC reference measured in the same
// run: the same rows through one prepared INSERT with bound parameters, in
// one transaction per tick or per journal batch. SQLite in its default
// durable mode, PostgreSQL with fsync on.

#include "bench/BenchDbSupport.h"
#include "common/TempDir.h"
#include "db/SensorDatabase.h"
#include "recording/Journal.h"
#include "recording/StorageWorker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace
{

using Clock = std::chrono::steady_clock;

constexpr int kSensors = 10000;
constexpr std::size_t kBatchRows = 5000;

double Seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// A tick's rows: sensor id, a value (every tenth without one) and the time.
CTick MakeTick(int minute, int sensors)
{
    CTick tick;
    tick.m_time = {2026, 3, 1 + minute / 1440, minute / 60 % 24, minute % 60, 1};
    tick.m_rows.reserve(static_cast<std::size_t>(sensors));
    for (int id = 1; id <= sensors; ++id)
        tick.m_rows.push_back({id, id % 10 == 0 ? "NULL"
                                                : std::to_string(id % 500) + "." +
                                                      std::to_string(minute % 10) + "00000"});
    return tick;
}

// The bare reference: the same rows through one prepared INSERT, one
// transaction per call.
void WriteReference(PreparedInsert& insert, const std::vector<CTick>& ticks)
{
    for (const CTick& tick : ticks)
        for (const CReading& row : tick.m_rows)
            Check(insert.Insert(row.m_strValue == kNullValue
                                    ? std::nullopt
                                    : std::optional<double>(std::atof(row.m_strValue.c_str())),
                                tick.m_time, row.m_nSensorId),
                  "reference insert failed");
    Check(insert.Commit(), "reference commit failed");
}

// The database of a data source opened the program's way, tables made.
struct Opened
{
    explicit Opened(const std::string& dsn) : m_database(m_ui)
    {
        m_database.m_strDataSource = dsn;
        Check(m_database.OpenDatabase(false), "cannot open " + dsn);
    }
    CountingUi m_ui{"bench-storage"};
    CSensorDatabase m_database;
};

// Runs the event loop until done, waiting in it as the programs do: a loop
// that only polls would take the processor from the storing thread.
template <typename Done> void RunUntil(Done done)
{
    while (!done())
    {
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

struct Figures
{
    double tick = 1e300;
    double tickReference = 1e300;
    double replayRate = 0;
    double replayReference = 0;
};

Figures Measure(const std::string& dsn, const std::string& folder, int journalRows)
{
    Opened opened(dsn);
    CDbAccess& db = opened.m_database.m_db;
    Figures figures;
    std::size_t stored = 0;
    {
        auto journal = std::make_shared<CJournal>();
        std::string note;
        Check(journal->Open(folder, dsn + " ticks", CJournal::kDefaultLimit, note), note);
        CStorageWorker worker(journal, db.Endpoint(), "Recording", std::chrono::seconds(60),
                              kBatchRows,
                              [&](CStorageReport&& report) { stored += report.m_stored.size(); });
        PreparedInsert reference(dsn, false);
        // Disk syncs make single ticks noisy: the best of five each, in turns.
        for (int turn = 0; turn < 10; ++turn)
        {
            const CTick tick = MakeTick(turn, kSensors);
            const auto start = Clock::now();
            if (turn % 2 == 0)
            {
                worker.Submit(tick);
                RunUntil([&] { return worker.IsIdle(); });
                figures.tick = std::min(figures.tick, Seconds(Clock::now() - start));
            }
            else
            {
                WriteReference(reference, {tick});
                figures.tickReference =
                    std::min(figures.tickReference, Seconds(Clock::now() - start));
            }
        }
        Check(stored == 5u * kSensors && journal->Rows() == 0,
              "tick rows went missing: " + std::to_string(stored) + " stored, " +
                  std::to_string(journal->Rows()) + " in the journal");
    }

    // The same journal rows, written out by the worker and by the reference.
    const int ticks = journalRows / 100;
    std::vector<CTick> ticksOfRows;
    {
        auto journal = std::make_shared<CJournal>();
        std::string note;
        Check(journal->Open(folder, dsn, CJournal::kDefaultLimit, note), note);
        for (int t = 0; t < ticks; ++t)
        {
            std::size_t dropped = 0;
            Check(journal->Append(MakeTick(100 + t, 100), dropped), "cannot fill the journal");
        }
        std::size_t replayed = 0;
        const auto start = Clock::now();
        CStorageWorker worker(journal, db.Endpoint(), "Recording", std::chrono::seconds(60),
                              kBatchRows,
                              [&](CStorageReport&& report) { replayed += report.m_nReplayed; });
        RunUntil([&] { return journal->Rows() == 0 && worker.IsIdle(); });
        figures.replayRate = replayed / Seconds(Clock::now() - start);
        Check(replayed == static_cast<std::size_t>(ticks) * 100, "journal rows went missing");
    }
    PreparedInsert reference(dsn, false);
    const auto start = Clock::now();
    std::vector<CTick> batch;
    for (int t = 0; t < ticks; ++t)
    {
        batch.push_back(MakeTick(100 + t, 100));
        if (batch.size() * 100 >= kBatchRows || t + 1 == ticks)
        {
            WriteReference(reference, batch);
            batch.clear();
        }
    }
    figures.replayReference = ticks * 100.0 / Seconds(Clock::now() - start);
    Check(CountRows(db) == 10L * kSensors + 2L * ticks * 100, "the table misses rows");
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    const int journalRows = argc > 1 ? std::atoi(argv[1]) : 1000000;
    if (journalRows < 100)
    {
        std::fprintf(stderr, "usage: bench-storage [JOURNAL ROWS]\n");
        return 2;
    }
    QCoreApplication application(argc, argv);
    try
    {
        OdbcTestEnv env;
        const TempDir folder;
        // Neither database is told to skip its disk syncs.
        env.AddSqliteDataSource("bench durable sqlite", folder / "durable.sqlite");
        PgServer server(true);
        env.AddPostgresDataSource("bench durable postgres", server.Port(), server.CreateDatabase(),
                                  PgServer::User());
        std::printf("bench-storage: a tick of %d sensors, a journal of %d rows, disks synced\n",
                    kSensors, journalRows);
        std::fflush(stdout);
        for (const auto& [name, dsn] : {std::pair{"SQLite", "bench durable sqlite"},
                                        {"PostgreSQL", "bench durable postgres"}})
        {
            const Figures figures = Measure(dsn, folder.Path().string(), journalRows);
            std::printf("%-11s tick %7.1f ms   prepared batch %7.1f ms   ratio %.2f\n", name,
                        figures.tick * 1000, figures.tickReference * 1000,
                        figures.tick / figures.tickReference);
            std::printf("%-11s journal %8.0f rows/s   prepared batches %8.0f rows/s   ratio %.2f\n",
                        name, figures.replayRate, figures.replayReference,
                        figures.replayRate / figures.replayReference);
            std::fflush(stdout);
        }
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "bench-storage: %s\n", error.what());
        return 1;
    }
    return 0;
}
