#include "ui/ViewDatabaseCommands.h"

#include "db/DatabaseStatistics.h"
#include "ui/ExportDialog.h"
#include "export/ExportWorkbook.h"
#include "ui/OrbelView.h"
#include "export/SensorExport.h"
#include "sensors/TextEncoding.h"
#include "ui/WrappedMessageBox.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace
{
constexpr int kStatusColumn = 7;
} // namespace

bool (*CViewDatabaseCommands::s_pOpenDocument)(const QUrl& url) = &QDesktopServices::openUrl;

void CViewDatabaseCommands::Export(bool summary)
{
    const auto selected = m_view.SelectedRows();
    if (selected.empty())
        return;
    CSensorExport(m_view.m_db).Export(*selected.front().second, summary, *this);
}

void CViewDatabaseCommands::OnImportSensors()
{
    CDatabaseStatistics(m_view.m_db, m_view.GetDocument(), *this).OnImportSensors();
}

void CViewDatabaseCommands::OnDatabaseStatistics()
{
    CDatabaseStatistics(m_view.m_db, m_view.GetDocument(), *this).OnDatabaseStatistics();
}

bool CViewDatabaseCommands::OpenDatabase()
{
    m_view.ReadDataSourceName();
    return m_view.m_db.OpenDatabase(false);
}

void CViewDatabaseCommands::SetStatusText(unsigned stringId)
{
    m_view.SetStatusText(static_cast<int>(stringId));
}

bool CViewDatabaseCommands::AskExportFile(std::string& path, int* range)
{
    return CExportDialog::AskExportFile(&m_view, path, range);
}

void CViewDatabaseCommands::OpenInSpreadsheet(const std::string& path, bool summary)
{
    CExportWorkbook workbook;
    if (!workbook.Write(path, summary))
    {
        WrappedMessageBox(
            QMessageBox::Warning, QMessageBox::Ok,
            QString::fromStdString(DecodeLegacyText(workbook.ErrorText())) +
                QStringLiteral("\nDie exportierte Datei %1 bleibt erhalten.")
                    .arg(QDir::toNativeSeparators(QString::fromStdString(DecodeLegacyText(path)))),
            &m_view);
        return;
    }
    // Whatever the desktop makes of it is its own matter, as a failure to
    // open the export file is.
    if (!s_pOpenDocument(QUrl::fromLocalFile(QString::fromStdString(workbook.Path()))))
        s_pOpenDocument(QUrl::fromLocalFile(QString::fromStdString(path)));
}

void CViewDatabaseCommands::DeselectAll()
{
    m_view.DeselectAll();
}

void CViewDatabaseCommands::AddRow(CSensor* record)
{
    m_view.AddRow(record, 2);
}

int CViewDatabaseCommands::GetRowCount() const
{
    return m_view.topLevelItemCount();
}

CSensor* CViewDatabaseCommands::GetRowRecord(int row) const
{
    return m_view.SensorAt(row);
}

void CViewDatabaseCommands::SetStatusCell(int row, const std::string& text)
{
    if (QTreeWidgetItem* item = m_view.topLevelItem(row))
        item->setText(kStatusColumn, QString::fromStdString(DecodeLegacyText(text)));
}
