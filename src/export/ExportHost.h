#pragma once

#include <string>

// What an export asks of the front end that runs it: the desktop answers
// with its dialogs and the status bar, the command line with its arguments.
class IExportHost
{
public:
    // Opens the data source without offering to create it; reports its own
    // failures.
    virtual bool OpenDatabase() = 0;
    // The file to write. With a range, the number of days to export (0 for
    // every reading) is read from and left in *range. False when cancelled.
    virtual bool AskExportFile(std::string& path, int* range) = 0;
    // A text of the string table in the status bar (331 while the database
    // is read, 57345 afterwards).
    virtual void SetStatusText(unsigned stringId) = 0;
    // Hands a written export file on to the spreadsheet step.
    virtual void OpenInSpreadsheet(const std::string& path, bool summary) = 0;

protected:
    ~IExportHost() = default;
};
