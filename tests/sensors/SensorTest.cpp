#include "sensors/Sensor.h"

#include "sensors/ChannelList.h"
#include "sensors/TextEncoding.h"

#include <climits>
#include <gtest/gtest.h>
#include <vector>

namespace
{

CSensor Parsed(const std::string& line)
{
    CSensor sensor;
    EXPECT_TRUE(sensor.ParseLine(line)) << line;
    return sensor;
}

// A good line of eight fields with one field replaced.
CSensor With(size_t index, const std::string& text)
{
    std::vector<std::string> fields{"h", "80", "1", "1", "", "", "0", "x"};
    fields[index] = text;
    std::string line = fields[0];
    for (size_t i = 1; i < fields.size(); ++i)
        line += "\t" + fields[i];
    return Parsed(line);
}

} // namespace

TEST(SensorLine, FieldCounting)
{
    CSensor sensor;
    int slot = 0;
    sensor.m_pChannel = reinterpret_cast<CSensorChannel*>(&slot);
    EXPECT_FALSE(sensor.ParseLine(""));
    EXPECT_EQ(sensor.m_pChannel, nullptr);
    EXPECT_EQ(sensor.m_strAddress, "127.0.0.1");
    // A trailing TAB leaves no empty seventh field; fields a short line does not reach stay.
    EXPECT_FALSE(sensor.ParseLine("host\t81\t4\t5\tkW\tOfen\t"));
    EXPECT_FALSE(sensor.ParseLine("other\t82"));
    EXPECT_EQ(sensor.FormatLine(), "other\t82\t4\t5\tkW\tOfen\t0x00");
    EXPECT_FALSE(sensor.ParseLine("\t\t\t\t\t\t"));
    EXPECT_EQ(Parsed("\t\t\t\t\t\t\t").FormatLine(), "\t0\t0\t1\t\t\t0x00");
    EXPECT_EQ(Parsed("h\t80\t1\t2\tu\td\t0x01\t0x00\tmore\t").FormatLine(),
              "h\t80\t1\t2\tu\td\t0x01");
}

TEST(SensorLine, Numbers)
{
    EXPECT_EQ(With(2, " \v\r+7").m_nSensorNo, 7);
    EXPECT_EQ(With(2, "-5").m_nSensorNo, -5);
    EXPECT_EQ(With(2, "12abc").m_nSensorNo, 12);
    for (const char* zero : {"abc", "", "- 3", "0x10"})
        EXPECT_EQ(With(2, zero).m_nSensorNo, 0) << zero;
    // Past the 32-bit range the value saturates instead of wrapping.
    EXPECT_EQ(With(2, "99999999999").m_nSensorNo, INT_MAX);
    EXPECT_EQ(With(2, "-2147483648").m_nSensorNo, INT_MIN);
    EXPECT_EQ(With(2, "-99999999999").m_nSensorNo, INT_MIN);

    EXPECT_EQ(With(1, "65616").m_nPort, 80);
    EXPECT_EQ(With(1, "-1").m_nPort, 65535);
    EXPECT_EQ(With(1, "http").m_nPort, 0);
    EXPECT_EQ(With(1, "99999999999").m_nPort, 65535);
    for (const char* low : {"0", "-3", "x", "-99999999999"})
        EXPECT_EQ(With(3, low).m_nInterval, 1) << low;
    for (const char* on : {"0x01", "0x03", "1", "0X0B", " f", "-0x1"})
        EXPECT_TRUE(With(6, on).m_bDisabled) << on;
    for (const char* off : {"0x00", "0x02", "", "0xg", "zz"})
        EXPECT_FALSE(With(6, off).m_bDisabled) << off;
}

TEST(SensorLine, FormatAndRoundTrip)
{
    CSensor plain;
    plain.m_strAddress = "10.0.0.7";
    plain.m_nSensorNo = 3;
    plain.m_nInterval = 15;
    EXPECT_EQ(plain.FormatLine(), "10.0.0.7\t80\t3\t15\t\t\t0x00");
    CSensor odd;
    odd.m_strAddress = "Gerät.local";
    odd.m_nPort = 65535;
    odd.m_nSensorNo = INT_MIN;
    odd.m_nInterval = INT_MAX;
    odd.m_strUnit = "m³/h";
    odd.m_strDescription = " Zähler \"alt\"; Keller ";
    odd.m_bDisabled = true;
    EXPECT_EQ(odd.FormatLine(),
              "Gerät.local\t65535\t-2147483648\t2147483647\tm³/h\t Zähler \"alt\"; Keller \t0x01");

    CSensor reused;
    EXPECT_FALSE(reused.ParseLine("leftover\t1\t2"));
    for (CSensor* original : {&plain, &odd})
    {
        const std::string line = original->FormatLine();
        ASSERT_TRUE(reused.ParseLine(line));
        EXPECT_EQ(reused.FormatLine(), line);
    }
}

