#include "common/Process.h"
#include "common/TempDir.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(CliList, PrintsTheReadableSensorsInFileOrder)
{
    TempDir dir;
    WriteFileBytes(dir / "conf.ini", "ZELD1\n"
                                     "b.example\t8080\t2\t0\t\xB0"
                                     "C\tHalle\t3\n"
                                     "\r\n"
                                     "kurz\t80\t1\r\n"
                                     "a.example\t65616\t1\t5\tV\tK\xC3\xBChlraum\t0x00");
    const ProcessResult result = RunProcess({TESSARO_CLI, "list", (dir / "conf.ini").string()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "b.example\t8080\t2\t1\t\xC2\xB0"
                          "C\tHalle\t0x01\n"
                          "a.example\t80\t1\t5\tV\tK\xC3\xBChlraum\t0x00\n");

    WriteFileBytes(dir / "empty.ini", "");
    const ProcessResult empty = RunProcess({TESSARO_CLI, "list", (dir / "empty.ini").string()});
    EXPECT_EQ(empty.exitCode, 0);
    EXPECT_EQ(empty.out, "");
}

TEST(CliList, ReportsBadFilesAndBadUsage)
{
    TempDir dir;
    WriteFileBytes(dir / "lower.ini", "zeld1\r\nh\t80\t1\t1\t\t\t0x00\r\n");
    const ProcessResult bad = RunProcess({TESSARO_CLI, "list", (dir / "lower.ini").string()});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err, "Die ausgewählte Datei entspricht nicht dem erwarteten Format.\n");

    const ProcessResult missing = RunProcess({TESSARO_CLI, "list", (dir / "missing.ini").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find(std::strerror(ENOENT)), std::string::npos) << missing.err;

    // Neither endless nor never-ending input: a failure that names the file.
    ASSERT_EQ(mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
    for (const std::string& path : {std::string("/dev/zero"), (dir / "fifo.ini").string()})
    {
        const ProcessResult odd =
            RunProcess({TESSARO_CLI, "list", path}, {}, std::chrono::seconds(10));
        EXPECT_EQ(odd.exitCode, 1) << path;
        EXPECT_EQ(odd.out, "");
        EXPECT_TRUE(odd.err.starts_with("tessaro-cli: " + path + ": ")) << odd.err;
    }

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{TESSARO_CLI, "list"},
          {TESSARO_CLI, "list", (dir / "lower.ini").string(), "extra"}})
    {
        const ProcessResult usage = RunProcess(args);
        EXPECT_EQ(usage.exitCode, 2);
        EXPECT_EQ(usage.out, "");
        EXPECT_NE(usage.err.find("usage"), std::string::npos) << usage.err;
    }
}
