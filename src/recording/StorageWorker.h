#pragma once

#include "db/DbAccess.h"
#include "db/Reading.h"

#include <QObject>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CJournal;

// What became of rows handed to storage.
struct CStorageReport
{
    std::vector<CReading> m_stored;      // written as their tick took them
    std::vector<std::string> m_rejected; // the database's text for each row it refused
    std::vector<CReading> m_buffered;    // went into the journal
    std::size_t m_nReplayed = 0;         // written out of the journal
    std::size_t m_nDropped = 0;          // lost past the journal's limit, or not writable there
    std::string m_strFailure;            // why the database could not take rows
    bool m_bReached = false;             // the database took what it was given
};

// The one thread of the recording that talks to the database while
// recording runs: it writes each tick handed to it in one transaction on a
// connection of its own, and writes the journal out when the database takes
// rows again. The thread that hands ticks over never waits for it longer
// than the bound: a tick not written by then goes into the journal, and the
// connection the thread is stuck on is given up (it opens a fresh one when
// it comes back). Reports arrive through the sink on the thread that made
// the worker.
class CStorageWorker
{
public:
    using Sink = std::function<void(CStorageReport&&)>;

    // batchRows: rows of the journal per transaction.
    CStorageWorker(std::shared_ptr<CJournal> journal, CDbEndpoint endpoint, std::string table,
                   std::chrono::milliseconds bound, std::size_t batchRows, Sink sink);
    // Finishes first.
    ~CStorageWorker();
    CStorageWorker(const CStorageWorker&) = delete;
    CStorageWorker& operator=(const CStorageWorker&) = delete;

    // Hands the rows of a tick over; an empty tick only asks for one more
    // attempt at the database and at the journal.
    void Submit(CTick tick);
    // Called often (every 100 ms): puts what waited longer than the bound
    // into the journal.
    void CheckDeadline();
    // Nothing handed over is still under way and every report is delivered.
    bool IsIdle() const;
    // Waits for what is under way until its bound, journals everything not
    // written, delivers the last reports and ends the thread.
    void Finish();

private:
    struct CShared;

    static void Run(std::shared_ptr<CShared> shared);
    void DeliverPosted();
    // Journals ticks the thread will not write, and reports them with the
    // failure that kept them from the database.
    void Orphan(std::vector<CTick> ticks, const std::string& failure);

    std::shared_ptr<CShared> m_shared;
    Sink m_sink;
    std::thread m_thread;
    bool m_bFinished = false;
    // Lives on the thread that made the worker; reports are posted to it.
    QObject m_context;
};
