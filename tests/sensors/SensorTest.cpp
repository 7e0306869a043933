#include "Sensor.h"

#include "ChannelList.h"

#include <climits>
#include <gtest/gtest.h>

namespace
{

CSensor Parsed(std::string_view line)
{
    CSensor sensor;
    EXPECT_TRUE(sensor.ParseLine(line)) << line;
    return sensor;
}

// FindChannel never looks behind the pointer, so any distinct address will do.
CSensorChannel* FakeChannel(int& slot)
{
    return reinterpret_cast<CSensorChannel*>(&slot);
}

class ChannelListGuard : public ::testing::Test
{
protected:
    void TearDown() override
    {
        while (!CChannelList::Entries().empty())
            CChannelList::Remove(CChannelList::Entries().front().pChannel);
    }
};

} // namespace

TEST(SensorLine, FormatWritesSevenFieldsInOrder)
{
    CSensor sensor;
    sensor.m_strAddress = "10.0.0.7";
    sensor.m_nSensorNo = 3;
    sensor.m_nInterval = 15;
    EXPECT_EQ(sensor.FormatLine(), "10.0.0.7\t80\t3\t15\t\t\t0x00");

    sensor.m_strAddress = "Gerät.local";
    sensor.m_nPort = 65535;
    sensor.m_nSensorNo = -2;
    sensor.m_strUnit = "°C";
    sensor.m_strDescription = "Halle 2, Nord";
    sensor.m_bDisabled = true;
    EXPECT_EQ(sensor.FormatLine(), "Gerät.local\t65535\t-2\t15\t°C\tHalle 2, Nord\t0x01");
}

TEST(SensorLine, FieldCounting)
{
    CSensor sensor;
    sensor.m_strAddress = "keep";
    sensor.m_nSensorNo = 9;
    int slot = 0;
    sensor.m_pChannel = FakeChannel(slot);
    EXPECT_FALSE(sensor.ParseLine(""));
    EXPECT_EQ(sensor.m_pChannel, nullptr);
    EXPECT_EQ(sensor.m_strAddress, "keep");
    EXPECT_EQ(sensor.m_nSensorNo, 9);

    // A trailing TAB leaves no empty seventh field behind.
    EXPECT_FALSE(sensor.ParseLine("host\t81\t4\t5\tkW\tOfen\t"));
    EXPECT_EQ(sensor.m_strAddress, "host");
    EXPECT_EQ(sensor.m_nPort, 81);
    EXPECT_EQ(sensor.m_strDescription, "Ofen");
    // Fields a short line does not reach keep their values.
    EXPECT_FALSE(sensor.ParseLine("other\t82"));
    EXPECT_EQ(sensor.m_strAddress, "other");
    EXPECT_EQ(sensor.m_nPort, 82);
    EXPECT_EQ(sensor.m_nSensorNo, 4);
    EXPECT_EQ(sensor.m_strUnit, "kW");
    EXPECT_FALSE(sensor.ParseLine("\t\t\t\t\t\t"));

    CSensor empty = Parsed("\t\t\t\t\t\t\t");
    EXPECT_EQ(empty.m_strAddress, "");
    EXPECT_EQ(empty.m_nPort, 0);
    EXPECT_EQ(empty.m_nInterval, 1);

    CSensor texts = Parsed("h\t80\t1\t2\t\t\t0x01");
    EXPECT_EQ(texts.m_strUnit, "");
    EXPECT_EQ(texts.m_strDescription, "");
    EXPECT_TRUE(texts.m_bDisabled);

    CSensor extra = Parsed("h\t80\t1\t2\tu\td\t0x01\t0x00\tmore\t");
    EXPECT_EQ(extra.m_strDescription, "d");
    EXPECT_TRUE(extra.m_bDisabled);
}

TEST(SensorLine, Numbers)
{
    const struct
    {
        std::string_view field;
        int value;
    } integers[] = {{"12", 12},
                    {" \v\r+7", 7},
                    {"-5", -5},
                    {"12abc", 12},
                    {"abc", 0},
                    {"", 0},
                    {"- 3", 0},
                    {"0x10", 0},
                    {"2147483647", INT_MAX},
                    {"99999999999", INT_MAX},
                    {"-2147483648", INT_MIN},
                    {"-99999999999", INT_MIN}};
    for (const auto& c : integers)
        EXPECT_EQ(Parsed("h\t80\t" + std::string(c.field) + "\t1\t\t\t0").m_nSensorNo, c.value)
            << c.field;

    const struct
    {
        std::string_view field;
        int port;
    } ports[] = {{"65616", 80}, {"65535", 65535}, {"65536", 0},
                 {"-1", 65535}, {"http", 0},      {"99999999999", 65535}};
    for (const auto& c : ports)
        EXPECT_EQ(Parsed("h\t" + std::string(c.field) + "\t1\t1\t\t\t0").m_nPort, c.port)
            << c.field;

    for (std::string_view interval : {"0", "-3", "x", "-99999999999"})
        EXPECT_EQ(Parsed("h\t80\t1\t" + std::string(interval) + "\t\t\t0").m_nInterval, 1)
            << interval;

    const struct
    {
        std::string_view field;
        bool disabled;
    } flags[] = {{"0x01", true}, {"0x00", false}, {"0x02", false}, {"0x03", true},
                 {"1", true},    {"", false},     {"0X0B", true},  {" f", true},
                 {"0xg", false}, {"-0x1", true},  {"zz", false}};
    for (const auto& c : flags)
        // An eighth field lets the flag field be empty.
        EXPECT_EQ(Parsed("h\t80\t1\t1\t\t\t" + std::string(c.field) + "\tx").m_bDisabled,
                  c.disabled)
            << c.field;
}

