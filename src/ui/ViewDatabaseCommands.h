#pragma once

#include "export/ExportHost.h"
#include "db/SensorListHost.h"

#include <string>

class COrbelView;
class QUrl;

// The list view's side of the commands that read the database: the two
// exports with their save dialog and the spreadsheet step, the sensor import
// and the statistics. Made for one command at a time.
class CViewDatabaseCommands : public IExportHost, public ISensorListHost
{
public:
    explicit CViewDatabaseCommands(COrbelView& view) : m_view(view) {}

    void OnExportSeries() { Export(false); }
    void OnExportSummary() { Export(true); }
    void OnImportSensors();
    void OnDatabaseStatistics();

    // Both kinds of host
    bool OpenDatabase() override;
    void SetStatusText(unsigned stringId) override;

    // Export
    bool AskExportFile(std::string& path, int* range) override;
    // Writes the workbook beside the file and hands it to the desktop's
    // handler; without one, the export file itself. A workbook that cannot
    // be written is reported; the export file stays.
    void OpenInSpreadsheet(const std::string& path, bool summary) override;

    // List
    void DeselectAll() override;
    void AddRow(CSensor* record) override;
    int GetRowCount() const override;
    CSensor* GetRowRecord(int row) const override;
    void SetStatusCell(int row, const std::string& text) override;

    // How a file reaches the desktop's handler; false when it has none.
    // Tests stand in for the desktop here.
    static bool (*s_pOpenDocument)(const QUrl& url);

private:
    void Export(bool summary);

    COrbelView& m_view;
};
