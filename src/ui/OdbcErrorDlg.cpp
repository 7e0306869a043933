#include "ui/OdbcErrorDlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

COdbcErrorDlg::COdbcErrorDlg(const QString& message, QWidget* parent)
    : QDialog(parent), m_pTimer(new QTimer(this)), m_pCountdown(new QLabel(this)),
      m_pAutoClose(new QCheckBox(QStringLiteral("Fenster auto&matisch schließen"), this))
{
    setWindowTitle(QStringLiteral("ODBC-Fehler"));

    auto* icon = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()
                        ->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this)
                        .pixmap(iconSize, iconSize));
    icon->setAlignment(Qt::AlignTop);

    auto* text = new QPlainTextEdit(message, this);
    text->setObjectName(QStringLiteral("message"));
    text->setReadOnly(true);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    m_pAutoClose->setChecked(true);
    m_pCountdown->setObjectName(QStringLiteral("countdown"));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Abbrechen"), this);

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addWidget(text, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_pAutoClose);
    bottom->addWidget(m_pCountdown);
    bottom->addStretch(1);
    bottom->addWidget(ok);
    bottom->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addLayout(bottom);
    resize(400, 200);
    ok->setFocus();

    m_pTimer->setInterval(1000);
    connect(m_pTimer, &QTimer::timeout, this, &COdbcErrorDlg::OnTimer);
    connect(m_pAutoClose, &QCheckBox::clicked, this, &COdbcErrorDlg::OnAutoCloseClicked);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void COdbcErrorDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The count begins when the window first appears, not when it is built.
    if (!m_bStarted)
    {
        m_bStarted = true;
        m_pTimer->start();
    }
}

void COdbcErrorDlg::OnTimer()
{
    m_pCountdown->setText(QStringLiteral("(%1)").arg(m_nCountdown));
    if (--m_nCountdown < 0)
    {
        m_pTimer->stop();
        // Posted like a click on OK, so the last number is painted first.
        QMetaObject::invokeMethod(this, &QDialog::accept, Qt::QueuedConnection);
    }
}

void COdbcErrorDlg::OnAutoCloseClicked()
{
    m_pTimer->stop();
}
