#include "common/Process.h"

#include <gtest/gtest.h>
#include <string>

TEST(CliParse, PrintsNameAndSlotsOfEachReplyCutAndEscapedLikeTheConnectionSeesIt)
{
    // Only the first 199 bytes of a reply count: one more filler byte pushes
    // the unit of the last field out. Only the CR right before the LF ends
    // the line; control bytes in a unit or name are escaped, a single-byte
    // character is decoded.
    const std::string fits = "1V;" + std::string(190, 'x') + ";21.5V";
    const std::string tooLong = "1V;" + std::string(191, 'x') + ";21.5V";
    const ProcessResult result = RunProcess(
        {TESSARO_CLI, "parse"},
        "10.0.0.5;Lager &amp; Technik;21.5\260C;-\260C;45,0%;\r\n\n-12,5 \xC2\260C;abc\n" + fits +
            "\n" + tooLong + "\n1.2.3.4;Ger\xE4t\\1;5,5 V;\r\r\n5\tC;\x01;\\\n");
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string start = "name\t\n0\t1\t1\tV\n1\t0\t0\txxxx\n";
    EXPECT_EQ(result.out,
              "name\tLager & Technik\n0\t21.5\t1\t\xC2\260C\n1\t0\t0\t\xC2\260C\n"
              "2\t45\t1\t%\n\nname\t\n\nname\t\n0\t-12.5\t1\t\xC2\260C\n1\t0\t0\tabc\n\n" +
                  start + "2\t21.5\t1\tV\n\n" + start + "2\t21.5\t1\t\n\n" +
                  "name\tGer\xC3\xA4t\\\\1\n0\t5.5\t1\tV\n1\t0\t0\t\\r\n\n"
                  "name\t\n0\t5\t1\t\\tC\n1\t0\t0\t\\x01\n2\t0\t0\t\\\\\n\n");
    EXPECT_EQ(result.err, "");

    ExpectUsageErrors({TESSARO_CLI, "parse"}, {{"reply.txt"}}, "usage");
    const ProcessResult empty = RunProcess({TESSARO_CLI, "parse"});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.out, "");
}
