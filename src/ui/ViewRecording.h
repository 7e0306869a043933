#pragma once

#include "recording/RecordingView.h"

class COrbelView;

// The list view as the recording scheduler sees it: its rows, its Status
// column, its colours and the status bar of its window.
class CViewRecording : public IRecordingView
{
public:
    explicit CViewRecording(COrbelView& view) : m_view(view) {}

    SensorList& Sensors() override;
    // Refreshes the data source's name from the toolbar first, and offers to
    // create a data source that does not exist; the view then shows it.
    bool OpenDatabase() override;
    void SetStatusText(int stringId, int argument) override;
    void RefreshStatusColumn() override;
    void ClearStatusColumn() override;
    void UpdateStatusCell(CSensor& record) override;
    void SetListColour(std::uint32_t colour) override;
    bool IsMinimized() const override;
    // The charts read what was stored themselves; the status bar tells of
    // the journal.
    void OnRowStored(const CReading&) override;
    void OnRowsBuffered(const std::vector<CReading>&) override {}
    void OnRowsReplayed(std::size_t) override;
    void OnRowsDropped(std::size_t) override {}
    // One message box for all points left out.
    void ReportUnrecorded(const std::vector<CUnrecordedPoint>& points) override;
    bool StopRequested() const override { return false; }

private:
    COrbelView& m_view;
};
