#include "app/cli/CliReport.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The service manager names the stream it connects in JOURNAL_STREAM as
// "DEVICE:INODE"; a stderr redirected elsewhere by the service's own
// command is another file.
bool StderrIsJournal()
{
    const char* named = std::getenv("JOURNAL_STREAM");
    if (named == nullptr)
        return false;
    const std::string_view text = named;
    const size_t colon = text.find(':');
    unsigned long long device = 0, inode = 0;
    const char* end = text.data() + text.size();
    if (colon == std::string_view::npos ||
        std::from_chars(text.data(), text.data() + colon, device).ptr != text.data() + colon ||
        std::from_chars(text.data() + colon + 1, end, inode).ptr != end)
        return false;
    struct stat status = {};
    return ::fstat(STDERR_FILENO, &status) == 0 && status.st_dev == device &&
           status.st_ino == inode;
}

} // namespace

void CliReport(CliLevel level, const char* format, ...)
{
    static const bool journal = StderrIsJournal();
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);

    // A multi-line text (a database's diagnostics) keeps its level on
    // every line; the whole goes out in one write.
    const std::string prefix = "<" + std::to_string(static_cast<int>(level)) + ">";
    std::string out;
    std::string_view rest = text;
    do
    {
        const size_t end = rest.find('\n');
        if (journal)
            out += prefix;
        out += rest.substr(0, end);
        out += '\n';
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    } while (!rest.empty());
    std::fwrite(out.data(), 1, out.size(), stderr);
}
