#include "ClipboardText.h"

#include "OrbelDoc.h"

#include <gtest/gtest.h>

namespace
{

const std::string kA = "a.example\t80\t1\t5\tV\tErster\t0x00";
const std::string kB = "b.example\t8080\t2\t1\t°C\tZweiter\t0x01";
const std::string kC = "10.0.0.7\t80\t3\t15\t\t\t0x00";

std::unique_ptr<CSensor> Record(const std::string& line)
{
    auto sensor = std::make_unique<CSensor>();
    EXPECT_TRUE(sensor->ParseLine(line)) << line;
    return sensor;
}

// The text form of each pasted record, one per line.
std::string Lines(const std::optional<std::vector<std::unique_ptr<CSensor>>>& records)
{
    std::string lines;
    if (records)
        for (const auto& record : *records)
            lines += record->FormatLine() + "\n";
    return lines;
}

std::string Lines(COrbelDoc& doc)
{
    std::string lines;
    for (const auto& sensor : doc.m_sensors)
        lines += sensor->FormatLine() + "\n";
    return lines;
}

} // namespace

TEST(ClipboardText, CopiedRecordsPasteBackInDisplayOrder)
{
    auto a = Record(kA);
    auto b = Record(kB);
    auto c = Record(kC);
    // Display order, not creation order.
    const std::vector<CSensor*> shown{c.get(), a.get(), b.get()};
    const std::string text = FormatClipboardText(shown);
    EXPECT_EQ(text, "ZELD1\r\n" + kC + "\r\n" + kA + "\r\n" + kB + "\r\n");

    COrbelDoc doc;
    auto pasted = ParseClipboardText(text);
    ASSERT_TRUE(pasted.has_value());
    for (auto& record : *pasted)
        EXPECT_TRUE(doc.AddSensor(record, true));
    EXPECT_EQ(Lines(doc), kC + "\n" + kA + "\n" + kB + "\n");

    // An empty selection still copies as sensor text, which pastes nothing.
    EXPECT_EQ(FormatClipboardText({}), "ZELD1\r\n");
    const auto none = ParseClipboardText("ZELD1\r\n");
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->empty());
}

TEST(ClipboardText, TextWithoutTheMagicLineIsNoSensorText)
{
    for (const std::string& text : std::vector<std::string>{
             std::string(), "ZELD1\n" + kA + "\n", "ZELD1\n" + kA + "\r\n", "zeld1\r\n" + kA,
             "ZELD1\r" + kA, " ZELD1\r\n" + kA, "ZELD1 \r\n" + kA, "ZELD1", "ZELD1\r",
             std::string("\0ZELD1\r\n", 8) + kA, std::string("ZELD1\0\r\n", 8) + kA, kA})
        EXPECT_FALSE(ParseClipboardText(text).has_value()) << text;

    // The text ends at its first NUL.
    EXPECT_EQ(Lines(ParseClipboardText("ZELD1\r\n" + kA + "\r\n" + std::string(1, '\0') + kB)),
              kA + "\n");
    EXPECT_EQ(Lines(ParseClipboardText("ZELD1\r\n" + kA.substr(0, 5) + std::string(1, '\0') +
                                       kA.substr(5))),
              "");
}

TEST(ClipboardText, SavedConfigurationPastesWholeDuplicatesIncluded)
{
    COrbelDoc doc;
    for (const std::string& line : {kA, kB, kA})
    {
        auto record = Record(line);
        doc.AddSensor(record, true);
    }
    const std::string file = doc.Serialize();
    auto pasted = ParseClipboardText(file);
    ASSERT_TRUE(pasted.has_value());
    ASSERT_EQ(pasted->size(), 3u);
    for (auto& record : *pasted)
        EXPECT_TRUE(doc.AddSensor(record, true));
    EXPECT_EQ(Lines(doc), kA + "\n" + kB + "\n" + kA + "\n" + kA + "\n" + kB + "\n" + kA + "\n");
}

TEST(ClipboardText, LineWalkSkipsBlankAndShortLinesAndLeadingBlanksOfLaterLines)
{
    // Blank lines, a six-field line, a line with only white space; a skipped
    // line leaves nothing behind in the record that the next line fills.
    EXPECT_EQ(Lines(ParseClipboardText("ZELD1\r\n\r\n\r\n" + kA + "\r\nsechs\t81\t9\t9\tu\td\r\n" +
                                       " \t \r\n" + kB + "\r\n\r\n")),
              kA + "\n" + kB + "\n");
    // The last line needs no line end; LF alone ends a line after the magic.
    EXPECT_EQ(Lines(ParseClipboardText("ZELD1\r\n" + kA + "\n" + kB + "\r\n" + kC)),
              kA + "\n" + kB + "\n" + kC + "\n");
    // Blanks and TABs in front of every line after the first are dropped.
    EXPECT_EQ(Lines(ParseClipboardText("ZELD1\r\n" + kA + "\r\n  \t" + kB + "\r\n\t " + kC)),
              kA + "\n" + kB + "\n" + kC + "\n");

    // So an empty address loads only on the first line: on a later line its
    // TAB is dropped with the blanks, and the six fields left are too few.
    const std::string noAddress = "\t80\t4\t1\tV\tohne Adresse\t0x00";
    EXPECT_EQ(Lines(ParseClipboardText("ZELD1\r\n" + noAddress + "\r\n" + noAddress + "\r\n" + kA)),
              noAddress + "\n" + kA + "\n");
    // With an eighth field the same line loads, every field one place to the left.
    EXPECT_EQ(Lines(ParseClipboardText("ZELD1\r\n" + kA + "\r\n" + noAddress + "\t0x01")),
              kA + "\n" + "80\t4\t1\t1\tohne Adresse\t0x00\t0x01\n");
}

TEST(ClipboardText, TextOfOtherProgramsIsReadAsUtf8OrElseWindows1252)
{
    EXPECT_EQ(Lines(ParseClipboardText("ZELD1\r\nh\t80\t1\t1\t\xB0"
                                       "C\tPreis in \x80\t0\r\nGerät\t80\t2\t1\tm³\tKühlraum\t1")),
              "h\t80\t1\t1\t°C\tPreis in €\t0x00\nGerät\t80\t2\t1\tm³\tKühlraum\t0x01\n");
}
