#include "ui/LoginDlg.h"

#include "ui/DialogButtons.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CLoginDlg::CLoginDlg(const QString& userName, const QString& password, QWidget* parent)
    : QDialog(parent), m_strUserName(userName), m_strPassword(password),
      m_pUserName(new QLineEdit(userName, this)), m_pPassword(new QLineEdit(password, this))
{
    setWindowTitle(QStringLiteral("Anmelden"));
    m_pUserName->setObjectName(QStringLiteral("userName"));
    m_pPassword->setObjectName(QStringLiteral("password"));
    m_pPassword->setEchoMode(QLineEdit::Password);

    auto* userLabel = new QLabel(QStringLiteral("Benutzer&name:"), this);
    userLabel->setBuddy(m_pUserName);
    auto* passwordLabel = new QLabel(QStringLiteral("Pass&wort:"), this);
    passwordLabel->setBuddy(m_pPassword);

    QLabel* notStored = WrappedLabel(
        QStringLiteral("Ein hier angegebenes Passwort wird nicht dauerhaft gespeichert, sondern "
                       "nur so lange, bis Sie das Programm beenden."),
        this);
    QLabel* hint = WrappedLabel(
        QStringLiteral("Falls Ihnen dieser Sicherheitsaspekt egal ist, ist es einfacher, diesen "
                       "Dialog in Zukunft nicht mehr anzeigen zu lassen (Menüoption) und die "
                       "entsprechenden Anmeldeinformationen stattdessen direkt in den "
                       "Konfigurationsdaten der Datenquelle zu hinterlegen."),
        this);

    const CDialogButtons buttons(this, Qt::Vertical);

    auto* fields = new QGridLayout;
    fields->addWidget(userLabel, 0, 0);
    fields->addWidget(m_pUserName, 0, 1);
    fields->addWidget(passwordLabel, 1, 0);
    fields->addWidget(m_pPassword, 1, 1);
    auto* left = new QVBoxLayout;
    left->addLayout(fields);
    left->addWidget(notStored);
    left->addWidget(hint);
    left->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(buttons.m_pLayout);
    resize(420, 220);
}

void CLoginDlg::accept()
{
    m_strUserName = m_pUserName->text();
    m_strPassword = m_pPassword->text();
    QDialog::accept();
}
