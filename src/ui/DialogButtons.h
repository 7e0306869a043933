#pragma once

#include <Qt>
#include <functional>

class QBoxLayout;
class QDialog;
class QLabel;
class QPushButton;
class QString;
class QWidget;

// "OK", the default button, and "Abbrechen", which rejects the dialog:
// stacked at the top beside the fields, or in a row at the right below them.
// OK accepts the dialog, unless onOk says otherwise.
class CDialogButtons
{
public:
    CDialogButtons(QDialog* dialog, Qt::Orientation orientation,
                   const std::function<void()>& onOk = {});

    QPushButton* m_pOk;
    QPushButton* m_pCancel;
    // For the dialog's layout to take.
    QBoxLayout* m_pLayout;
};

// A dialog's explaining text, wrapped to the width the layout gives it.
QLabel* WrappedLabel(const QString& text, QWidget* parent);