TEST(SensorLine, RoundTripReproducesConfiguredFields)
{
    CSensor reused;
    EXPECT_FALSE(reused.ParseLine("leftover\t1\t2"));
    for (const auto& [address, port, no, interval, unit, text, disabled] :
         {std::tuple{"10.0.0.7", 80, 3, 15, "", "", false},
          {"SENSOR-Box.example", 65535, -7, INT_MAX, "m³/h", "Zähler \"alt\"; Keller", true},
          {"", 0, INT_MIN, 1, " ", "  leading and trailing  ", false}})
    {
        CSensor original;
        original.m_strAddress = address;
        original.m_nPort = static_cast<std::uint16_t>(port);
        original.m_nSensorNo = no;
        original.m_nInterval = interval;
        original.m_strUnit = unit;
        original.m_strDescription = text;
        original.m_bDisabled = disabled;
        CSensor fresh;
        for (CSensor* copy : {&fresh, &reused})
        {
            ASSERT_TRUE(copy->ParseLine(original.FormatLine()));
            EXPECT_EQ(copy->m_strAddress, address);
            EXPECT_EQ(copy->m_nPort, port);
            EXPECT_EQ(copy->m_nSensorNo, no);
            EXPECT_EQ(copy->m_nInterval, interval);
            EXPECT_EQ(copy->m_strUnit, unit);
            EXPECT_EQ(copy->m_strDescription, text);
            EXPECT_EQ(copy->m_bDisabled, disabled);
        }
    }
}

TEST(SensorPoint, SamePointIgnoresAsciiCaseAndOtherFields)
{
    CSensor a = Parsed("Mess-Box.LOCAL\t80\t2\t1\tV\tA\t0x00");
    EXPECT_TRUE(a.IsSamePoint(Parsed("mess-box.local\t80\t2\t60\t°C\tB\t0x01")));
    EXPECT_FALSE(a.IsSamePoint(Parsed("mess-box.local\t80\t3\t1\tV\tA\t0x00")));
    EXPECT_FALSE(a.IsSamePoint(Parsed("mess-box.local\t8080\t2\t1\tV\tA\t0x00")));
    EXPECT_FALSE(a.IsSamePoint(Parsed("mess-box.local2\t80\t2\t1\tV\tA\t0x00")));
    EXPECT_FALSE(a.IsSamePoint(Parsed("mess-box.loca\t80\t2\t1\tV\tA\t0x00")));
    // Only ASCII letters fold; other bytes must match exactly.
    EXPECT_FALSE(Parsed("GERÄT\t80\t2\t1\t\t\t0").IsSamePoint(Parsed("gerät\t80\t2\t1\t\t\t0")));
    EXPECT_TRUE(Parsed("GERäT\t80\t2\t1\t\t\t0").IsSamePoint(Parsed("gerät\t80\t2\t1\t\t\t0")));
}

TEST_F(ChannelListGuard, FindChannelTakesFirstMatchFromTheHead)
{
    CSensor record = Parsed("Box\t80\t1\t1\t\t\t0");
    EXPECT_FALSE(record.FindChannel());

    const CSensor older = Parsed("box\t80\t1\t5\t\t\t0");
    const CSensor newer = Parsed("BOX\t80\t1\t9\t\t\t0");
    const CSensor otherNo = Parsed("box\t80\t2\t1\t\t\t0");
    int slots[3];
    CChannelList::PushFront(FakeChannel(slots[0]), &older);
    CChannelList::PushFront(FakeChannel(slots[1]), &newer);
    CChannelList::PushFront(FakeChannel(slots[2]), &otherNo);
    EXPECT_TRUE(record.FindChannel());
    EXPECT_EQ(record.m_pChannel, FakeChannel(slots[1]));

    CChannelList::Remove(FakeChannel(slots[1]));
    EXPECT_TRUE(record.FindChannel());
    EXPECT_EQ(record.m_pChannel, FakeChannel(slots[0]));

    CChannelList::Remove(FakeChannel(slots[0]));
    EXPECT_FALSE(record.FindChannel());
    EXPECT_EQ(record.m_pChannel, nullptr);
    ASSERT_EQ(CChannelList::Entries().size(), 1u);
}
