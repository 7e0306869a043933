#include "ui/DialogButtons.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CDialogButtons::CDialogButtons(QDialog* dialog, Qt::Orientation orientation,
                               const std::function<void()>& onOk)
    : m_pOk(new QPushButton(QStringLiteral("OK"), dialog)),
      m_pCancel(new QPushButton(QStringLiteral("Abbrechen"), dialog)),
      m_pLayout(orientation == Qt::Vertical ? static_cast<QBoxLayout*>(new QVBoxLayout)
                                            : new QHBoxLayout)
{
    m_pOk->setDefault(true);
    if (onOk)
        QObject::connect(m_pOk, &QPushButton::clicked, dialog, onOk);
    else
        QObject::connect(m_pOk, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(m_pCancel, &QPushButton::clicked, dialog, &QDialog::reject);
    if (orientation == Qt::Horizontal)
        m_pLayout->addStretch(1);
    m_pLayout->addWidget(m_pOk);
    m_pLayout->addWidget(m_pCancel);
    if (orientation == Qt::Vertical)
        m_pLayout->addStretch(1);
}

QLabel* WrappedLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}
