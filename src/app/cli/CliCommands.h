#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Each sub-command of tessaro-cli takes the arguments after its name and
// returns the exit status: 0 success, 1 failure, 2 bad usage or bad file.
using CliArgs = std::span<const std::string>;

int RunList(CliArgs args);
int RunParse(CliArgs args);
int RunPoll(CliArgs args);
int RunDb(CliArgs args);
int RunExportSeries(CliArgs args);
int RunExportSummary(CliArgs args);
int RunStats(CliArgs args);
int RunImport(CliArgs args);
int RunRecord(CliArgs args);
int RunQuery(CliArgs args);
int RunScan(CliArgs args);

// Prints the usage of a command (its name as on the command line) to stderr
// and returns the exit status of bad usage.
int UsageError(std::string_view command);

// The whole of text as a decimal number within [low, high]; nothing for
// anything else, so "8O" or "80x" is a usage error rather than a silent 80.
std::optional<long> ReadWholeNumber(std::string_view text, long low, long high);
// A TCP or UDP port, 1 to 65535.
std::optional<std::uint16_t> ReadPort(std::string_view text);
