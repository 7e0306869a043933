#include "app/cli/CliRecordingView.h"

#include "app/SignalPipe.h"
#include "app/cli/CliReport.h"
#include "db/SensorDatabase.h"
#include "net/SensorChannel.h"
#include "sensors/OrbelDoc.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstring>

namespace
{

const char* FieldName(CRegistrationFailure::Field field)
{
    switch (field)
    {
    case CRegistrationFailure::Field::Host:
        return "Host";
    case CRegistrationFailure::Field::Unit:
        return "Unit";
    case CRegistrationFailure::Field::Location:
        return "Location";
    case CRegistrationFailure::Field::None:
        break;
    }
    return "";
}

std::string ChannelText(const CSensor& record)
{
    return record.m_pChannel != nullptr ? record.m_pChannel->GetStatusText() : std::string();
}

} // namespace

CCliRecordingView::CCliRecordingView(COrbelDoc& document, CSensorDatabase& database,
                                     std::FILE* lines)
    : m_document(document), m_database(database), m_pLines(lines)
{
}

SensorList& CCliRecordingView::Sensors()
{
    return m_document.m_sensors;
}

bool CCliRecordingView::OpenDatabase()
{
    return m_database.OpenDatabase(false);
}

void CCliRecordingView::RefreshStatusColumn()
{
    for (const std::unique_ptr<CSensor>& record : m_document.m_sensors)
        WriteStatus(*record, ChannelText(*record));
}

void CCliRecordingView::ClearStatusColumn()
{
    for (const std::unique_ptr<CSensor>& record : m_document.m_sensors)
        WriteStatus(*record, {});
}

void CCliRecordingView::UpdateStatusCell(CSensor& record)
{
    WriteStatus(record, ChannelText(record));
}

void CCliRecordingView::OnRowStored(const CReading& row)
{
    Print("stored\t%d\t%s\n", row.m_nSensorId, row.m_strValue.c_str());
}

void CCliRecordingView::OnRowsBuffered(const std::vector<CReading>& rows)
{
    for (const CReading& row : rows)
        Print("buffered\t%d\t%s\n", row.m_nSensorId, row.m_strValue.c_str());
}

void CCliRecordingView::OnRowsReplayed(std::size_t count)
{
    Print("replayed\t%zu\n", count);
}

void CCliRecordingView::OnRowsDropped(std::size_t count)
{
    Print("dropped\t%zu\n", count);
}

void CCliRecordingView::ReportUnrecorded(const std::vector<CUnrecordedPoint>& points)
{
    for (const CUnrecordedPoint& point : points)
    {
        const CSensor& record = *point.m_pRecord;
        const CRegistrationFailure& failure = point.m_failure;
        std::string why = "no SensorID in the sensor table";
        if (failure.m_kind == CRegistrationFailure::Kind::TooLong)
            why = std::string(FieldName(failure.m_field)) + " longer than " +
                  std::to_string(failure.m_nLimit) + " characters";
        else if (failure.m_kind == CRegistrationFailure::Kind::ControlCharacter)
            why = std::string(FieldName(failure.m_field)) + " holds a NUL character";
        CliReport(CliLevel::Error, "tessaro-cli: record: %s:%u/%d not recorded: %s",
                  record.m_strAddress.c_str(), static_cast<unsigned>(record.m_nPort),
                  record.m_nSensorNo, why.c_str());
    }
}

bool CCliRecordingView::StopRequested() const
{
    return CSignalPipe::HasArrived(SIGINT) || CSignalPipe::HasArrived(SIGTERM);
}

void CCliRecordingView::WriteStatus(CSensor& record, const std::string& text)
{
    if (text == record.m_strStatus)
        return;
    record.m_strStatus = text;
    Print("status\t%s:%u/%d\t%s\n", record.m_strAddress.c_str(),
          static_cast<unsigned>(record.m_nPort), record.m_nSensorNo, text.c_str());
}

void CCliRecordingView::Print(const char* format, ...)
{
    if (m_bLinesGone)
        return;
    std::va_list args;
    va_start(args, format);
    std::vfprintf(m_pLines, format, args);
    va_end(args);
    if (std::fflush(m_pLines) == 0 && !std::ferror(m_pLines))
        return;
    m_bLinesGone = true;
    CliReport(CliLevel::Warning, "tessaro-cli: record: stdout: %s; recording goes on without lines",
              std::strerror(errno));
}
