#include "net/ReplyParser.h"

#include "common/Process.h"
#include "common/TempDir.h"

#include <algorithm>
#include <array>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace
{

// The value, its validity and the unit of one slot.
using Slot = std::tuple<float, int, std::string>;

// A reply in a heap buffer of exactly its size, so that AddressSanitizer
// reports any read or write past its NUL.
class ReplyBuffer
{
public:
    explicit ReplyBuffer(const std::string& bytes)
        : m_size(bytes.size() + 1), m_data(std::make_unique<char[]>(m_size))
    {
        std::memcpy(m_data.get(), bytes.c_str(), m_size);
    }
    char* Data() { return m_data.get(); }
    std::string Text() const { return std::string(m_data.get(), m_size - 1); }
    bool Holds(const char* p) const { return p >= m_data.get() && p < m_data.get() + m_size; }

private:
    size_t m_size;
    std::unique_ptr<char[]> m_data;
};

// Walks a reply in a buffer of its size as every caller does, checking each step.
std::vector<Slot> Walk(const std::string& bytes)
{
    ReplyBuffer reply(bytes);
    std::vector<Slot> slots;
    char* at = reply.Data();
    while (slots.size() < 200)
    {
        float value = 0;
        int valid = -1;
        std::array<char, 5> unit;
        unit.fill('#');
        char* next = reply.Data();
        if (!ParseNextValue(at, &value, &valid, unit.data(), &next))
            break;
        const auto end = std::find(unit.begin(), unit.end(), '\0');
        EXPECT_NE(end, unit.end()) << "unit not terminated";
        slots.emplace_back(value, valid, std::string(unit.begin(), end));
        if (next == nullptr)
            break;
        EXPECT_TRUE(reply.Holds(next));
        EXPECT_GT(next, at);
        at = next;
    }
    return slots;
}

} // namespace

TEST(ReplyParser, WalksTheSlotsOfAReply)
{
    const std::pair<std::string, std::vector<Slot>> cases[] = {
        // Taking 21.5 turns the first comma of the line, in a later field, into a point.
        {"10.0.0.5;Lager;21.5\260C;-\260C;45,0%;",
         {{21.5f, 1, "\260C"}, {0, 0, "\260C"}, {45.0f, 1, "%"}}},
        // The bare form ends without a ';'.
        {"21.5\260C;45,0%", {{21.5f, 1, "\260C"}, {45.0f, 1, "%"}}},
        // A line break after the last ';' is one more field, without a value.
        {"10.0.0.5;Lager;21.5\260C;\r\n", {{21.5f, 1, "\260C"}, {0, 0, "\r\n"}}},
        // Fields that are no reading are passed over until the first one.
        {"10.0.0.5;Lager;5\260C;21.5\260C", {{21.5f, 1, "\260C"}}},
        {"10.0.0.5;Lager;21.5;22.5\260C", {{22.5f, 1, "\260C"}}},
        {"10.0.0.5;Lager;--- %;21.5\260C", {{0, 0, "%"}, {21.5f, 1, "\260C"}}},
        // Once the walk has begun, whole numbers count as slots of their own.
        {"10.0.0.5;SN 4711;5.V;0,5 V;5V;21.5", {{0.5f, 1, "V"}, {5.0f, 1, "V"}, {21.5f, 1, ""}}},
        // One leading minus is allowed before the digits, and the address test
        // counts points only: three points without digits are an address too.
        {"...;x;-21,5\260C", {{-21.5f, 1, "\260C"}}},
        // Four points, or anything but digits and points, make it a bare reply.
        {"1.2.3.4.5;x;7.5V", {{1.2f, 1, ""}, {0, 0, "x"}, {7.5f, 1, "V"}}},
        {"1.2.3.a;x;7.5V", {{1.2f, 1, "a"}, {0, 0, "x"}, {7.5f, 1, "V"}}},
        // A later address field starts the search again; followed by a name
        // only, it ends the walk.
        {"21.5\260C;1.2.3.4;Keller;5%;7,5%;8%",
         {{21.5f, 1, "\260C"}, {7.5f, 1, "%"}, {8.0f, 1, "%"}}},
        {"21.5\260C;1.2.3.4;Keller", {{21.5f, 1, "\260C"}}},
        // Only '-' and ' ' before the unit: no value, whatever follows.
        {"- -kg;   ;--", {{0, 0, "kg"}, {0, 0, ""}, {0, 0, ""}}},
    };
    for (const auto& [text, slots] : cases)
        EXPECT_EQ(Walk(text), slots) << text;
}

