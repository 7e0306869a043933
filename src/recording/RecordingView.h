#pragma once

#include "sensors/OrbelDoc.h"

#include <cstdint>
#include <optional>

// What the scheduler needs from the front end that shows the configuration:
// the desktop's list view, or the plain lines of tessaro-cli.
class IRecordingView
{
public:
    virtual ~IRecordingView() = default;

    // The records of the configuration, in list order.
    virtual SensorList& Sensors() = 0;
    // Opens the data source for recording and creates missing tables. The
    // desktop may offer to create a missing data source; tessaro-cli does not.
    virtual bool OpenDatabase() = 0;

    // A string of the text table formatted with one integer, shown where the
    // front end shows what the program is busy with.
    virtual void SetStatusText(int stringId, int argument) = 0;
    // Every record's Status cell from its channel, or empty without one.
    virtual void RefreshStatusColumn() = 0;
    virtual void ClearStatusColumn() = 0;
    // The record's Status cell from its channel's current text; nothing when
    // the record has no row.
    virtual void UpdateStatusCell(CSensor& record) = 0;
    // Background and text background of the list, as 0x00BBGGRR.
    virtual void SetListColour(std::uint32_t colour) = 0;
    // While minimised, status changes are not drawn.
    virtual bool IsMinimized() const = 0;

    // A row went into the reading table; nullopt for a row without value.
    virtual void OnRowStored(int sensorId, std::optional<float> value) = 0;
};
