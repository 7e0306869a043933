#include "common/Process.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace
{

struct OptionCase
{
    std::vector<std::string> argv;
    int exitCode;
    // Expected in stdout when exitCode is 0 (stderr then stays empty of the
    // program's own words), else in stderr (stdout then stays empty).
    std::string said;
};

TEST(ProgramOptions, HelpAndVersionGoToStdoutAndUnknownOptionsAreNamed)
{
    const std::string version = TESSARO_VERSION;
    // The desktop program answers its own options without a window system
    // (there is none by that name); Qt's come with one.
    const std::vector<std::string> noDisplay = {"/usr/bin/env", "QT_QPA_PLATFORM=nowhere",
                                                TESSARO_DESKTOP};
    const auto desktop = [&](std::vector<std::string> args)
    {
        args.insert(args.begin(), noDisplay.begin(), noDisplay.end());
        return args;
    };
    const std::vector<OptionCase> cases = {
        {{TESSARO_CLI, "--help"}, 0, "usage: tessaro-cli COMMAND [ARGS]\n"},
        {{TESSARO_CLI, "--version"}, 0, "tessaro-cli " + version + "\n"},
        {{TESSARO_CLI, "export-series", "a.ini", "--help"},
         0,
         "usage: tessaro-cli export-series FILE INDEX OUT [--days N] [--dsn NAME] [--user NAME] "
         "[--db-timeout SECONDS]\n"},
        {{TESSARO_CLI, "db", "--help"}, 0, "       tessaro-cli db check [--dsn NAME]"},
        // A value is never taken for an option.
        {{TESSARO_CLI, "export-series", "--dsn", "--help"}, 2, "usage: tessaro-cli export"},
        {{TESSARO_CLI, "list", "--colour", "red"}, 2, "list: unknown option '--colour'"},
        {{TESSARO_CLI, "--bogus"}, 2, "unknown option '--bogus'"},
        {desktop({"--help"}), 0, "Aufruf: tessaro [DATEI]\n"},
        {desktop({"x.ini", "--version"}), 0, "tessaro " + version + "\n"},
        {desktop({"x.ini", "--bogus"}), 2, "unbekannte Option '--bogus'"},
        {{"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", TESSARO_DESKTOP, "-bogus"},
         2,
         "unbekannte Option '-bogus'"},
        {{VARION_SIM, "--version"}, 0, "varion-sim " + version + "\n"},
        {{VARION_SIM, "--help", "--device", "nonsense"}, 0, "usage: varion-sim"},
        {{VARION_SIM, "--bogus"}, 2, "unknown option '--bogus'"},
    };
    for (const OptionCase& test : cases)
    {
        const std::string call = ::testing::PrintToString(test.argv);
        const ProcessResult result = RunProcess(test.argv);
        EXPECT_EQ(result.exitCode, test.exitCode) << call << result.err;
        if (test.exitCode == 0)
        {
            EXPECT_NE(result.out.find(test.said), std::string::npos) << call << result.out;
            EXPECT_EQ(result.err.find("tessaro"), std::string::npos) << call << result.err;
        }
        else
        {
            EXPECT_NE(result.err.find(test.said), std::string::npos) << call << result.err;
            EXPECT_EQ(result.out, "") << call;
        }
    }

    // Where stderr is the journal, every line of an error carries its level;
    // a journal named for another file (here stdout) leaves them plain.
    for (const int fd : {2, 1})
    {
        const ProcessResult result =
            RunProcess({"/bin/sh", "-c",
                        "export JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/" +
                            std::to_string(fd) + "); exec \"$0\" --bogus",
                        TESSARO_CLI});
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_NE(result.err.find("tessaro-cli: unknown option '--bogus'\n"), std::string::npos)
            << result.err;
        std::istringstream lines(result.err);
        for (std::string line; std::getline(lines, line);)
            EXPECT_EQ(line.starts_with("<3>"), fd == 2) << line;
    }

    // Each command answers --help itself, without doing its work.
    for (const char* command : {"list", "parse", "poll", "db", "record", "query", "scan",
                                "export-series", "export-summary", "stats", "import"})
    {
        const ProcessResult result = RunProcess({TESSARO_CLI, command, "--help"});
        EXPECT_EQ(result.exitCode, 0) << command << result.err;
        EXPECT_EQ(result.out.rfind(std::string("usage: tessaro-cli ") + command, 0), 0u)
            << result.out;
    }
}

} // namespace
