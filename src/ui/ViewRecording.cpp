#include "ui/ViewRecording.h"

#include "net/SensorChannel.h"
#include "sensors/TextEncoding.h"
#include "settings/Settings.h"
#include "ui/OrbelView.h"
#include "ui/StringTable.h"
#include "ui/WrappedMessageBox.h"

#include <QColor>
#include <QPalette>

namespace
{

constexpr int kStatusColumn = 7;
// Column titles that name the texts of a point, as the list shows them.
constexpr int kAddressTitle = 1;
constexpr int kUnitTitle = 4;
constexpr int kDescriptionTitle = 6;

QString FieldTitle(CRegistrationFailure::Field field)
{
    const QStringList titles = LoadString(StringId::kColumnTitles).split(QLatin1Char('|'));
    switch (field)
    {
    case CRegistrationFailure::Field::Host:
        return titles.value(kAddressTitle);
    case CRegistrationFailure::Field::Unit:
        return titles.value(kUnitTitle);
    case CRegistrationFailure::Field::Location:
        return titles.value(kDescriptionTitle);
    case CRegistrationFailure::Field::None:
        break;
    }
    return {};
}

} // namespace

SensorList& CViewRecording::Sensors()
{
    return m_view.GetDocument().m_sensors;
}

bool CViewRecording::OpenDatabase()
{
    // Changed settings count from the next start on.
    const CSettings settings;
    m_view.m_db.m_db.SetTimeout(settings.DbTimeout());
    m_view.m_recorder.SetStorageOptions(
        {DefaultDatabaseFolder().toStdString(), static_cast<std::size_t>(settings.JournalLimit())});
    return m_view.OpenDatabaseOrSetUp();
}

void CViewRecording::ReportUnrecorded(const std::vector<CUnrecordedPoint>& points)
{
    QString text = LoadString(StringId::kUnrecordedPoints);
    for (const CUnrecordedPoint& point : points)
    {
        const CSensor& record = *point.m_pRecord;
        const QString name = LoadString(StringId::kPointName)
                                 .arg(QString::fromStdString(DecodeLegacyText(record.m_strAddress)))
                                 .arg(record.m_nPort)
                                 .arg(record.m_nSensorNo);
        const CRegistrationFailure& failure = point.m_failure;
        QString reason;
        if (failure.m_kind == CRegistrationFailure::Kind::TooLong)
            reason = LoadString(StringId::kTextTooLong)
                         .arg(FieldTitle(failure.m_field))
                         .arg(failure.m_nLimit);
        else if (failure.m_kind == CRegistrationFailure::Kind::ControlCharacter)
            reason = LoadString(StringId::kTextWithNul).arg(FieldTitle(failure.m_field));
        else
            reason = LoadString(StringId::kNoSensorId);
        text += QLatin1Char('\n') + name + QStringLiteral(": ") + reason;
    }
    WrappedMessageBox(QMessageBox::Warning, QMessageBox::Ok, text, &m_view);
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

void CViewRecording::OnRowStored(const CReading&)
{
    m_view.OnRowsStored();
}

void CViewRecording::OnRowsReplayed(std::size_t)
{
    m_view.OnRowsStored();
}

bool CViewRecording::IsMinimized() const
{
    return m_view.m_bMinimized;
}
