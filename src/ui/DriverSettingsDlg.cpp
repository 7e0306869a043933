#include "ui/DriverSettingsDlg.h"

#include "sensors/TextEncoding.h"
#include "ui/DialogButtons.h"
#include "ui/WrappedMessageBox.h"

#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{

constexpr int kWidth = 480;

QString FromBytes(const std::string& text)
{
    return QString::fromStdString(DecodeLegacyText(text));
}

const std::string* FindValue(const DataSourceAttributes& attributes, const std::string& key)
{
    for (const auto& [k, v] : attributes)
        if (QString::fromStdString(k).compare(QString::fromStdString(key), Qt::CaseInsensitive) ==
            0)
            return &v;
    return nullptr;
}

// A driver whose only keyword is Database keeps its data in a file.
bool IsFileDatabase(const std::vector<std::string>& keywords)
{
    return keywords.size() == 1 && keywords.front() == "Database";
}

QString LabelOf(const std::string& keyword, bool fileDatabase)
{
    if (keyword == "Database")
        return fileDatabase ? QStringLiteral("&Datenbankdatei:") : QStringLiteral("Daten&bank:");
    if (keyword == "Servername")
        return QStringLiteral("&Server:");
    if (keyword == "Port")
        return QStringLiteral("&Port:");
    if (keyword == "Username")
        return QStringLiteral("Ben&utzername:");
    if (keyword == "Password")
        return QStringLiteral("Pass&wort:");
    return FromBytes(keyword) + QLatin1Char(':');
}

} // namespace

CDriverSettingsDlg::CDriverSettingsDlg(const std::string& driver, const std::string& name,
                                       const DataSourceAttributes& attributes, QWidget* parent)
    : QDialog(parent), m_strName(name), m_attributes(attributes),
      m_keywords(DriverKeywords(driver)), m_pName(new QLineEdit(FromBytes(name), this))
{
    setWindowTitle(QStringLiteral("Datenquelle einrichten"));
    m_pName->setObjectName(QStringLiteral("name"));
    m_pName->setMaxLength(static_cast<int>(kMaxDataSourceNameLength));

    QLabel* intro = WrappedLabel(
        QStringLiteral("Der ODBC-Treiber „%1“ bringt keinen eigenen Einrichtungsdialog mit. Bitte "
                       "geben Sie hier an, wo die Daten gespeichert werden sollen.")
            .arg(FromBytes(driver)),
        this);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Name der Datenquelle:"), m_pName);
    const bool fileDatabase = IsFileDatabase(m_keywords);
    for (const std::string& keyword : m_keywords)
    {
        const std::string* value = FindValue(attributes, keyword);
        auto* field = new QLineEdit(value ? FromBytes(*value) : QString(), this);
        field->setObjectName(QString::fromStdString(keyword));
        if (keyword == "Password")
            field->setEchoMode(QLineEdit::Password);
        m_fields.push_back(field);
        if (fileDatabase)
        {
            auto* browse = new QPushButton(QStringLiteral("&Durchsuchen..."), this);
            connect(browse, &QPushButton::clicked, this, &CDriverSettingsDlg::OnBrowse);
            auto* row = new QHBoxLayout;
            row->addWidget(field, 1);
            row->addWidget(browse);
            auto* label = new QLabel(LabelOf(keyword, true), this);
            label->setBuddy(field);
            form->addRow(label, row);
        }
        else
            form->addRow(LabelOf(keyword, false), field);
    }
    if (m_keywords.empty())
    {
        QString text;
        for (const auto& [key, value] : attributes)
            text += FromBytes(key) + QLatin1Char('=') + FromBytes(value) + QLatin1Char('\n');
        m_pLines = new QPlainTextEdit(text, this);
        m_pLines->setObjectName(QStringLiteral("lines"));
        auto* label =
            new QLabel(QStringLiteral("&Einstellungen (je Zeile Schlüsselwort=Wert):"), this);
        label->setBuddy(m_pLines);
        form->addRow(label);
        form->addRow(m_pLines);
    }

    const CDialogButtons buttons(this, Qt::Horizontal);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addLayout(form, 1);
    layout->addLayout(buttons.m_pLayout);
    // Only the free lines grow; the fields get the height they need, with no
    // empty band above the buttons.
    const int fitting = heightForWidth(kWidth);
    resize(kWidth, m_pLines ? 320 : fitting > 0 ? fitting : sizeHint().height());
}

void CDriverSettingsDlg::Refuse(const QString& message)
{
    WrappedMessageBox(QMessageBox::Warning, QMessageBox::Ok, message, this);
}

void CDriverSettingsDlg::OnBrowse()
{
    QLineEdit* field = m_fields.front();
    const QString file = QFileDialog::getSaveFileName(
        this, QStringLiteral("Datenbankdatei"), field->text(),
        QStringLiteral("SQLite-Datenbanken (*.sqlite *.db);;Alle Dateien (*)"), nullptr,
        QFileDialog::DontConfirmOverwrite);
    if (!file.isEmpty())
        field->setText(QDir::toNativeSeparators(file));
}

void CDriverSettingsDlg::accept()
{
    const std::string name = m_pName->text().toStdString();
    if (const std::string error = CheckDataSourceName(name); !error.empty())
    {
        Refuse(QString::fromStdString(error));
        m_pName->setFocus();
        return;
    }

    DataSourceAttributes attributes;
    for (std::size_t i = 0; i < m_keywords.size(); ++i)
        attributes.emplace_back(m_keywords[i], m_fields[i]->text().trimmed().toStdString());
    if (m_pLines)
    {
        const QStringList lines = m_pLines->toPlainText().split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < lines.size(); ++i)
        {
            const QString line = lines[i].trimmed();
            if (line.isEmpty())
                continue;
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals <= 0 || line.left(equals).trimmed().isEmpty())
            {
                Refuse(
                    QStringLiteral("Zeile %1 hat nicht die Form Schlüsselwort=Wert.").arg(i + 1));
                m_pLines->setFocus();
                return;
            }
            attributes.emplace_back(line.left(equals).trimmed().toStdString(),
                                    line.mid(equals + 1).trimmed().toStdString());
        }
    }

    m_strName = name;
    m_attributes = std::move(attributes);
    QDialog::accept();
}
