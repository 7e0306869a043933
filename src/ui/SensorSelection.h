#pragma once

#include <utility>
#include <vector>

class CSensor;

// The rows of the sensor list that a dialog edits: the selected ones with
// their records, top to bottom, and a way to show a record's new fields. The
// list view implements it; the rows do not own their records.
class ISensorSelection
{
public:
    virtual std::vector<std::pair<int, CSensor*>> SelectedRows() const = 0;
    virtual void RefreshRow(int row) = 0;

protected:
    ~ISensorSelection() = default;
};
