#include "app/cli/CliCommands.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace
{

struct Command
{
    std::string_view name;
    std::string_view usage;
    int (*run)(CliArgs);
};

constexpr Command kCommands[] = {
    {"list", "list FILE            print the sensors of a configuration file", RunList},
    {"parse", "parse                read device reply lines from stdin and print their slots",
     RunParse},
    {"poll", "poll HOST PORT [--count N] [--timeout S]\n"
             "                       poll one device; print its states and each reply's slots",
     RunPoll},
    {"db",
     "db init [--dsn NAME] [--file PATH]\n"
     "                       create a data source on the embedded driver\n"
     "  db check [--dsn NAME] [--user NAME]\n"
     "                       open a data source, create missing tables, print them",
     RunDb},
    {"record",
     "record FILE [--dsn NAME] [--db-timeout SECONDS]\n"
     "                       record the configuration until SIGINT or SIGTERM; print each\n"
     "                       change of a Status cell and each row written or buffered",
     RunRecord},
    {"query", "query HOST[:PORT]    print the installed sensors of one device (port 80 by default)",
     RunQuery},
    {"scan",
     "scan [--broadcast ADDR] [--discovery-port N] [--port N] [FILE]\n"
     "                       find devices by broadcast and print their sensors; with FILE,\n"
     "                       add the new ones to that configuration and save it",
     RunScan},
    {"export-series",
     "export-series FILE INDEX OUT [--days N] [--dsn NAME]\n"
     "                       write the readings of sensor INDEX (from 0) of a configuration\n"
     "                       file to OUT, only the last N days with --days, and a workbook\n"
     "                       with a chart beside it",
     RunExportSeries},
    {"export-summary",
     "export-summary FILE INDEX OUT [--dsn NAME]\n"
     "                       write the daily maximum, average and minimum of sensor INDEX\n"
     "                       to OUT, and a workbook with a chart beside it",
     RunExportSummary},
    {"stats", "stats FILE [--dsn NAME]\n"
              "                       print each sensor of a configuration file with its counts of\n"
              "                       readings in the database",
     RunStats},
    {"import", "import FILE [--dsn NAME]\n"
               "                       add the sensors registered in the database to a configuration\n"
               "                       file and print them",
     RunImport},
};

void PrintHelp(std::FILE* to)
{
    std::fprintf(to, "Tessaro data-logging agent without a window.\n\n"
                     "usage: tessaro-cli COMMAND [ARGS]\n\ncommands:\n");
    for (const Command& command : kCommands)
        std::fprintf(to, "  %.*s\n", static_cast<int>(command.usage.size()), command.usage.data());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        PrintHelp(stderr);
        return 2;
    }
    const std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help")
    {
        PrintHelp(stdout);
        return 0;
    }
    const std::vector<std::string> args(argv + 2, argv + argc);
    for (const Command& command : kCommands)
        if (command.name == name)
            return command.run(args);
    std::fprintf(stderr, "tessaro-cli: unknown command '%s'\n", argv[1]);
    PrintHelp(stderr);
    return 2;
}
