#pragma once

#include "db/Reading.h"
#include "sensors/FileDescriptor.h"

#include <compare>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// A place in the journal: the tick that starts at a byte offset, of which
// the first m_nRow rows are behind it.
struct CJournalPosition
{
    std::uint64_t m_nOffset = 0;
    std::uint32_t m_nRow = 0;
    auto operator<=>(const CJournalPosition&) const = default;
};

// The rows of minute ticks that could not go into the database, kept on
// disk until they can: one file per data source, appended and flushed once
// per tick, written out oldest first in batches. Which rows are written out
// is kept beside it and made durable before and after each batch, so that
// after a kill at most the one batch then under way may be in the database
// already; that batch comes back marked in doubt. A torn last append is cut
// off when the file is opened. The file format is described in README.md.
// Thread-safe: the recording appends while its storing thread writes out.
class CJournal
{
public:
    static constexpr std::size_t kDefaultLimit = 1000000;

    struct CBatch
    {
        std::vector<CTick> m_ticks;
        CJournalPosition m_begin;
        CJournalPosition m_end;
        std::size_t m_nRows = 0;
    };

    CJournal() = default;
    CJournal(const CJournal&) = delete;
    CJournal& operator=(const CJournal&) = delete;

    // Takes the journal of dataSource in folder (created when missing): the
    // first of its files that no other running recorder holds, with what an
    // earlier run left in it. limit: rows kept at most. errorText says why
    // it failed, or after success which unreadable file was set aside.
    bool Open(const std::string& folder, const std::string& dataSource, std::size_t limit,
              std::string& errorText);
    bool IsOpen() const;
    // The journal file, whether it exists now or not.
    std::string Path() const;
    // Rows waiting to be written out.
    std::size_t Rows() const;
    // Rows of damaged records that Open found and left out; counted once.
    std::size_t TakeDamaged();

    // Appends one tick, on disk when it returns. Past the limit the oldest
    // rows go (never those being written out); dropped receives their
    // count. False when the tick could not be written; its rows are then
    // counted in dropped as well.
    bool Append(const CTick& tick, std::size_t& dropped);

    // The oldest waiting rows in whole ticks, about maxRows but at least one
    // tick. Ticks that may be in the database already come marked in doubt.
    // False, batch untouched, when nothing waits or a batch is already out.
    bool NextBatch(std::size_t maxRows, CBatch& batch);
    // The batch is in the database: its rows are behind the journal now. An
    // emptied journal is removed.
    void Done(const CBatch& batch);
    // The batch stays; inDoubt: it may have been written all the same.
    void Failed(const CBatch& batch, bool inDoubt);
    // Whoever wrote the batch out is not waited for any more; the batch
    // stays, in doubt, and may be dropped past the limit.
    void Abandon();

    // A file name for any data source name: letters, digits, '.', '_' and
    // '-' stay, every other byte becomes %XX; long names end in a hash.
    static std::string FileNameOf(const std::string& dataSource);

private:
    bool CreateFile();
    bool WritePosition();
    void ReadPosition();
    // Checks every record from the position on, counts the rows, cuts off a
    // torn end and rewrites the file when a record inside it is damaged.
    bool Scan(std::string& errorText);
    // Moves the position forward to `to`, counting the rows passed.
    void Advance(const CJournalPosition& to);
    void DropOldest(std::size_t rows, std::size_t& dropped);
    // Rewrites the waiting rows into a fresh file when most of the file is
    // behind the position.
    void CompactIfWorthIt();
    bool Compact();
    void RemoveFiles();

    mutable std::mutex m_mutex;
    std::string m_strBase; // folder and name without extension
    CFileDescriptor m_lock;
    CFileDescriptor m_file; // none while there is no journal file
    std::uint64_t m_nId = 0;
    std::uint64_t m_nSize = 0; // bytes of whole records
    std::uint64_t m_nSequence = 0;
    CJournalPosition m_position;
    CJournalPosition m_doubtEnd;
    std::size_t m_nRows = 0;
    std::size_t m_nLimit = kDefaultLimit;
    std::size_t m_nDamaged = 0;
    bool m_bInFlight = false;
    CJournalPosition m_flightEnd;
    CJournalPosition m_doubtBeforeFlight;
};
