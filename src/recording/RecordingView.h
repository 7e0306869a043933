#pragma once

#include "db/Reading.h"
#include "db/SensorDatabase.h"
#include "sensors/OrbelDoc.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A measuring point of the configuration that recording leaves out, and why.
struct CUnrecordedPoint
{
    const CSensor* m_pRecord = nullptr;
    CRegistrationFailure m_failure;
};

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
    // The record's Status cell from its channel's current text, empty when it
    // has no channel (its point went with a new configuration); nothing when
    // the record has no row.
    virtual void UpdateStatusCell(CSensor& record) = 0;
    // Background and text background of the list, as 0x00BBGGRR.
    virtual void SetListColour(std::uint32_t colour) = 0;
    // While minimised, status changes are not drawn.
    virtual bool IsMinimized() const = 0;

    // A row of a tick went into the reading table as the tick took it.
    virtual void OnRowStored(const CReading& row) = 0;
    // Rows went into the journal because the database could not take them.
    virtual void OnRowsBuffered(const std::vector<CReading>& rows) = 0;
    // A batch of the journal was written out.
    virtual void OnRowsReplayed(std::size_t count) = 0;
    // Rows are lost: past the journal's limit, or the journal could not
    // take them.
    virtual void OnRowsDropped(std::size_t count) = 0;
    // Points that get no rows because they have no SensorID; the others are
    // recorded.
    virtual void ReportUnrecorded(const std::vector<CUnrecordedPoint>& points) = 0;
    // A stop was asked for while recording could not return to the event
    // loop (between the registrations of a long start).
    virtual bool StopRequested() const = 0;
};
