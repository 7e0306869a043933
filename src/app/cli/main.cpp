#include "app/cli/CliCommands.h"
#include "app/cli/CliReport.h"
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
    {"db",
     "db init [--dsn NAME] [--file PATH]\n"
     "db check [--dsn NAME] [--user NAME] [--db-timeout SECONDS]",
     "init: create a data source on the embedded driver;\n"
     "check: open a data source, create missing tables,\n"
     "print them",
     RunDb},
    {"record", "record FILE [--dsn NAME] [--user NAME] [--db-timeout SECONDS]",
     "record the configuration until SIGINT or SIGTERM,\n"
     "reading FILE again on SIGHUP; print each change\n"
     "of a Status cell and each row written or buffered",
     RunRecord},
    {"query", "query HOST[:PORT]",
     "print the installed sensors of one device\n(port 80 by default)", RunQuery},
    {"scan", "scan [--broadcast ADDR] [--discovery-port N] [--port N] [FILE]",
     "find devices by broadcast and print their sensors;\n"
     "with FILE, add the new ones to it and save it",
     RunScan},
    {"export-series",
     "export-series FILE INDEX OUT [--days N] [--dsn NAME] [--user NAME] "
     "[--db-timeout SECONDS]",
     "write the readings of sensor INDEX (from 0) of FILE\n"
     "to OUT, only the last N days with --days, and a\n"
     "workbook with a chart beside it",
     RunExportSeries},
    {"export-summary",
     "export-summary FILE INDEX OUT [--dsn NAME] [--user NAME] [--db-timeout SECONDS]",
     "write the daily maximum, average and minimum of\n"
     "sensor INDEX to OUT, and a workbook with a chart\n"
     "beside it",
     RunExportSummary},
    {"stats", "stats FILE [--dsn NAME] [--user NAME] [--db-timeout SECONDS]",
     "print each sensor of FILE with its counts of\nreadings in the database", RunStats},
    {"import", "import FILE [--dsn NAME] [--user NAME] [--db-timeout SECONDS]",
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

std::string Usage(const Command& command)
{
    std::string text;
    for (const std::string_view form : Lines(command.synopsis))
    {
        text += text.empty() ? "usage: tessaro-cli " : "       tessaro-cli ";
        text += form;
        text += '\n';
    }
    return text;
}

std::string Help()
{
    std::string text = "Tessaro data-logging agent without a window.\n\n"
                       "usage: tessaro-cli COMMAND [ARGS]\n"
                       "       tessaro-cli COMMAND --help\n"
                       "       tessaro-cli --version\n\ncommands:\n";
    const auto column = [&](int width) { text.append(static_cast<size_t>(width), ' '); };
    for (const Command& command : kCommands)
    {
        const std::vector<std::string_view> forms = Lines(command.synopsis);
        std::vector<std::string_view> description = Lines(command.description);
        for (size_t i = 0; i < forms.size(); ++i)
        {
            column(kIndent);
            text += forms[i];
            // A short last form has the description beside it.
            const int width = kIndent + static_cast<int>(forms[i].size());
            if (i + 1 == forms.size() && width < kDescriptionColumn - 1)
            {
                column(kDescriptionColumn - width);
                text += description.front();
                description.erase(description.begin());
            }
            text += '\n';
        }
        for (const std::string_view line : description)
        {
            column(kDescriptionColumn);
            text += line;
            text += '\n';
        }
    }
    return text;
}

// Help asked for goes to stdout.
int PrintHelp(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
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
            return PrintHelp(Usage(command) + "\n" + std::string(command.description) + "\n");
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0)
            continue;
        const std::optional<bool> takesValue = OptionOf(command, arg);
        if (!takesValue)
        {
            CliReport(CliLevel::Error, "tessaro-cli: %s: unknown option '%s'\n%s",
                      std::string(command.name).c_str(), arg.c_str(), Usage(command).c_str());
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
        CliReport(CliLevel::Error, "%s", Usage(*command).c_str());
    return 2;
}

int main(int argc, char** argv)
{
    RaiseDescriptorLimit();
    if (argc < 2)
    {
        CliReport(CliLevel::Error, "%s", Help().c_str());
        return 2;
    }
    const std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help")
        return PrintHelp(Help());
    if (name == "--version")
    {
        std::printf("tessaro-cli %s\n", TESSARO_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    const Command* command = FindCommand(name);
    if (!command)
    {
        CliReport(CliLevel::Error, "tessaro-cli: unknown %s '%s'\n%s",
                  name.starts_with('-') ? "option" : "command", argv[1], Help().c_str());
        return 2;
    }
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (const std::optional<int> status = CheckOptions(*command, args))
        return *status;
    return command->run(args);
}
