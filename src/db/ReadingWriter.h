#pragma once

#include "db/Reading.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CDbAccess;

// What became of each row handed to CReadingWriter::Write.
enum class RowOutcome : std::uint8_t
{
    Unwritten,     // not in the database; try again later
    Stored,        // written now
    AlreadyStored, // an earlier attempt had written it after all
    Rejected,      // the database refused this row; it never will take it
};

struct CWriteResult
{
    // Per tick, per row, as handed in.
    std::vector<std::vector<RowOutcome>> m_outcomes;
    // The database's text for each rejected row, in row order.
    std::vector<std::string> m_rejectTexts;
    // Why rows stayed unwritten; empty when none did.
    std::string m_strFailure;
    // Unwritten rows may have been committed: the answer to a commit was lost.
    bool m_bInDoubt = false;
    // The connection is gone or was given up (mayCommit said no).
    bool m_bConnectionGone = false;

    std::size_t Count(RowOutcome outcome) const;
};

// Stores readings the way the recording wants them: all rows handed in at
// once in one transaction, so that a tick of thousands of sensors costs one
// flush to disk; when the database refuses a row, row by row so that only
// that row is missing. Rows of ticks in doubt that the table already holds
// (same SensorID, date and time) are not stored again.
class CReadingWriter
{
public:
    CReadingWriter(CDbAccess& db, std::string table) : m_db(db), m_strTable(std::move(table)) {}

    // mayCommit is asked right before anything may become permanent; false
    // leaves every row not yet stored unwritten.
    CWriteResult Write(const std::vector<CTick>& ticks, const std::function<bool()>& mayCommit);

private:
    bool FindStoredRows(const std::vector<CTick>& ticks, CWriteResult& result);
    // True when every row went in. Otherwise refused tells a row the
    // database will not take from a failure that may pass.
    bool WriteInOneTransaction(const std::vector<CTick>& ticks, CWriteResult& result,
                               const std::function<bool()>& mayCommit, bool& refused);
    void WriteRowByRow(const std::vector<CTick>& ticks, CWriteResult& result);
    // failure empty: given up by mayCommit.
    void GiveUp(CWriteResult& result, bool inDoubt, const std::string& failure);

    CDbAccess& m_db;
    std::string m_strTable;
};
