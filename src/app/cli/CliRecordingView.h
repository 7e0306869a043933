#pragma once

#include "recording/RecordingView.h"

#include <cstdio>
#include <string>

class COrbelDoc;
class CSensorDatabase;

// Recording without a window: every change of a Status cell and every row
// written or buffered becomes one line, flushed at once so that a reader of
// a pipe sees it while recording goes on. When nobody reads any more, that
// is said once on stderr and recording goes on without lines.
class CCliRecordingView : public IRecordingView
{
public:
    // lines: where the lines go.
    CCliRecordingView(COrbelDoc& document, CSensorDatabase& database, std::FILE* lines);

    SensorList& Sensors() override;
    // Creating a data source needs someone to choose a driver; `db init` does that.
    bool OpenDatabase() override;
    void SetStatusText(int, int) override {}
    void RefreshStatusColumn() override;
    void ClearStatusColumn() override;
    void UpdateStatusCell(CSensor& record) override;
    void SetListColour(std::uint32_t) override {}
    bool IsMinimized() const override { return false; }
    void OnRowStored(const CReading& row) override;
    void OnRowsBuffered(const std::vector<CReading>& rows) override;
    void OnRowsReplayed(std::size_t count) override;
    void OnRowsDropped(std::size_t count) override;
    void ReportUnrecorded(const std::vector<CUnrecordedPoint>& points) override;
    // SIGINT or SIGTERM came.
    bool StopRequested() const override;

private:
    // m_strStatus stands for the cell: a line only when the text changes.
    void WriteStatus(CSensor& record, const std::string& text);
    [[gnu::format(printf, 2, 3)]] void Print(const char* format, ...);

    COrbelDoc& m_document;
    CSensorDatabase& m_database;
    std::FILE* m_pLines;
    bool m_bLinesGone = false;
};
