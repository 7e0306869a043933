#include "ui/ViewDatabaseCommands.h"

#include "db/DatabaseStatistics.h"
#include "export/ExportWorkbook.h"
#include "export/SensorExport.h"
#include "sensors/TextEncoding.h"
#include "ui/ExportDialog.h"
#include "ui/OrbelView.h"
#include "ui/StringTable.h"
#include "ui/WrappedMessageBox.h"

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

namespace
{

constexpr int kStatusColumn = 7;

// A path or message of the core as the desktop shows it.
QString NativeText(const std::string& text)
{
    return QDir::toNativeSeparators(QString::fromStdString(DecodeLegacyText(text)));
}

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

std::string CViewDatabaseCommands::ConfigurationFile()
{
    return m_view.GetDocument().GetPathName();
}

bool CViewDatabaseCommands::AskExportFile(std::string& path, int* range)
{
    return CExportDialog::AskExportFile(&m_view, path, range);
}

bool CViewDatabaseCommands::RefuseExportFile(const std::string& reason)
{
    WrappedMessageBox(QMessageBox::Warning, QMessageBox::Ok, NativeText(reason), &m_view);
    return true;
}

bool CViewDatabaseCommands::MayReplaceWorkbook(const std::string& path)
{
    return WrappedMessageBox(QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No,
                             LoadString(StringId::kReplaceFile).arg(NativeText(path)),
                             &m_view) == QMessageBox::Yes;
}

void CViewDatabaseCommands::OpenInSpreadsheet(const std::string& path,
                                              const CExportWorkbook& workbook)
{
    if (!workbook.ErrorText().empty())
    {
        WrappedMessageBox(
            QMessageBox::Warning, QMessageBox::Ok,
            NativeText(workbook.ErrorText()) +
                QStringLiteral("\nDie exportierte Datei %1 bleibt erhalten.").arg(NativeText(path)),
            &m_view);
        return;
    }
    // Whatever the desktop makes of a file is its own matter; but with no
    // program for either file the user would not learn where they are.
    if (!s_pOpenDocument(QUrl::fromLocalFile(QString::fromStdString(workbook.Path()))) &&
        !s_pOpenDocument(QUrl::fromLocalFile(QString::fromStdString(path))))
        WrappedMessageBox(QMessageBox::Information, QMessageBox::Ok,
                          LoadString(StringId::kNoProgramForExport)
                              .arg(NativeText(path), NativeText(workbook.Path())),
                          &m_view);
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
