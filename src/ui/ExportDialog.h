#pragma once

#include <QFileDialog>
#include <string>

class QCheckBox;
class QSpinBox;

// The save dialog of the exports: the last export's folder and name, the
// spreadsheet filter, "xls" added to a bare name, a German question before
// a file is replaced, and for a series the panel for the last N days.
class CExportDialog : public QFileDialog
{
public:
    // range: the days shown by the panel, as kept in the settings (N > 0:
    // the box checked with N; otherwise unchecked with -N); null for no
    // panel.
    CExportDialog(QWidget* parent, const int* range);

    // The range as the panel leaves it: the number, negated while the box
    // is unchecked.
    int Range() const;

    // The whole question: true with the chosen path. With a range, the
    // settings' range is offered and the new one stored; *range is then the
    // days to export, 0 for every reading. The path is stored as the last
    // export.
    static bool AskExportFile(QWidget* parent, std::string& path, int* range);

private:
    QCheckBox* m_pLastDays = nullptr;
    QSpinBox* m_pDays = nullptr;
};
