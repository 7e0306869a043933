#pragma once

#include <string>

// The workbook that stands for the spreadsheet application's view of an
// export: the export file imported as tab-separated text on a data sheet
// (date-times and numbers as values, empty cells where a field is empty),
// its first two columns fitted, and a chart sheet in front of it plotting
// the data, titled with the text of the first cell.
class CExportWorkbook
{
public:
    // Beside the export file: the same name with the extension ".xlsx".
    static std::string PathFor(const std::string& exportPath);

    // A series file gets a scatter chart with lines over columns A and B, a
    // summary file an area chart of maximum, average and minimum (columns B
    // to D). An existing workbook of that name is replaced only once the new
    // one is complete. False when the workbook could not be written;
    // ErrorText() then names the file and the reason.
    bool Write(const std::string& exportPath, bool summary);

    const std::string& Path() const { return m_strPath; }
    const std::string& ErrorText() const { return m_strError; }

private:
    std::string m_strPath;
    std::string m_strError;
};
