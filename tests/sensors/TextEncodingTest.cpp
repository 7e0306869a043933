#include "sensors/TextEncoding.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(DecodeLegacyText("\xB0"
                               "C"),
              "\xC2\xB0"
              "C"); // degree sign
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
