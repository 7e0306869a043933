#include "db/ReadingWriter.h"

#include "db/DbAccess.h"
#include "db/SqlText.h"

#include <algorithm>
#include <cstdlib>
#include <set>

std::string InsertReadingStatement(std::string_view table, const CReading& row,
                                   const CivilTime& time)
{
    std::string sql = "INSERT INTO ";
    sql += table;
    sql += " (Reading, Calendar, Clock, SensorID) VALUES ( ";
    sql += row.m_strValue;
    sql += ", ";
    sql += SqlDate(time);
    sql += ", ";
    sql += SqlTime(time);
    sql += ", ";
    sql += std::to_string(row.m_nSensorId);
    sql += " )";
    return sql;
}

std::size_t CWriteResult::Count(RowOutcome outcome) const
{
    std::size_t count = 0;
    for (const std::vector<RowOutcome>& rows : m_outcomes)
        count += static_cast<std::size_t>(std::count(rows.begin(), rows.end(), outcome));
    return count;
}

CWriteResult CReadingWriter::Write(const std::vector<CTick>& ticks,
                                   const std::function<bool()>& mayCommit)
{
    CWriteResult result;
    for (const CTick& tick : ticks)
        result.m_outcomes.emplace_back(tick.m_rows.size(), RowOutcome::Unwritten);
    if (!FindStoredRows(ticks, result) || result.Count(RowOutcome::Unwritten) == 0)
        return result;
    bool refused = false;
    if (WriteInOneTransaction(ticks, result, mayCommit, refused) || !refused)
        return result;
    if (!mayCommit())
    {
        GiveUp(result, false, {});
        return result;
    }
    WriteRowByRow(ticks, result);
    return result;
}

bool CReadingWriter::FindStoredRows(const std::vector<CTick>& ticks, CWriteResult& result)
{
    for (std::size_t t = 0; t < ticks.size(); ++t)
    {
        if (!ticks[t].m_bInDoubt)
            continue;
        // All rows of a tick share its date and time, so one query finds
        // what an earlier attempt left.
        if (!m_db.Execute("SELECT SensorID FROM " + m_strTable + " WHERE Calendar=" +
                          SqlDate(ticks[t].m_time) + " AND Clock=" + SqlTime(ticks[t].m_time)))
        {
            if (!m_db.LastFailureWasTemporary())
                continue; // cannot tell; storing beats losing
            GiveUp(result, false, m_db.LastError());
            return false;
        }
        std::set<int> stored;
        while (m_db.Fetch())
            stored.insert(static_cast<int>(std::strtol(m_db.GetColumn(1).c_str(), nullptr, 10)));
        for (std::size_t r = 0; r < ticks[t].m_rows.size(); ++r)
            if (stored.count(ticks[t].m_rows[r].m_nSensorId) != 0)
                result.m_outcomes[t][r] = RowOutcome::AlreadyStored;
    }
    return true;
}

bool CReadingWriter::WriteInOneTransaction(const std::vector<CTick>& ticks, CWriteResult& result,
                                           const std::function<bool()>& mayCommit, bool& refused)
{
    if (!m_db.BeginTransaction())
    {
        GiveUp(result, false, m_db.LastError());
        return false;
    }
    for (std::size_t t = 0; t < ticks.size(); ++t)
        for (std::size_t r = 0; r < ticks[t].m_rows.size(); ++r)
        {
            if (result.m_outcomes[t][r] != RowOutcome::Unwritten)
                continue;
            if (m_db.Execute(
                    InsertReadingStatement(m_strTable, ticks[t].m_rows[r], ticks[t].m_time)))
                continue;
            const bool temporary = m_db.LastFailureWasTemporary();
            const std::string failure = m_db.LastError();
            m_db.EndTransaction(false);
            if (temporary)
                GiveUp(result, false, failure);
            refused = !temporary;
            return false;
        }
    if (!mayCommit())
    {
        m_db.EndTransaction(false);
        GiveUp(result, false, {});
        return false;
    }
    if (!m_db.EndTransaction(true))
    {
        // A commit whose answer was lost may have happened.
        if (m_db.LastFailureWasTemporary())
            GiveUp(result, m_db.IsLost(), m_db.LastError());
        refused = !m_db.LastFailureWasTemporary();
        return false;
    }
    for (std::vector<RowOutcome>& rows : result.m_outcomes)
        std::replace(rows.begin(), rows.end(), RowOutcome::Unwritten, RowOutcome::Stored);
    return true;
}

void CReadingWriter::WriteRowByRow(const std::vector<CTick>& ticks, CWriteResult& result)
{
    for (std::size_t t = 0; t < ticks.size(); ++t)
        for (std::size_t r = 0; r < ticks[t].m_rows.size(); ++r)
        {
            RowOutcome& outcome = result.m_outcomes[t][r];
            if (outcome != RowOutcome::Unwritten)
                continue;
            if (m_db.Execute(
                    InsertReadingStatement(m_strTable, ticks[t].m_rows[r], ticks[t].m_time)))
            {
                outcome = RowOutcome::Stored;
                continue;
            }
            if (m_db.LastFailureWasTemporary())
            {
                // The row that met the lost connection may have been written.
                GiveUp(result, m_db.IsLost(), m_db.LastError());
                return;
            }
            outcome = RowOutcome::Rejected;
            result.m_rejectTexts.push_back(m_db.LastError());
        }
}

void CReadingWriter::GiveUp(CWriteResult& result, bool inDoubt, const std::string& failure)
{
    result.m_strFailure = failure;
    result.m_bInDoubt = inDoubt;
    result.m_bConnectionGone = !m_db.IsOpen() || m_db.IsLost() || failure.empty();
}
