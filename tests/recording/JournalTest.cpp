#include "recording/Journal.h"

#include "common/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace
{

const std::string kSource = "Lager Süd/Halle 2";

CTick Tick(int minute, std::vector<int> ids)
{
    CTick tick;
    tick.m_time = {2026, 3, 7, 10, minute, 0};
    for (const int id : ids)
        tick.m_rows.push_back(
            {id, id % 2 ? std::string(kNullValue) : std::to_string(id) + ".500000"});
    return tick;
}

// Date, time and rows of ticks, as comparable text.
std::string Describe(const std::vector<CTick>& ticks)
{
    std::string text;
    for (const CTick& tick : ticks)
    {
        text += std::to_string(tick.m_time.minute) + (tick.m_bInDoubt ? "?" : "") + ":";
        for (const CReading& row : tick.m_rows)
            text += " " + std::to_string(row.m_nSensorId) + "=" + row.m_strValue;
        text += ";";
    }
    return text;
}

class JournalTest : public ::testing::Test
{
protected:
    // A journal as the next run finds it; the previous one goes first, as
    // with a process that ended (or was killed: every step is on disk).
    CJournal& Reopen(std::size_t limit = CJournal::kDefaultLimit)
    {
        m_journal.reset();
        m_journal = std::make_unique<CJournal>();
        std::string note;
        EXPECT_TRUE(m_journal->Open(m_dir.Path().string(), kSource, limit, note)) << note;
        m_strNote = note;
        return *m_journal;
    }
    void Append(const CTick& tick, std::size_t expectDropped = 0)
    {
        std::size_t dropped = 0;
        ASSERT_TRUE(m_journal->Append(tick, dropped));
        EXPECT_EQ(dropped, expectDropped);
    }
    // Every waiting row, written out batch by batch.
    std::string WriteOut(std::size_t batchRows = 1000)
    {
        std::string text;
        CJournal::CBatch batch;
        while (m_journal->NextBatch(batchRows, batch))
        {
            text += Describe(batch.m_ticks);
            m_journal->Done(batch);
        }
        return text;
    }
    std::filesystem::path File() const { return m_journal->Path(); }

    TempDir m_dir;
    std::unique_ptr<CJournal> m_journal;
    std::string m_strNote;
};

TEST_F(JournalTest, KeepsTicksAcrossRunsAndABatchUnderWayAtADeathComesBackInDoubt)
{
    Reopen();
    Append(Tick(1, {1, 2}));
    Append(Tick(2, {3}));
    Append(Tick(3, {4, 5, 6}));
    EXPECT_EQ(Reopen().Rows(), 6u);

    // Whole ticks, at least one, up to about the rows asked for.
    CJournal::CBatch batch;
    ASSERT_TRUE(m_journal->NextBatch(1, batch));
    EXPECT_EQ(Describe(batch.m_ticks), "1: 1=NULL 2=2.500000;");
    EXPECT_FALSE(m_journal->NextBatch(1, batch)) << "one batch at a time";
    // Killed before the batch was known to be written: checked next time,
    // and only that batch.
    ASSERT_TRUE(Reopen().NextBatch(1, batch));
    EXPECT_EQ(Describe(batch.m_ticks), "1?: 1=NULL 2=2.500000;");
    m_journal->Done(batch);
    EXPECT_EQ(Reopen().Rows(), 4u);
    EXPECT_EQ(WriteOut(), "2: 3=NULL;3: 4=4.500000 5=NULL 6=6.500000;");
    EXPECT_EQ(m_journal->Rows(), 0u);
    EXPECT_FALSE(std::filesystem::exists(File()));
    EXPECT_EQ(Reopen().Rows(), 0u);

    // A batch known not to be written is no doubt; one given up is.
    Append(Tick(4, {7}));
    Append(Tick(5, {8}));
    ASSERT_TRUE(m_journal->NextBatch(1, batch));
    m_journal->Failed(batch, false);
    ASSERT_TRUE(m_journal->NextBatch(1, batch));
    m_journal->Abandon();
    Reopen();
    EXPECT_EQ(WriteOut(1), "4?: 7=NULL;5: 8=8.500000;");
}

TEST_F(JournalTest, ATornOrDamagedFileLosesOnlyItsBrokenRecord)
{
    const struct
    {
        const char* what;
        // Changes the file of ticks 1 to 3 (2, 1 and 3 rows).
        std::function<void(std::string&)> damage;
        const char* left;
        std::size_t damaged;
    } cases[] = {
        {"killed in the last append", [](std::string& b) { b.resize(b.size() - 5); },
         "1: 1=NULL 2=2.500000;2: 3=NULL;", 0},
        {"killed before its last line end", [](std::string& b) { b.pop_back(); },
         "1: 1=NULL 2=2.500000;2: 3=NULL;", 0},
        {"killed in a row of the last", [](std::string& b) { b.resize(b.rfind("5 NULL") + 3); },
         "1: 1=NULL 2=2.500000;2: 3=NULL;", 0},
        {"a flipped byte inside", [](std::string& b) { b[b.find("3 NULL")] = '8'; },
         "1: 1=NULL 2=2.500000;3: 4=4.500000 5=NULL 6=6.500000;", 1},
        {"a value no statement can carry",
         [](std::string& b) { b.replace(b.find("2.5"), 3, "2;5"); },
         "2: 3=NULL;3: 4=4.500000 5=NULL 6=6.500000;", 2},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        Reopen();
        Append(Tick(1, {1, 2}));
        Append(Tick(2, {3}));
        Append(Tick(3, {4, 5, 6}));
        std::string bytes = ReadFileBytes(File());
        c.damage(bytes);
        m_journal.reset();
        WriteFileBytes(m_dir / (CJournal::FileNameOf(kSource) + ".journal"), bytes);
        EXPECT_EQ(Reopen().TakeDamaged(), c.damaged);
        // What comes after the damage is appended whole and read back.
        Append(Tick(4, {7}));
        EXPECT_EQ(Reopen().TakeDamaged(), 0u);
        EXPECT_EQ(WriteOut(), c.left + std::string("4: 7=NULL;"));
    }

    // A file of someone else's is set aside, not read and not deleted.
    Reopen();
    m_journal.reset();
    const std::filesystem::path foreign = m_dir / (CJournal::FileNameOf(kSource) + ".journal");
    WriteFileBytes(foreign, "T 2026-03-07 10:01:00 1 -\n1 NULL\n");
    EXPECT_EQ(Reopen().Rows(), 0u);
    EXPECT_NE(m_strNote.find("unreadable"), std::string::npos) << m_strNote;
    EXPECT_TRUE(std::filesystem::exists(foreign.string() + ".unreadable"));
}

TEST_F(JournalTest, PastItsLimitTheOldestRowsGoAndAreCounted)
{
    Reopen(5);
    Append(Tick(1, {1, 2, 3}));
    Append(Tick(2, {4, 5, 6}), 1);
    // Never the rows being written out: they wait for the batch to end.
    CJournal::CBatch batch;
    ASSERT_TRUE(m_journal->NextBatch(1, batch));
    EXPECT_EQ(Describe(batch.m_ticks), "1: 2=2.500000 3=NULL;");
    Append(Tick(3, {7}), 0);
    m_journal->Failed(batch, false);
    Append(Tick(4, {8, 9}), 3);
    EXPECT_EQ(m_journal->Rows(), 5u);
    EXPECT_EQ(Reopen(5).Rows(), 5u);
    EXPECT_EQ(WriteOut(), "2: 5=NULL 6=6.500000;3: 7=NULL;4: 8=8.500000 9=NULL;");
}

TEST_F(JournalTest, EveryDataSourceNameGivesItsOwnSafeFileAndRecordersTheirOwnSlot)
{
    const struct
    {
        std::string name, file;
    } names[] = {
        {"Arveda Sensor Database", "Arveda%20Sensor%20Database"},
        {"../etc/passwd", "%2e.%2fetc%2fpasswd"},
        {"Lager\\Süd", "Lager%5cS%c3%bcd"},
        {"", "%00"},
        {"a.b_c-d", "a.b_c-d"},
    };
    for (const auto& n : names)
        EXPECT_EQ(CJournal::FileNameOf(n.name), n.file) << n.name;
    const std::string longName(300, 'x');
    const std::string file = CJournal::FileNameOf(longName);
    EXPECT_LE(file.size(), 160u);
    EXPECT_NE(file, CJournal::FileNameOf(longName + "y"));

    // A second recorder on the same data source keeps a journal of its own;
    // the first slot is free again once its holder has gone.
    const std::string first = Reopen().Path();
    CJournal second;
    std::string note;
    ASSERT_TRUE(second.Open(m_dir.Path().string(), kSource, 10, note));
    EXPECT_NE(second.Path(), first);
    EXPECT_EQ(Reopen().Path(), first);
}

} // namespace
