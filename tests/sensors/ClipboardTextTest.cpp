#include "sensors/ClipboardText.h"

#include "sensors/OrbelDoc.h"

#include <gtest/gtest.h>

namespace
{

const std::string kA = "a.example\t80\t1\t5\tV\tErster\t0x00";
const std::string kB = "b.example\t8080\t2\t1\t°C\tZweiter\t0x01";
const std::string kC = "10.0.0.7\t80\t3\t15\t\t\t0x00";

// The pasted records' text forms, one a line; "-" when the text is no sensor text.
std::string Pasted(const std::string& text)
{
    const auto records = ParseClipboardText(text);
    if (!records)
        return "-";
    std::string lines;
    for (const auto& record : *records)
        lines += record->FormatLine() + "\n";
    return lines;
}

} // namespace

TEST(ClipboardText, CopiedRecordsAndSavedFilesPasteWhole)
{
    COrbelDoc doc;
    for (const std::string& line : {kA, kB, kC, kA})
    {
        auto record = std::make_unique<CSensor>();
        record->ParseLine(line);
        doc.AddSensor(record, true);
    }
    // Display order, whatever the order of creation.
    std::vector<CSensor*> shown;
    for (auto it = doc.m_sensors.rbegin(); it != std::next(doc.m_sensors.rbegin(), 3); ++it)
        shown.push_back(it->get());
    const std::string text = FormatClipboardText(shown);
    EXPECT_EQ(text, "ZELD1\r\n" + kA + "\r\n" + kC + "\r\n" + kB + "\r\n");
    EXPECT_EQ(Pasted(text), kA + "\n" + kC + "\n" + kB + "\n");
    // A saved file, duplicates included.
    EXPECT_EQ(Pasted(doc.Serialize()), kA + "\n" + kB + "\n" + kC + "\n" + kA + "\n");
    EXPECT_EQ(FormatClipboardText({}), "ZELD1\r\n");
    EXPECT_EQ(Pasted("ZELD1\r\n"), "");
}

TEST(ClipboardText, TextWithoutTheMagicLineIsNoSensorText)
{
    for (const std::string& text : std::vector<std::string>{
             "", "ZELD1\n" + kA + "\r\n", "zeld1\r\n" + kA, "ZELD1\r" + kA, " ZELD1\r\n" + kA,
             "ZELD1 \r\n" + kA, "ZELD1", std::string("ZELD1\0\r\n", 8) + kA})
        EXPECT_EQ(Pasted(text), "-") << text;
    // The text ends at its first NUL.
    EXPECT_EQ(Pasted("ZELD1\r\n" + kA + "\r\n" + std::string(1, '\0') + kB), kA + "\n");
}

TEST(ClipboardText, LineWalkSkipsBlankAndShortLinesAndLeadingBlanksOfLaterLines)
{
    // A skipped line leaves nothing behind in the record that the next one fills.
    EXPECT_EQ(Pasted("ZELD1\r\n\r\n\r\n" + kA + "\r\nsechs\t81\t9\t9\tu\td\r\n \t \r\n" + kB +
                     "\r\n\r\n"),
              kA + "\n" + kB + "\n");
    // LF alone ends a line after the magic; the last line needs no line end.
    EXPECT_EQ(Pasted("ZELD1\r\n" + kA + "\n" + kB + "\r\n\t " + kC),
              kA + "\n" + kB + "\n" + kC + "\n");

    // An empty address loads only on the first line: on a later one its TAB
    // goes with the blanks, and six fields are too few...
    const std::string noAddress = "\t80\t4\t1\tV\tohne\t0x00";
    EXPECT_EQ(Pasted("ZELD1\r\n" + noAddress + "\r\n" + noAddress + "\r\n" + kA),
              noAddress + "\n" + kA + "\n");
    // ...while eight fields load, each one place to the left.
    EXPECT_EQ(Pasted("ZELD1\r\n" + kA + "\r\n" + noAddress + "\t0x01"),
              kA + "\n80\t4\t1\t1\tohne\t0x00\t0x01\n");
}

TEST(ClipboardText, LinesThatAreNoUtf8ReadAsWindows1252)
{
    EXPECT_EQ(Pasted("ZELD1\r\nh\t80\t1\t1\t\xB0"
                     "C\tPreis in \x80\t0\r\nGerät\t80\t2\t1\tm³\tKühlraum\t1"),
              "h\t80\t1\t1\t°C\tPreis in €\t0x00\nGerät\t80\t2\t1\tm³\tKühlraum\t0x01\n");
}
