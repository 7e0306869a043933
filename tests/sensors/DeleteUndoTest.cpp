#include "sensors/OrbelDoc.h"
#include "common/TempDir.h"

#include <gtest/gtest.h>

namespace
{

// Records named by one-letter addresses.
class CLetterDoc : public COrbelDoc
{
public:
    explicit CLetterDoc(std::string_view letters)
    {
        for (const char letter : letters)
        {
            auto record = std::make_unique<CSensor>();
            record->m_strAddress = letter;
            AddSensor(record, true);
        }
    }
    // Removes the records of the letters, in this order, from an unmodified document.
    int Remove(std::string_view letters, bool keep)
    {
        std::vector<CSensor*> records;
        for (const char letter : letters)
            for (const auto& record : m_sensors)
                if (record->m_strAddress[0] == letter)
                    records.push_back(record.get());
        SetModifiedFlag(false);
        return RemoveSensors(records, keep);
    }
    std::string Undo()
    {
        SetModifiedFlag(false);
        std::string letters;
        for (const CSensor* record : UndoDelete())
            letters += record->m_strAddress;
        return letters;
    }
    static std::string Letters(const SensorList& list)
    {
        std::string letters;
        for (const auto& record : list)
            letters += record->m_strAddress;
        return letters;
    }
};

} // namespace

TEST(DeleteUndo, UndoGivesBackOneBatchAfterTheOtherNewestFirst)
{
    CLetterDoc doc("abcd");
    EXPECT_FALSE(doc.CanUndoDelete());
    EXPECT_EQ(doc.Remove("a", true), 1);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.Remove("cb", true), 2);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(CLetterDoc::Letters(doc.m_sensors), "d");
    EXPECT_EQ(CLetterDoc::Letters(doc.m_deleted), "acb");
    EXPECT_EQ(doc.m_nNextBatch, 2);

    // Appended again, in the order they were deleted in.
    EXPECT_EQ(doc.Undo(), "cb");
    EXPECT_TRUE(doc.IsModified());
    EXPECT_TRUE(doc.CanUndoDelete());
    EXPECT_EQ(doc.Undo(), "a");
    EXPECT_EQ(CLetterDoc::Letters(doc.m_sensors), "dcba");
    EXPECT_EQ(doc.m_nNextBatch, 0);
    EXPECT_FALSE(doc.CanUndoDelete());
    EXPECT_EQ(doc.Undo(), "");
    EXPECT_FALSE(doc.IsModified());
    EXPECT_EQ(doc.m_nNextBatch, 0);
}

TEST(DeleteUndo, CutIsForGoodAndRecordsOutsideTheListArePassedOver)
{
    CLetterDoc doc("abcd");
    doc.Remove("b", true);
    EXPECT_EQ(doc.Remove("ac", false), 2);
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(CLetterDoc::Letters(doc.m_deleted), "b");
    EXPECT_EQ(doc.m_nNextBatch, 1);
    EXPECT_EQ(doc.Undo(), "b");
    EXPECT_EQ(CLetterDoc::Letters(doc.m_sensors), "db");
    EXPECT_FALSE(doc.CanUndoDelete());

    CSensor stranger;
    CSensor* const d = doc.m_sensors.front().get();
    const std::vector<CSensor*> twice{d, &stranger, d, nullptr};
    EXPECT_EQ(doc.RemoveSensors(twice, true), 1);
    // Nothing left to remove: no empty batch, no modification.
    for (const bool keep : {true, false})
    {
        doc.SetModifiedFlag(false);
        EXPECT_EQ(doc.RemoveSensors(twice, keep), 0);
        EXPECT_FALSE(doc.IsModified());
        EXPECT_EQ(doc.m_nNextBatch, 1);
    }
    EXPECT_EQ(doc.Undo(), "d");
}

TEST(DeleteUndo, NewAndOpenForgetTheDeletedRecords)
{
    CLetterDoc doc("ab");
    doc.Remove("a", true);
    doc.Remove("b", true);
    doc.OnNewDocument();
    EXPECT_FALSE(doc.CanUndoDelete());
    EXPECT_EQ(doc.m_nNextBatch, 0);

    const TempDir dir;
    WriteFileBytes(dir / "conf.ini", "ZELD1\r\nx\t80\t1\t1\t\t\t0\r\ny\t80\t1\t1\t\t\t0\r\n");
    std::string error;
    ASSERT_TRUE(doc.OnOpenDocument(dir / "conf.ini", error)) << error;
    doc.Remove("x", true);
    ASSERT_TRUE(doc.OnOpenDocument(dir / "conf.ini", error)) << error;
    EXPECT_FALSE(doc.CanUndoDelete());
    // Batches count from 0 again.
    doc.Remove("y", true);
    EXPECT_EQ(doc.m_deleted.front()->m_nDeleteBatch, 0);
    EXPECT_EQ(doc.Undo(), "y");
    EXPECT_EQ(CLetterDoc::Letters(doc.m_sensors), "xy");
}
