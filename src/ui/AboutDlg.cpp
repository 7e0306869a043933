#include "ui/AboutDlg.h"

#include "ui/IconPainter.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent),
      m_pVersionText(new QLabel(QStringLiteral("Tessaro Version %s\nCopyright © %s Arveda\n\n"
                                               "Messwerterfassung für Sensorgeräte im Netzwerk"),
                                this))
{
    setWindowTitle(QStringLiteral("Info über Tessaro"));
    m_pVersionText->setObjectName(QStringLiteral("versionText"));
    // Shown as it is: an ampersand is no mnemonic here, and no markup either.
    m_pVersionText->setTextFormat(Qt::PlainText);

    auto* icon = new QLabel(this);
    icon->setPixmap(CIconPainter::AppIcon().pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addSpacing(12);
    row->addWidget(m_pVersionText, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    OnInitDialog();
}

void CAboutDlg::OnInitDialog()
{
    QString text = m_pVersionText->text();
    for (const char* value : {kVersion, kYear})
    {
        const qsizetype at = text.indexOf(QLatin1String("%s"));
        if (at >= 0)
            text.replace(at, 2, QString::fromLatin1(value));
    }
    m_pVersionText->setText(text);
}