TEST(ReplyParser, NothingFoundLeavesOutputsAndLineAlone)
{
    const char* const cases[] = {
        "",
        "10.0.0.5",
        "10.0.0.5;",
        "10.0.0.5;Lager",
        "10.0.0.5;Lager;",
        "10.0.0.5;Lager;;",
        // Whole numbers, numbers without a unit, single digits and leading
        // spaces never start the values of an addressed reply.
        "10.0.0.5;Lager;5\260C;21,5;.5V;5.V;-5V; 21.5V;1,2.3V;--21,5V",
    };
    for (const char* text : cases)
    {
        ReplyBuffer reply(text);
        float value = 7.0f;
        int valid = 7;
        char unit[5] = "keep";
        char* const sentinel = reply.Data() + 1;
        char* next = sentinel;
        EXPECT_EQ(ParseNextValue(reply.Data(), &value, &valid, unit, &next), 0) << text;
        EXPECT_EQ(value, 7.0f) << text;
        EXPECT_EQ(valid, 7) << text;
        EXPECT_STREQ(unit, "keep") << text;
        EXPECT_EQ(next, sentinel) << text;
        EXPECT_EQ(reply.Text(), text) << "line changed: " << text;
    }
    float value = 7.0f;
    int valid = 7;
    char unit[5] = "keep";
    char* next = unit;
    EXPECT_EQ(ParseNextValue(nullptr, &value, &valid, unit, &next), 0);
    EXPECT_EQ(next, unit);
}

TEST(ReplyParser, OneStepOnABareField)
{
    const struct
    {
        const char* text;
        float value;
        int valid;
        const char* unit;
        int next;          // offset of the next field, -1 for none
        const char* after; // the line after the step
    } cases[] = {
        {"-12,5 \260C", -12.5f, 1, "\260C", -1, "-12.5 \260C"},
        {"21.5 Grad C", 21.5f, 1, "Grad", -1, "21.5 Grad C"},
        {"abc", 0, 0, "abc", -1, "abc"},
        {";21.5V", 0, 0, "", 1, ";21.5V"},
        // The first comma at or after the field goes, even in a later field...
        {"5 V;2,5 A;1,5 W", 5.0f, 1, "V", 4, "5 V;2.5 A;1,5 W"},
        {"1,5,5%", 1.5f, 1, "%", -1, "1.5,5%"},
        // ...but only for a value: a field without one changes nothing.
        {"- %;2,5 A", 0, 0, "%", 4, "- %;2,5 A"},
        // A comma makes it a number even without a digit; it reads as 0.
        {"-,V", 0, 1, "V", -1, "-.V"},
        // The decimal conversion follows the C library.
        {"1.5e3W", 1500.0f, 1, "e3W", -1, "1.5e3W"},
        {"2e-1V", 0.2f, 1, "e-1V", -1, "2e-1V"},
        {"7eV", 7.0f, 1, "eV", -1, "7eV"},
        {".25 A", 0.25f, 1, "A", -1, ".25 A"},
        {"5.", 5.0f, 1, "", -1, "5."},
        {"0x1A", 0.0f, 1, "x1A", -1, "0x1A"},
        {"--5 V", 0.0f, 1, "V", -1, "--5 V"},
        {" 3 h", 3.0f, 1, "h", -1, " 3 h"},
        {"1 2 3", 1.0f, 1, "", -1, "1 2 3"},
        {"1-2 m", 1.0f, 1, "m", -1, "1-2 m"},
        {"0012.50%", 12.5f, 1, "%", -1, "0012.50%"},
        {"-0.125", -0.125f, 1, "", -1, "-0.125"},
        {"1e39 V", INFINITY, 1, "e39 ", -1, "1e39 V"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.text);
        ReplyBuffer reply(c.text);
        float value = 0;
        int valid = -1;
        char unit[5] = "####";
        char* next = nullptr;
        EXPECT_EQ(ParseNextValue(reply.Data(), &value, &valid, unit, &next), 1);
        EXPECT_EQ(Slot(value, valid, unit), Slot(c.value, c.valid, c.unit));
        EXPECT_EQ(next, c.next < 0 ? nullptr : reply.Data() + c.next);
        EXPECT_EQ(reply.Text(), c.after);
    }
}

