#pragma once

// How bad a message of tessaro-cli is, as the journal's priorities count.
enum class CliLevel
{
    Error = 3,
    Warning = 4,
    Info = 6,
};

// Writes a message and a line end to stderr, each line behind "<N>" when
// stderr is the journal (a service's), so that the journal keeps the level;
// plain otherwise, as a terminal or a log file wants it.
[[gnu::format(printf, 2, 3)]] void CliReport(CliLevel level, const char* format, ...);
