#include "common/Process.h"
#include "common/TempDir.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(CliList, PrintsTheReadableSensorsInFileOrder)
{
    TempDir dir;
    WriteFileBytes(dir / "conf.ini",
                   "ZELD1\nb.example\t8080\t2\t0\t\260C\tHalle\t3\n\r\nkurz\t80\t1\r\n"
                   "a.example\t65616\t1\t5\tV\tK\xC3\xBChlraum\t0x00");
    WriteFileBytes(dir / "empty.ini", "");
    for (const auto& [file, out] :
         {std::pair<std::string, std::string>("conf.ini",
                                              "b.example\t8080\t2\t1\t°C\tHalle\t0x01\n"
                                              "a.example\t80\t1\t5\tV\tK\xC3\xBChlraum\t0x00\n"),
          {"empty.ini", ""}})
    {
        const ProcessResult result = RunProcess({TESSARO_CLI, "list", (dir / file).string()});
        EXPECT_EQ(result.exitCode, 0) << file;
        EXPECT_EQ(result.err, "") << file;
        EXPECT_EQ(result.out, out) << file;
    }
}

TEST(CliList, ReportsBadFilesAndBadUsage)
{
    TempDir dir;
    WriteFileBytes(dir / "lower.ini", "zeld1\r\nh\t80\t1\t1\t\t\t0x00\r\n");
    ExpectUsageErrors({TESSARO_CLI, "list"}, {{(dir / "lower.ini").string()}},
                      "Die ausgewählte Datei entspricht nicht dem erwarteten Format.\n");
    ExpectUsageErrors({TESSARO_CLI, "list"}, {{}, {(dir / "lower.ini").string(), "extra"}},
                      "usage");

    // Neither a missing file, nor endless or never-ending input: a failure
    // that names the file and why.
    ASSERT_EQ(mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
    for (const auto& [path, reason] : {std::pair<std::string, std::string>(
                                           (dir / "missing.ini").string(), std::strerror(ENOENT)),
                                       {"/dev/zero", ""},
                                       {(dir / "fifo.ini").string(), ""}})
    {
        const ProcessResult odd =
            RunProcess({TESSARO_CLI, "list", path}, {}, std::chrono::seconds(10));
        EXPECT_EQ(odd.exitCode, 1) << path;
        EXPECT_EQ(odd.out, "");
        EXPECT_TRUE(odd.err.starts_with("tessaro-cli: " + path + ": " + reason)) << odd.err;
    }
}
