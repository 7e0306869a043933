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
    void OnRowStored(int sensorId, std::optional<float> value) override;

private:
    COrbelView& m_view;
};
