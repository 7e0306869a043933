#include "common/Process.h"

#include <gtest/gtest.h>
#include <string>

namespace
{

ProcessResult Parse(const std::string& input)
{
    return RunProcess({TESSARO_CLI, "parse"}, input);
}

} // namespace

TEST(CliParse, PrintsNameAndSlotsOfEachReply)
{
    const ProcessResult result = Parse("10.0.0.5;Lager &amp; Technik;21.5\260C;-\260C;45,0%;\r\n"
                                       "\n"
                                       "-12,5 \xC2\260C;abc");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "name\tLager & Technik\n"
                          "0\t21.5\t1\t\xC2\260C\n"
                          "1\t0\t0\t\xC2\260C\n"
                          "2\t45\t1\t%\n"
                          "\n"
                          "name\t\n"
                          "\n"
                          "name\t\n"
                          "0\t-12.5\t1\t\xC2\260C\n"
                          "1\t0\t0\tabc\n"
                          "\n");
    EXPECT_EQ(result.err, "");
}

TEST(CliParse, ReplyIsCutAndEscapedLikeTheConnectionSeesIt)
{
    // Only the first 199 bytes of a reply count: one more filler byte
    // pushes the unit of the last field out.
    const std::string fits = "1V;" + std::string(190, 'x') + ";21.5V";
    const std::string tooLong = "1V;" + std::string(191, 'x') + ";21.5V";
    const ProcessResult cut = Parse(fits + "\n" + tooLong + "\n");
    ASSERT_EQ(cut.exitCode, 0) << cut.err;
    const std::string start = "name\t\n0\t1\t1\tV\n1\t0\t0\txxxx\n";
    EXPECT_EQ(cut.out, start + "2\t21.5\t1\tV\n\n" + start + "2\t21.5\t1\t\n\n");

    // Only the CR right before the LF ends the line; control bytes in a
    // unit or name are escaped, a single-byte name character is decoded.
    const ProcessResult escaped = Parse("1.2.3.4;Ger\xE4t\\1;5,5 V;\r\r\n5\tC;\x01;\\\n");
    ASSERT_EQ(escaped.exitCode, 0) << escaped.err;
    EXPECT_EQ(escaped.out, "name\tGer\xC3\xA4t\\\\1\n0\t5.5\t1\tV\n1\t0\t0\t\\r\n\n"
                           "name\t\n0\t5\t1\t\\tC\n1\t0\t0\t\\x01\n2\t0\t0\t\\\\\n\n");
}

TEST(CliParse, UsageAndEmptyInput)
{
    const ProcessResult extra = RunProcess({TESSARO_CLI, "parse", "reply.txt"}, "21.5V\n");
    EXPECT_EQ(extra.exitCode, 2);
    EXPECT_EQ(extra.out, "");
    EXPECT_NE(extra.err.find("usage"), std::string::npos);

    const ProcessResult empty = Parse("");
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.out, "");
}
