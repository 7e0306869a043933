#pragma once

#include "db/SensorListHost.h"
#include "export/ExportHost.h"

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
    std::string ConfigurationFile() override;
    bool AskExportFile(std::string& path, int* range) override;
    // Says why, and asks for another file.
    bool RefuseExportFile(const std::string& reason) override;
    // The replace question.
    bool MayReplaceWorkbook(const std::string& path) override;
    // Hands the workbook to the desktop's handler; without one, the export
    // file itself; without a handler for either, says where both are. A
    // workbook that could not be written is reported; the export file stays.
    void OpenInSpreadsheet(const std::string& path, const CExportWorkbook& workbook) override;

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
