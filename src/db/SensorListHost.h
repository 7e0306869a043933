#pragma once

#include <string>

class CSensor;

// What the import and the statistics need from the list that shows the
// sensors: the desktop's list view, or the command line's plain list.
class ISensorListHost
{
public:
    // Opens the data source without offering to create it; reports its own
    // failures.
    virtual bool OpenDatabase() = 0;
    // A text of the string table in the status bar.
    virtual void SetStatusText(unsigned stringId) = 0;
    virtual void DeselectAll() = 0;
    // A new row for a record the document has just taken: selected, focused
    // and scrolled into view.
    virtual void AddRow(CSensor* record) = 0;
    // The rows in display order and the record each shows.
    virtual int GetRowCount() const = 0;
    virtual CSensor* GetRowRecord(int row) const = 0;
    virtual void SetStatusCell(int row, const std::string& text) = 0;

protected:
    ~ISensorListHost() = default;
};
