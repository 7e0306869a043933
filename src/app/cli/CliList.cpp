#include "app/cli/CliCommands.h"
#include "app/cli/CliSession.h"
#include "sensors/OrbelDoc.h"

#include <cstdio>

int RunList(CliArgs args)
{
    if (args.size() != 1)
    {
        return UsageError("list");
    }
    COrbelDoc doc;
    if (const int status = LoadConfiguration(doc, args[0]))
        return status;
    for (const std::unique_ptr<CSensor>& sensor : doc.m_sensors)
    {
        const std::string& line = sensor->FormatLine();
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
    }
    return FlushStdout() ? 0 : 1;
}
