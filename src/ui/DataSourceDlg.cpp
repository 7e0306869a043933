#include "ui/DataSourceDlg.h"

#include "sensors/TextEncoding.h"
#include "ui/DialogButtons.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

CDataSourceDlg::CDataSourceDlg(const std::vector<std::string>& drivers, const std::string& driver,
                               QWidget* parent)
    : QDialog(parent), m_strDriver(driver), m_pDrivers(new QComboBox(this)),
      m_pEveryone(new QRadioButton(QStringLiteral("&jedermann"), this))
{
    setWindowTitle(QStringLiteral("Datenquelle anlegen"));

    // A sorted list, as people look for a name alphabetically whatever its case.
    std::vector<std::string> sorted = drivers;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const std::string& a, const std::string& b)
                     {
                         return QString::fromStdString(DecodeLegacyText(a))
                                    .compare(QString::fromStdString(DecodeLegacyText(b)),
                                             Qt::CaseInsensitive) < 0;
                     });
    // The driver's name goes back to the installer byte for byte.
    for (const std::string& name : sorted)
        m_pDrivers->addItem(QString::fromStdString(DecodeLegacyText(name)),
                            QByteArray::fromStdString(name));
    m_pDrivers->setCurrentIndex(-1);

    auto* driverLabel =
        new QLabel(QStringLiteral("Bitte wählen Sie einen ODBC-&Treiber aus:"), this);
    driverLabel->setBuddy(m_pDrivers);
    QLabel* formatText = WrappedLabel(
        QStringLiteral("Der Treiber bestimmt das Format, in dem Ihre Daten gespeichert werden. Am "
                       "unproblematischsten ist \"SQLite3\" für eine Datei auf diesem Rechner. "
                       "Für eine Datenbank auf einem Server ist \"PostgreSQL\" geeignet."),
        this);

    auto* scope = new QGroupBox(QStringLiteral("Datenquelle soll ver&wendbar sein für"), this);
    auto* currentUser = new QRadioButton(QStringLiteral("den aktuellen Be&nutzer"), scope);
    m_pEveryone->setParent(scope);
    currentUser->setChecked(true);
    auto* scopeLayout = new QVBoxLayout(scope);
    scopeLayout->addWidget(currentUser);
    scopeLayout->addWidget(m_pEveryone);

    QLabel* nextText = WrappedLabel(
        QStringLiteral(
            "Im nächsten Schritt können Sie noch weitere Parameter angeben, insbesondere "
            "den Ort, an dem die Daten gespeichert werden. Das kann, je nach Treiber, "
            "eine Datei sein, ein Verzeichnis, oder eine Datenbank."),
        this);

    const CDialogButtons buttons(this, Qt::Vertical);

    auto* left = new QVBoxLayout;
    left->addWidget(driverLabel);
    left->addWidget(m_pDrivers);
    left->addWidget(formatText);
    left->addWidget(scope);
    left->addWidget(nextText);
    left->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(buttons.m_pLayout);
    resize(460, 300);
}

void CDataSourceDlg::accept()
{
    if (m_pDrivers->currentIndex() >= 0)
        m_strDriver = m_pDrivers->currentData().toByteArray().toStdString();
    m_bSystem = m_pEveryone->isChecked();
    QDialog::accept();
}

void CDataSourceDlg::reject()
{
    m_strDriver.clear();
    QDialog::reject();
}
