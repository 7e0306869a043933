#pragma once

#include <span>
#include <string>

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