TEST(SensorPoint, SamePointIgnoresAsciiCaseAndOtherFields)
{
    const CSensor a = Parsed("Mess-Box.LOCAL\t80\t2\t1\tV\tA\t0x00");
    EXPECT_TRUE(a.IsSamePoint(Parsed("mess-box.local\t80\t2\t60\t°C\tB\t0x01")));
    for (const char* other : {"mess-box.local\t80\t3", "mess-box.local\t8080\t2",
                              "mess-box.local2\t80\t2", "mess-box.loca\t80\t2"})
        EXPECT_FALSE(a.IsSamePoint(Parsed(other + std::string("\t1\tV\tA\t0x00")))) << other;
    // Only ASCII letters fold; other bytes must match exactly.
    EXPECT_FALSE(Parsed("GERÄT\t80\t2\t1\t\t\t0").IsSamePoint(Parsed("gerät\t80\t2\t1\t\t\t0")));
    EXPECT_TRUE(Parsed("GERäT\t80\t2\t1\t\t\t0").IsSamePoint(Parsed("gerät\t80\t2\t1\t\t\t0")));
}

TEST(SensorPoint, FindChannelTakesFirstMatchFromTheHead)
{
    CSensor record = Parsed("Box\t80\t1\t1\t\t\t0");
    EXPECT_FALSE(record.FindChannel());

    // FindChannel never looks behind the pointer, so any distinct address will do.
    int slots[3];
    CSensorChannel* channels[3];
    const CSensor settings[3] = {Parsed("box\t80\t1\t5\t\t\t0"), Parsed("BOX\t80\t1\t9\t\t\t0"),
                                 Parsed("box\t80\t2\t1\t\t\t0")};
    for (int i = 0; i < 3; ++i)
    {
        channels[i] = reinterpret_cast<CSensorChannel*>(&slots[i]);
        CChannelList::PushFront(channels[i], &settings[i]);
    }
    EXPECT_TRUE(record.FindChannel());
    EXPECT_EQ(record.m_pChannel, channels[1]);
    CChannelList::Remove(channels[1]);
    EXPECT_TRUE(record.FindChannel());
    EXPECT_EQ(record.m_pChannel, channels[0]);
    CChannelList::Remove(channels[0]);
    EXPECT_FALSE(record.FindChannel());
    EXPECT_EQ(record.m_pChannel, nullptr);
    CChannelList::Remove(channels[2]);
    EXPECT_TRUE(CChannelList::Entries().empty());
}

TEST(TextEncoding, Utf8Validation)
{
    for (std::string_view good :
         {"", "ZELD1\t80", "\xC2\xB0", "\xDF\xBF", "\xE0\xA0\x80", "\xEF\xBF\xBF", "\xED\x9F\xBF",
          "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF",
          "a\xE2\x82\xAC"
          "b"})
        EXPECT_TRUE(IsValidUtf8(good)) << good;
    for (std::string_view bad :
         {"\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", // overlong
          "\xED\xA0\x80", "\xED\xBF\xBF",                                             // surrogates
          "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",                             // too large
          "\xC3", "a\xE2\x82", "\xF0\x9F\x8C", "\xC3\x28", "\xE2\x28\xA1"})           // cut short
        EXPECT_FALSE(IsValidUtf8(bad)) << testing::PrintToString(bad);
}

TEST(TextEncoding, LegacyBytesBecomeUtf8)
{
    EXPECT_EQ(DecodeLegacyText("\x80"), "\xE2\x82\xAC"); // euro sign
    EXPECT_EQ(DecodeLegacyText("\260C"),
              "°C"); // degree sign
    EXPECT_EQ(DecodeLegacyText("K\xFChler"), "K\xC3\xBChler");
    EXPECT_EQ(DecodeLegacyText("\x9F\x8A"),
              "\xC5\xB8\xC5\xA0");                       // high controls that map to letters
    EXPECT_EQ(DecodeLegacyText("\x81"), "\xC2\x81");     // unassigned keeps its code point
    EXPECT_EQ(DecodeLegacyText("\xC3\xA4"), "\xC3\xA4"); // already UTF-8: untouched
    // One stray byte makes the whole text single-byte, including what looked like UTF-8.
    EXPECT_EQ(DecodeLegacyText("\xC3\xA4\xFF"), "\xC3\x83\xC2\xA4\xC3\xBF");
    EXPECT_EQ(DecodeLegacyText(std::string("a\0b", 3)), std::string("a\0b", 3));
    for (int byte = 0; byte < 256; ++byte)
        EXPECT_TRUE(IsValidUtf8(DecodeLegacyText(std::string(1, static_cast<char>(byte))))) << byte;
}
