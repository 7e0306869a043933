#include "settings/Settings.h"

#include <QDir>
#include <QStandardPaths>
#include <QVariant>

namespace
{

constexpr const char* kOrganization = "Arveda";
constexpr const char* kApplication = "Tessaro";
constexpr const char* kRecentGroup = "RecentFiles";

QString Key(CSettings::Section section, const char* name)
{
    return QString::fromLatin1(CSettings::m_pszSections[section]) + QLatin1Char('/') +
           QLatin1String(name);
}

} // namespace

CSettings::CSettings() : m_settings(kOrganization, kApplication) {}

int CSettings::ReadInt(Section section, const char* key, int fallback) const
{
    const QVariant value = m_settings.value(Key(section, key));
    if (!value.isValid())
        return fallback;
    // A hand-edited file may hold anything; only a whole 32-bit number counts.
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    return ok ? number : fallback;
}

void CSettings::WriteInt(Section section, const char* key, int value)
{
    m_settings.setValue(Key(section, key), value);
}

QString CSettings::ReadString(Section section, const char* key, const QString& fallback) const
{
    const QVariant value = m_settings.value(Key(section, key));
    if (!value.isValid())
        return fallback;
    // An unquoted comma in a hand-edited file makes the value a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    if (!value.canConvert<QString>())
        return fallback;
    return value.toString();
}

void CSettings::WriteString(Section section, const char* key, const QString& value)
{
    m_settings.setValue(Key(section, key), value);
}

bool CSettings::QuickConnect() const
{
    return ReadInt(SectionSettings, "QuickConnect", 1) != 0;
}

void CSettings::SetQuickConnect(bool quickConnect)
{
    WriteInt(SectionSettings, "QuickConnect", quickConnect ? 1 : 0);
}

QString CSettings::DataSource() const
{
    return ReadString(SectionSettings, "DataSource", QStringLiteral("Arveda Sensor Database"));
}

void CSettings::SetDataSource(const QString& name)
{
    WriteString(SectionSettings, "DataSource", name);
}

QString CSettings::UserName() const
{
    return ReadString(SectionSettings, "UserName", QString());
}

void CSettings::SetUserName(const QString& userName)
{
    WriteString(SectionSettings, "UserName", userName);
}

int CSettings::SizeX(int proposed) const
{
    return ReadInt(SectionWindow, "SizeX", proposed);
}

int CSettings::SizeY(int proposed) const
{
    return ReadInt(SectionWindow, "SizeY", proposed);
}

void CSettings::SetSize(int sizeX, int sizeY)
{
    WriteInt(SectionWindow, "SizeX", sizeX);
    WriteInt(SectionWindow, "SizeY", sizeY);
}

int CSettings::DbTimeout() const
{
    const QVariant value =
        m_settings.value(QLatin1String(m_pszDatabaseSection) + QStringLiteral("/Timeout"));
    bool ok = false;
    const int seconds = value.toString().trimmed().toInt(&ok);
    return ok && seconds >= 1 && seconds <= m_nMaxDbTimeout ? seconds : m_nDefaultDbTimeout;
}

void CSettings::SetDbTimeout(int seconds)
{
    m_settings.setValue(QLatin1String(m_pszDatabaseSection) + QStringLiteral("/Timeout"), seconds);
}

long CSettings::JournalLimit() const
{
    const QVariant value =
        m_settings.value(QLatin1String(m_pszDatabaseSection) + QStringLiteral("/JournalLimit"));
    bool ok = false;
    const long rows = value.toString().trimmed().toLong(&ok);
    return ok && rows >= 1 ? rows : m_nDefaultJournalLimit;
}

void CSettings::SetJournalLimit(long rows)
{
    m_settings.setValue(QLatin1String(m_pszDatabaseSection) + QStringLiteral("/JournalLimit"),
                        static_cast<qlonglong>(rows));
}

QString CSettings::ExcelExport() const
{
    return ReadString(SectionFiles, "ExcelExport", QString());
}

void CSettings::SetExcelExport(const QString& path)
{
    WriteString(SectionFiles, "ExcelExport", path);
}

int CSettings::ExportRange() const
{
    return ReadInt(SectionInput, "ExportRange", -7);
}

void CSettings::SetExportRange(int range)
{
    WriteInt(SectionInput, "ExportRange", range);
}

QStringList CSettings::RecentFiles() const
{
    QStringList files;
    for (int i = 1; i <= m_nMaxRecentFiles; ++i)
    {
        const QString file =
            m_settings.value(QStringLiteral("%1/File%2").arg(QLatin1String(kRecentGroup)).arg(i))
                .toString();
        if (!file.isEmpty())
            files.append(file);
    }
    return files;
}

void CSettings::SetRecentFiles(const QStringList& files)
{
    QStringList entries = files;
    entries.removeAll(QString());
    for (int i = 1; i <= m_nMaxRecentFiles; ++i)
    {
        const QString key = QStringLiteral("%1/File%2").arg(QLatin1String(kRecentGroup)).arg(i);
        if (i <= entries.size())
            m_settings.setValue(key, entries[i - 1]);
        else
            m_settings.remove(key);
    }
}

QString DefaultDatabaseFolder()
{
    // Equal to AppDataLocation once the application names are set, but also
    // right in a front end that never creates an application object.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/%1/%2").arg(QLatin1String(kOrganization), QLatin1String(kApplication));
}
