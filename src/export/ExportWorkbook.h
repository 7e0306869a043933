#pragma once

#include <functional>
#include <string>

class CExportInputs;

// Where a workbook goes: "<stem>.xlsx" for number 1, "<stem> (N).xlsx" after.
struct CWorkbookTarget
{
    std::string m_strStem;
    int m_nNumber = 1;
    // Whether the file there may be replaced; otherwise the workbook takes
    // the first name from there on that is free when it is complete.
    bool m_bReplace = false;

    std::string Path() const;
};

// The workbook that stands for the spreadsheet application's view of an
// export: the export file imported as tab-separated text on a data sheet
// (date-times and numbers as values, empty cells where a field is empty),
// its first two columns fitted, and a chart sheet in front of it plotting
// the data, titled with the text of the first cell. Texts that XML does not
// allow, such as control characters, are replaced by U+FFFD.
class CExportWorkbook
{
public:
    // Beside the export file: the same name with the extension ".xlsx".
    static std::string PathFor(const std::string& exportPath);

    // Chosen before the export file is written. PathFor's name when it is
    // free, or when it holds a workbook that an earlier export of the same
    // file wrote and nobody has written since, or when mayReplace (given
    // its path; may be empty) says so; never one of the inputs. Otherwise
    // the first of "<name> (2).xlsx", ... that is free or such a workbook.
    static CWorkbookTarget ChooseTarget(const std::string& exportPath, const CExportInputs& inputs,
                                        const std::function<bool(const std::string&)>& mayReplace);

    // A series file gets a scatter chart with lines over columns A and B, a
    // summary file an area chart of maximum, average and minimum (columns B
    // to D). The workbook takes its place only once it is complete. False
    // when the workbook could not be written; ErrorText() then names the
    // file and the reason.
    bool Write(const std::string& exportPath, bool summary, const CWorkbookTarget& target);
    // At the target chosen without inputs and without replacing anything
    // but an earlier workbook of this export.
    bool Write(const std::string& exportPath, bool summary);

    // Where the workbook was written.
    const std::string& Path() const { return m_strPath; }
    const std::string& ErrorText() const { return m_strError; }

private:
    std::string m_strPath;
    std::string m_strError;
};
