#include "app/cli/CliCommands.h"
#include "net/DescriptorLimit.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace
{

// The one place of the usage texts. A synopsis has one line per form of the
// command; its "[--name VALUE]" words are the options the command takes.
struct Command
{
    std::string_view name;
    std::string_view synopsis;
    std::string_view description;
    int (*run)(CliArgs);
};

constexpr Command kCommands[] = {
    {"list", "list FILE", "print the sensors of a configuration file", RunList},
    {"parse", "parse < REPLIES", "print the slots of device reply lines read from stdin", RunParse},
    {"poll", "poll HOST PORT [--count N] [--timeout S]",
     "poll one device; print its states and the slots of\n"
     "each reply",
     RunPoll},
    {"db", "db init [--dsn NAME] [--file PATH]\ndb check [--dsn NAME] [--user NAME]",
     "init: create a data source on the embedded driver;\n"
     "check: open a data source, create missing tables,\n"
     "print them",
     RunDb},
    {"record", "record FILE [--dsn NAME] [--db-timeout SECONDS]",
     "record the configuration until SIGINT or SIGTERM;\n"
     "print each change of a Status cell and each row\n"
     "written or buffered",
     RunRecord},
    {"query", "query HOST[:PORT]",
     "print the installed sensors of one device\n(port 80 by default)", RunQuery},
    {"scan", "scan [--broadcast ADDR] [--discovery-port N] [--port N] [FILE]",
     "find devices by broadcast and print their sensors;\n"
     "with FILE, add the new ones to it and save it",
     RunScan},
    {"export-series", "export-series FILE INDEX OUT [--days N] [--dsn NAME] [--user NAME]",
     "write the readings of sensor INDEX (from 0) of FILE\n"
     "to OUT, only the last N days with --days, and a\n"
     "workbook with a chart beside it",
     RunExportSeries},
    {"export-summary", "export-summary FILE INDEX OUT [--dsn NAME] [--user NAME]",
     "write the daily maximum, average and minimum of\n"
     "sensor INDEX to OUT, and a workbook with a chart\n"
     "beside it",
     RunExportSummary},
    {"stats", "stats FILE [--dsn NAME] [--user NAME]",
     "print each sensor of FILE with its counts of\nreadings in the database", RunStats},
    {"import", "import FILE [--dsn NAME] [--user NAME]",
     "add the sensors registered in the database to FILE\nand print them", RunImport},
};

// Columns of the command list: the description starts at the second.
constexpr int kIndent = 2;
constexpr int kDescriptionColumn = 25;

const Command* FindCommand(std::string_view name)
{
    for (const Command& command : kCommands)
        if (command.name == name)
            return &command;
    return nullptr;
}

std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty())
    {
        const size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

void PrintText(std::FILE* to, std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), to);
}

void PrintUsage(std::FILE* to, const Command& command)
{
    bool first = true;
    for (const std::string_view form : Lines(command.synopsis))
    {
        PrintText(to, first ? "usage: tessaro-cli " : "       tessaro-cli ");
        PrintText(to, form);
        PrintText(to, "\n");
        first = false;
    }
}

void PrintHelp(std::FILE* to)
{
    std::fprintf(to, "Tessaro data-logging agent without a window.\n\n"
                     "usage: tessaro-cli COMMAND [ARGS]\n"
                     "       tessaro-cli COMMAND --help\n"
                     "       tessaro-cli --version\n\ncommands:\n");
    for (const Command& command : kCommands)
    {
        const std::vector<std::string_view> forms = Lines(command.synopsis);
        std::vector<std::string_view> description = Lines(command.description);
        for (size_t i = 0; i < forms.size(); ++i)
        {
            std::fprintf(to, "%*s%.*s", kIndent, "", static_cast<int>(forms[i].size()),
                         forms[i].data());
            // A short last form has the description beside it.
            const int width = kIndent + static_cast<int>(forms[i].size());
            if (i + 1 == forms.size() && width < kDescriptionColumn - 1)
            {
                std::fprintf(to, "%*s%.*s", kDescriptionColumn - width, "",
                             static_cast<int>(description.front().size()),
                             description.front().data());
                description.erase(description.begin());
            }
            std::fputc('\n', to);
        }
        for (const std::string_view line : description)
            std::fprintf(to, "%*s%.*s\n", kDescriptionColumn, "", static_cast<int>(line.size()),
                         line.data());
    }
}

// Whether the command takes the option, and whether a value follows it;
// nothing for an option it does not know.
std::optional<bool> OptionOf(const Command& command, std::string_view option)
{
    for (const std::string_view form : Lines(command.synopsis))
    {
        size_t at = 0;
        while ((at = form.find(option, at)) != std::string_view::npos)
        {
            const size_t end = at + option.size();
            const bool whole = (at == 0 || form[at - 1] == ' ' || form[at - 1] == '[') &&
                               (end == form.size() || form[end] == ' ' || form[end] == ']');
            if (whole)
                return end + 1 < form.size() && form[end] == ' ' &&
                       std::isupper(static_cast<unsigned char>(form[end + 1]));
            at = end;
        }
    }
    return std::nullopt;
}

// --help anywhere among the options answers at once; an option the command
// does not take is named. Nothing when the command should run.
std::optional<int> CheckOptions(const Command& command, CliArgs args)
{
    for (size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h")
        {
            PrintUsage(stdout, command);
            PrintText(stdout, "\n");
            PrintText(stdout, command.description);
            PrintText(stdout, "\n");
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0)
            continue;
        const std::optional<bool> takesValue = OptionOf(command, arg);
        if (!takesValue)
        {
            std::fprintf(stderr, "tessaro-cli: %s: unknown option '%s'\n",
                         std::string(command.name).c_str(), arg.c_str());
            PrintUsage(stderr, command);
            return 2;
        }
        if (*takesValue)
            ++i;
    }
    return std::nullopt;
}

} // namespace

int UsageError(std::string_view name)
{
    if (const Command* command = FindCommand(name))
        PrintUsage(stderr, *command);
    return 2;
}

int main(int argc, char** argv)
{
    RaiseDescriptorLimit();
    if (argc < 2)
    {
        PrintHelp(stderr);
        return 2;
    }
    const std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help")
    {
        PrintHelp(stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (name == "--version")
    {
        std::printf("tessaro-cli %s\n", TESSARO_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    const Command* command = FindCommand(name);
    if (!command)
    {
        std::fprintf(stderr, "tessaro-cli: unknown %s '%s'\n",
                     name.starts_with('-') ? "option" : "command", argv[1]);
        PrintHelp(stderr);
        return 2;
    }
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (const std::optional<int> status = CheckOptions(*command, args))
        return *status;
    return command->run(args);
}
