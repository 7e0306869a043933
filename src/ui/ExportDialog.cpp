#include "ui/ExportDialog.h"

#include "settings/Settings.h"
#include "ui/FileDialogColumns.h"
#include "ui/StringTable.h"
#include "ui/WrappedMessageBox.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <algorithm>
#include <cstdlib>

namespace
{

constexpr unsigned kStrSpreadsheetFilter = 193; // "Excel-Arbeitsblätter"
constexpr unsigned kStrAllFilesFilter = 194;    // "Alle Dateien"
constexpr unsigned kStrExportTitle = 256;       // "Sensordaten exportieren"

// The arrows step from 1 to 365 days; a longer range can still be typed.
class CDaysSpinBox : public QSpinBox
{
public:
    explicit CDaysSpinBox(QWidget* parent) : QSpinBox(parent)
    {
        setRange(0, kMaxTyped);
        setObjectName(QStringLiteral("exportRangeDays"));
    }

    void stepBy(int steps) override
    {
        setValue(std::clamp(value() + steps, kMinStep, kMaxStep));
        selectAll();
    }

protected:
    StepEnabled stepEnabled() const override
    {
        StepEnabled enabled = StepNone;
        if (value() < kMaxStep)
            enabled |= StepUpEnabled;
        if (value() > kMinStep)
            enabled |= StepDownEnabled;
        return enabled;
    }

private:
    static constexpr int kMinStep = 1;
    static constexpr int kMaxStep = 365;
    static constexpr int kMaxTyped = 99999;
};

} // namespace

CExportDialog::CExportDialog(QWidget* parent, const int* range)
    : QFileDialog(parent, LoadString(kStrExportTitle))
{
    setObjectName(QStringLiteral("exportDialog"));
    setOption(QFileDialog::DontUseNativeDialog);
    // Asked in German when the name is confirmed.
    setOption(QFileDialog::DontConfirmOverwrite);
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    // The dialog shows each filter's text without its last pattern, which is
    // what it filters by: "*.*" would hide every file without a dot.
    setOption(QFileDialog::HideNameFilterDetails);
    setNameFilters({LoadString(kStrSpreadsheetFilter) + QStringLiteral(" (*.xls) (*.xls)"),
                    LoadString(kStrAllFilesFilter) + QStringLiteral(" (*.*) (*)")});
    setDefaultSuffix(QStringLiteral("xls"));
    setLabelText(QFileDialog::LookIn, QStringLiteral("Speichern in:"));
    setLabelText(QFileDialog::FileName, QStringLiteral("Datei&name:"));
    setLabelText(QFileDialog::FileType, QStringLiteral("Dateityp:"));
    setLabelText(QFileDialog::Accept, QStringLiteral("&Speichern"));
    setLabelText(QFileDialog::Reject, QStringLiteral("Abbrechen"));
    FitFileDialogColumns(*this);
    if (!range)
        return;

    auto* panel = new QWidget(this);
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 0, 0, 0);
    m_pLastDays = new QCheckBox(QStringLiteral("nur Daten der &letzten"), panel);
    m_pLastDays->setObjectName(QStringLiteral("exportRangeCheck"));
    m_pDays = new CDaysSpinBox(panel);
    row->addWidget(m_pLastDays);
    row->addWidget(m_pDays);
    row->addWidget(new QLabel(QStringLiteral("Tage"), panel));
    row->addStretch();
    // The dialog's own controls sit in a grid; the panel is a row below them.
    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(panel, grid->rowCount(), 0, 1, grid->columnCount());

    // Below 1 the number stands for the days offered next, shown unsigned.
    m_pLastDays->setChecked(*range >= 1);
    m_pDays->setValue(static_cast<int>(std::min(std::abs(static_cast<long>(*range)), 99999L)));
    m_pDays->setEnabled(*range >= 1);
    connect(m_pLastDays, &QCheckBox::toggled, m_pDays, &QWidget::setEnabled);
}

int CExportDialog::Range() const
{
    if (!m_pDays)
        return 0;
    // An empty field holds no number: 0.
    const int days = m_pDays->cleanText().isEmpty() ? 0 : m_pDays->value();
    return m_pLastDays->isChecked() ? days : -days;
}

bool CExportDialog::AskExportFile(QWidget* parent, std::string& path, int* range)
{
    CSettings settings;
    const QString last = settings.ExcelExport();
    const int stored = settings.ExportRange();
    CExportDialog dialog(parent, range ? &stored : nullptr);
    if (!last.isEmpty())
    {
        const QFileInfo info(last);
        dialog.setDirectory(info.absolutePath());
        dialog.selectFile(info.fileName());
    }
    QString chosen;
    for (;;)
    {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return false;
        chosen = dialog.selectedFiles().first();
        if (!QFileInfo::exists(chosen) ||
            WrappedMessageBox(
                QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No,
                LoadString(StringId::kReplaceFile).arg(QDir::toNativeSeparators(chosen)),
                &dialog) == QMessageBox::Yes)
            break;
    }

    settings.SetExcelExport(chosen);
    path = chosen.toStdString();
    if (range)
    {
        // Kept signed, so that an unchecked box offers its number again.
        *range = dialog.Range();
        settings.SetExportRange(*range);
        *range = std::max(*range, 0);
    }
    return true;
}
