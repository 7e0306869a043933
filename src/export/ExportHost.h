#pragma once

#include <string>

class CExportWorkbook;

// What an export asks of the front end that runs it: the desktop answers
// with its dialogs and the status bar, the command line with its arguments.
class IExportHost
{
public:
    // Opens the data source without offering to create it; reports its own
    // failures.
    virtual bool OpenDatabase() = 0;
    // The configuration file the exported sensor comes from; empty when it
    // has none.
    virtual std::string ConfigurationFile() = 0;
    // The file to write. With a range, the number of days to export (0 for
    // every reading) is read from and left in *range. False when cancelled.
    virtual bool AskExportFile(std::string& path, int* range) = 0;
    // The chosen file is one the export reads from; reason says which. True
    // to ask for another file, false to give up.
    virtual bool RefuseExportFile(const std::string& reason) = 0;
    // Whether the file that stands where the workbook goes, which this
    // export did not write, may be replaced; otherwise the workbook gets a
    // free name beside it.
    virtual bool MayReplaceWorkbook(const std::string& path) = 0;
    // A text of the string table in the status bar (331 while the database
    // is read, 57345 afterwards).
    virtual void SetStatusText(unsigned stringId) = 0;
    // Hands a written export file and its workbook (written, or its
    // ErrorText says why not) on to the user.
    virtual void OpenInSpreadsheet(const std::string& path, const CExportWorkbook& workbook) = 0;

protected:
    ~IExportHost() = default;
};
