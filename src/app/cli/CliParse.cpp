// tessaro-cli parse: reads device replies from stdin, one per line, and prints
// what the recorder makes of each. A line ends at LF; one CR right before it
// goes too, any other CR belongs to the reply. Like the polling connection,
// only the first 199 bytes of a reply count, and a NUL byte ends it.
#include "app/cli/CliCommands.h"
#include "app/cli/CliReport.h"
#include "app/cli/CliSession.h"
#include "net/ReplyParser.h"
#include "sensors/TextEncoding.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

namespace
{

constexpr size_t kReplyBytes = 199;

// Names and units come from the device: decoded to UTF-8, and with control
// bytes escaped so that a TAB or line break in them cannot split the output.
std::string Printable(std::string_view bytes)
{
    std::string out;
    for (const char c : DecodeLegacyText(bytes))
    {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (byte < 0x20 || byte == 0x7F)
        {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
        else
            out += c;
    }
    return out;
}

void PrintReply(std::string_view line)
{
    char reply[kReplyBytes + 1];
    const size_t length = std::min(line.size(), kReplyBytes);
    std::memcpy(reply, line.data(), length);
    reply[length] = '\0';

    std::printf("name\t%s\n", Printable(ParseDeviceName(reply)).c_str());
    char* at = reply;
    for (int slot = 0;; ++slot)
    {
        float value = 0;
        int valid = 0;
        char unit[5];
        char* next = nullptr;
        if (!ParseNextValue(at, &value, &valid, unit, &next))
            break;
        std::printf("%d\t%g\t%d\t%s\n", slot, static_cast<double>(value), valid,
                    Printable(unit).c_str());
        at = next;
    }
    std::printf("\n");
}

} // namespace

int RunParse(CliArgs args)
{
    if (!args.empty())
    {
        return UsageError("parse");
    }
    std::string line;
    while (std::getline(std::cin, line))
    {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        PrintReply(line);
    }
    if (std::cin.bad())
    {
        CliReport(CliLevel::Error, "tessaro-cli: cannot read stdin");
        return 1;
    }
    return FlushStdout() ? 0 : 1;
}