TEST(ReplyParser, ConversionIgnoresTheProcessLocale)
{
    // A German numeric locale makes the C library's own conversion stop at
    // the point; the parser must not.
    TempDir locales;
    const ProcessResult built = RunProcess({"/usr/bin/env", "localedef", "-i", "de_DE", "-f",
                                            "UTF-8", (locales / "de_DE.UTF-8").string()});
    ASSERT_EQ(setenv("LOCPATH", locales.Path().c_str(), 1), 0);
    if (built.exitCode != 0 || std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
    {
        unsetenv("LOCPATH");
        GTEST_SKIP() << "no German locale could be built: " << built.err;
    }
    const std::vector<Slot> slots = Walk("21.5\260C;45,25%");
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_FLOAT_EQ(std::get<0>(slots[0]), 21.5f);
    EXPECT_FLOAT_EQ(std::get<0>(slots[1]), 45.25f);
}

TEST(ReplyParser, DeviceName)
{
    EXPECT_STREQ(ParseDeviceName("10.0.0.5;Lager &amp; Technik;21.5\260C"), "Lager & Technik");
    EXPECT_STREQ(ParseDeviceName(";Lager;21.5\260C"), "Lager");
    EXPECT_STREQ(ParseDeviceName(" 1..2 ;Halle"), "Halle");
    // One pass from left to right; a broken entity stays as it is.
    EXPECT_STREQ(ParseDeviceName("10.0.0.5;&amp;amp;x"), "&amp");
    EXPECT_STREQ(ParseDeviceName("1;R&amp&D;x"), "R&amp&D");
    EXPECT_STREQ(ParseDeviceName("1;A&am"), "A&am");
    EXPECT_STREQ(ParseDeviceName("10.0.0.5;"), "");

    // Each call overwrites the area; no rest of a longer name stays.
    EXPECT_STREQ(ParseDeviceName("1;Langer Name"), "Langer Name");
    EXPECT_STREQ(ParseDeviceName("abc;x"), "");
    EXPECT_STREQ(ParseDeviceName("1;Lang"), "Lang");
    EXPECT_STREQ(ParseDeviceName("10.0.0.5"), "");
    EXPECT_STREQ(ParseDeviceName("10.0.0.5x;Lager"), "");
    EXPECT_STREQ(ParseDeviceName(nullptr), "");

    // At most 199 characters, counted after "&amp;" became "&".
    const std::string longName(300, 'n');
    EXPECT_EQ(std::string(ParseDeviceName(("1;" + longName).c_str())), longName.substr(0, 199));
    const std::string a196(196, 'a');
    EXPECT_EQ(std::string(ParseDeviceName(("1;" + a196 + "&amp;bcd;x").c_str())), a196 + "&bc");
    const std::string a197(197, 'a');
    EXPECT_EQ(std::string(ParseDeviceName(("1;" + a197 + "&amp;").c_str())), a197 + "&");
}

TEST(ReplyParser, NeverLeavesTheBuffer)
{
    // Every prefix of these replies, each in a buffer of exactly its size.
    const std::string replies[] = {
        "10.0.0.5;Lager &amp; Technik;5\260C;21,5\260C;-\260C;45,0%;\r\n",
        "21.5 Grad C;1.2.3.4;Keller;--- %;0,5 V;1e3",
        "...;&amp;;.5;-5V;--1,2V;1,2,3;x",
        std::string(250, '-') + "X;" + std::string(250, ','),
    };
    for (const std::string& full : replies)
    {
        for (size_t length = 0; length <= full.size(); ++length)
        {
            const std::string text = full.substr(0, length);
            ReplyBuffer forName(text);
            const std::string name = ParseDeviceName(forName.Data());
            EXPECT_LE(name.size(), 199u);
            EXPECT_EQ(forName.Text(), text);
            Walk(text);
        }
    }
    // A long field in a long line: the unit stays at four bytes.
    const std::vector<Slot> slots = Walk("1" + std::string(500, 'u'));
    ASSERT_EQ(slots.size(), 1u);
    EXPECT_EQ(std::get<2>(slots[0]), "uuuu");
}
