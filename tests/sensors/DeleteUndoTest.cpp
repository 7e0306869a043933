#include "sensors/OrbelDoc.h"

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
    // Runs one step on an unmodified document: "u" undoes, "-xy" deletes
    // the records x and y for undo, "xy" cuts them; "!x" deletes and "?x" cuts
    // x, in the list or deleted already, twice beside a stranger and a null
    // pointer. Gives what undo gave back, or how many records went.
    std::string Run(std::string_view step)
    {
        SetModifiedFlag(false);
        if (step == "u")
            return Letters(UndoDelete());
        const bool odd = step[0] == '!' || step[0] == '?';
        const bool keep = step[0] == '-' || step[0] == '!';
        CSensor stranger;
        std::vector<CSensor*> records;
        for (const char letter : step.substr(keep || odd ? 1 : 0))
            for (const SensorList* list : {&m_sensors, &m_deleted})
                for (const auto& record : *list)
                    if (record->m_strAddress[0] == letter)
                        records.push_back(record.get());
        if (odd)
            records = {records.at(0), &stranger, records.at(0), nullptr};
        return std::to_string(RemoveSensors(records, keep));
    }
    template <typename List> static std::string Letters(const List& list)
    {
        std::string letters;
        for (const auto& record : list)
            letters += record->m_strAddress;
        return letters;
    }
};

} // namespace

TEST(DeleteUndo, UndoGivesBackOneBatchAfterTheOtherNewestFirstButNeverACut)
{
    const struct
    {
        const char* step;
        const char* result;
        const char* sensors;
        const char* deleted;
        int nextBatch;
        bool modified;
    } steps[] = {
        {"-a", "1", "bcd", "a", 1, true},
        {"-cb", "2", "d", "acb", 2, true},
        // Appended again, in the order they were deleted in.
        {"u", "cb", "dcb", "a", 1, true},
        {"u", "a", "dcba", "", 0, true},
        {"u", "", "dcba", "", 0, false},
        {"-b", "1", "dca", "b", 1, true},
        {"ca", "2", "d", "b", 1, true},
        {"u", "b", "db", "", 0, true},
        // Records outside the list are passed over; nothing left to remove
        // gives no empty batch and no modification, whether kept or cut.
        {"!d", "1", "b", "d", 1, true},
        {"!d", "0", "b", "d", 1, false},
        {"?d", "0", "b", "d", 1, false},
        {"u", "d", "bd", "", 0, true},
        {"-b", "1", "d", "b", 1, true},
    };
    CLetterDoc doc("abcd");
    EXPECT_FALSE(doc.CanUndoDelete());
    for (const auto& step : steps)
    {
        SCOPED_TRACE(step.step);
        EXPECT_EQ(doc.Run(step.step), step.result);
        EXPECT_EQ(CLetterDoc::Letters(doc.m_sensors), step.sensors);
        EXPECT_EQ(CLetterDoc::Letters(doc.m_deleted), step.deleted);
        EXPECT_EQ(doc.m_nNextBatch, step.nextBatch);
        EXPECT_EQ(doc.IsModified(), step.modified);
        EXPECT_EQ(doc.CanUndoDelete(), *step.deleted != '\0');
    }
    // A new configuration starts without anything to undo.
    doc.OnNewDocument();
    EXPECT_FALSE(doc.CanUndoDelete());
    EXPECT_EQ(doc.m_nNextBatch, 0);
}
