#include "OrbelDoc.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace
{

class DeleteUndo : public ::testing::Test
{
protected:
    DeleteUndo()
    {
        for (const char* name : {"a", "b", "c", "d"})
        {
            auto record = std::make_unique<CSensor>();
            record->m_strAddress = name;
            doc.AddSensor(record, true);
        }
    }
    CSensor* At(const std::string& address)
    {
        for (const auto& record : doc.m_sensors)
            if (record->m_strAddress == address)
                return record.get();
        ADD_FAILURE() << address << " is not in the list";
        return nullptr;
    }
    static std::string Names(const SensorList& list)
    {
        std::string names;
        for (const auto& record : list)
            names += record->m_strAddress;
        return names;
    }
    static std::string Names(const std::vector<CSensor*>& records)
    {
        std::string names;
        for (const CSensor* record : records)
            names += record->m_strAddress;
        return names;
    }
    // Removes the named records of the list, given in this order, clearing
    // the modified flag first.
    int Remove(const std::string& names, bool keep)
    {
        std::vector<CSensor*> records;
        for (const char name : names)
            records.push_back(At(std::string(1, name)));
        doc.SetModifiedFlag(false);
        return doc.RemoveSensors(records, keep);
    }
    std::string Undo()
    {
        doc.SetModifiedFlag(false);
        return Names(doc.UndoDelete());
    }

    COrbelDoc doc;
};

} // namespace

TEST_F(DeleteUndo, UndoGivesBackOneDeletionAfterTheOtherNewestFirst)
{
    EXPECT_FALSE(doc.CanUndoDelete());
    EXPECT_EQ(Remove("a", true), 1);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(Remove("cb", true), 2);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(Names(doc.m_sensors), "d");
    EXPECT_EQ(Names(doc.m_deleted), "acb");
    EXPECT_EQ(doc.m_nNextBatch, 2);
    EXPECT_TRUE(doc.CanUndoDelete());

    // Restored records are appended, in the order they were deleted in.
    EXPECT_EQ(Undo(), "cb");
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(Names(doc.m_sensors), "dcb");
    EXPECT_EQ(doc.m_nNextBatch, 1);
    EXPECT_TRUE(doc.CanUndoDelete());
    EXPECT_EQ(Undo(), "a");
    EXPECT_EQ(Names(doc.m_sensors), "dcba");
    EXPECT_EQ(doc.m_nNextBatch, 0);
    EXPECT_FALSE(doc.CanUndoDelete());

    EXPECT_EQ(Undo(), "");
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(Names(doc.m_sensors), "dcba");
    EXPECT_EQ(doc.m_nNextBatch, 0);

    // Numbers are reused once their batch is back.
    EXPECT_EQ(Remove("d", true), 1);
    EXPECT_EQ(doc.m_deleted.front()->m_nDeleteBatch, 0);
    EXPECT_EQ(Undo(), "d");
}

TEST_F(DeleteUndo, CutRecordsAreGoneForGood)
{
    EXPECT_EQ(Remove("b", true), 1);
    EXPECT_EQ(Remove("ac", false), 2);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(Names(doc.m_sensors), "d");
    EXPECT_EQ(Names(doc.m_deleted), "b");
    EXPECT_EQ(doc.m_nNextBatch, 1);
    EXPECT_EQ(Undo(), "b");
    EXPECT_FALSE(doc.CanUndoDelete());
    EXPECT_EQ(Names(doc.m_sensors), "db");

    // A cut without a delete before it leaves nothing to undo.
    EXPECT_EQ(Remove("d", false), 1);
    EXPECT_FALSE(doc.CanUndoDelete());
    EXPECT_EQ(Names(doc.m_sensors), "b");
}

TEST_F(DeleteUndo, RecordsOutsideTheListArePassedOver)
{
    CSensor stranger;
    CSensor* const a = At("a");
    CSensor* const b = At("b");
    const std::vector<CSensor*> twice{a, &stranger, a, nullptr, b};
    doc.SetModifiedFlag(false);
    EXPECT_EQ(doc.RemoveSensors(twice, true), 2);
    EXPECT_EQ(Names(doc.m_deleted), "ab");

    // Nothing removed: no empty batch, and the document stays unmodified.
    const std::vector<CSensor*> gone{a, &stranger};
    for (bool keep : {true, false})
    {
        doc.SetModifiedFlag(false);
        EXPECT_EQ(doc.RemoveSensors(gone, keep), 0);
        EXPECT_FALSE(doc.IsModified());
        EXPECT_EQ(doc.m_nNextBatch, 1);
        EXPECT_EQ(Names(doc.m_deleted), "ab");
    }
    EXPECT_EQ(doc.RemoveSensors({}, true), 0);
    EXPECT_EQ(doc.m_nNextBatch, 1);
    EXPECT_EQ(Undo(), "ab");
}

TEST_F(DeleteUndo, NewAndOpenForgetTheDeletedRecords)
{
    Remove("a", true);
    Remove("b", true);
    doc.OnNewDocument();
    EXPECT_FALSE(doc.CanUndoDelete());
    EXPECT_EQ(doc.m_nNextBatch, 0);
    EXPECT_EQ(Undo(), "");

    const TempDir dir;
    WriteFileBytes(dir / "conf.ini", "ZELD1\r\nx\t80\t1\t1\t\t\t0\r\ny\t80\t1\t1\t\t\t0\r\n");
    std::string error;
    ASSERT_TRUE(doc.OnOpenDocument(dir / "conf.ini", error)) << error;
    Remove("x", true);
    ASSERT_TRUE(doc.OnOpenDocument(dir / "conf.ini", error)) << error;
    EXPECT_FALSE(doc.CanUndoDelete());
    EXPECT_EQ(doc.m_nNextBatch, 0);
    // The batches start again at 0.
    Remove("y", true);
    EXPECT_EQ(doc.m_deleted.front()->m_nDeleteBatch, 0);
    EXPECT_EQ(Undo(), "y");
    EXPECT_EQ(Names(doc.m_sensors), "xy");
}
