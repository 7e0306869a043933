#include "app/cli/CliCommands.h"
#include "sensors/OrbelDoc.h"

#include <cstdio>

int RunList(CliArgs args)
{
    if (args.size() != 1)
    {
        return UsageError("list");
    }
    COrbelDoc doc;
    std::string errorText;
    if (!doc.OnOpenDocument(args[0], errorText))
    {
        if (doc.m_bBadFormat)
        {
            std::fprintf(stderr, "%s\n", errorText.c_str());
            return 2;
        }
        std::fprintf(stderr, "tessaro-cli: %s: %s\n", args[0].c_str(), errorText.c_str());
        return 1;
    }
    for (const std::unique_ptr<CSensor>& sensor : doc.m_sensors)
    {
        const std::string& line = sensor->FormatLine();
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
    // A full disk or a closed pipe must not look like success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
    {
        std::perror("tessaro-cli: stdout");
        return 1;
    }
    return 0;
}
