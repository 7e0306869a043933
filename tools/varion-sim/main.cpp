#include "varion-sim/SimOptions.h"
#include "varion-sim/Simulator.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    CSimOptions options;
    std::string error;
    if (!ParseSimOptions(argc, argv, options, error))
    {
        std::fprintf(stderr, "varion-sim: %s\n(see varion-sim --help)\n", error.c_str());
        return 2;
    }
    if (options.help || options.version)
    {
        if (options.help)
            std::fputs(kSimUsage, stdout);
        else
            std::printf("varion-sim %s\n", TESSARO_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    // Thousands of devices, each with a listener and its clients.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max)
    {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    // A client or reader that went away must not end the simulator.
    std::signal(SIGPIPE, SIG_IGN);

    CSimulator simulator(options);
    if (!simulator.Open(error))
    {
        std::fprintf(stderr, "varion-sim: %s\n", error.c_str());
        return 1;
    }
    simulator.Run();
    return 0;
}
