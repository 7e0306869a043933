#include "ui/ViewRecording.h"

#include "ui/OrbelView.h"
#include "net/SensorChannel.h"
#include "sensors/TextEncoding.h"

#include <QColor>
#include <QPalette>

namespace
{

constexpr int kStatusColumn = 7;

} // namespace

SensorList& CViewRecording::Sensors()
{
    return m_view.GetDocument().m_sensors;
}

bool CViewRecording::OpenDatabase()
{
    return m_view.OpenDatabaseOrSetUp();
}

void CViewRecording::SetStatusText(int stringId, int argument)
{
    m_view.SetStatusText(stringId, argument);
}

void CViewRecording::RefreshStatusColumn()
{
    m_view.RefreshStatusColumn();
}

void CViewRecording::ClearStatusColumn()
{
    m_view.ClearStatusColumn();
}

void CViewRecording::UpdateStatusCell(CSensor& record)
{
    for (int row = 0; row < m_view.topLevelItemCount(); ++row)
    {
        if (m_view.SensorAt(row) != &record)
            continue;
        record.m_strStatus = record.m_pChannel->GetStatusText();
        m_view.topLevelItem(row)->setText(
            kStatusColumn, QString::fromStdString(DecodeLegacyText(record.m_strStatus)));
        return;
    }
}

void CViewRecording::SetListColour(std::uint32_t colour)
{
    // Stored as red in the lowest byte, blue in the third.
    const QColor background(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
    QPalette colours = m_view.palette();
    colours.setColor(QPalette::Base, background);
    colours.setColor(QPalette::AlternateBase, background);
    m_view.setPalette(colours);
    m_view.viewport()->update();
}

void CViewRecording::OnRowStored(int, std::optional<float>)
{
    // The charts read what was stored themselves, rows that came late too.
    m_view.OnRowsStored();
}

bool CViewRecording::IsMinimized() const
{
    return m_view.m_bMinimized;
}
