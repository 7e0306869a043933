#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <array>

// Every value the program keeps between runs, in QSettings("Arveda", "Tessaro").
// Each value lives in one of four groups; the group is always taken from
// m_pszSections by index so that no reader or writer spells it on its own.
class CSettings
{
public:
    enum Section
    {
        SectionSettings = 0,
        SectionWindow = 1,
        SectionFiles = 2,
        SectionInput = 3,
    };
    static constexpr std::array<const char*, 4> m_pszSections = {"Settings", "Window", "Files",
                                                                 "Input"};
    static constexpr int m_nMaxRecentFiles = 4;
    // Beside the four sections: how long the database may take, and how
    // many readings are kept while it is away.
    static constexpr const char* m_pszDatabaseSection = "Database";
    static constexpr int m_nDefaultDbTimeout = 15;
    static constexpr int m_nMaxDbTimeout = 3600;
    static constexpr long m_nDefaultJournalLimit = 1000000;

    CSettings();

    bool QuickConnect() const;
    void SetQuickConnect(bool quickConnect);
    QString DataSource() const;
    void SetDataSource(const QString& name);
    QString UserName() const;
    void SetUserName(const QString& userName);

    // proposed: what the window system would give a new main window.
    int SizeX(int proposed) const;
    int SizeY(int proposed) const;
    void SetSize(int sizeX, int sizeY);

    // Seconds, 1 to m_nMaxDbTimeout; anything else reads as the default.
    int DbTimeout() const;
    void SetDbTimeout(int seconds);
    // Rows, at least 1.
    long JournalLimit() const;
    void SetJournalLimit(long rows);

    QString ExcelExport() const;
    void SetExcelExport(const QString& path);

    int ExportRange() const;
    void SetExportRange(int range);

    // Most recent first, at most m_nMaxRecentFiles, no empty entries.
    QStringList RecentFiles() const;
    void SetRecentFiles(const QStringList& files);

    void Sync() { m_settings.sync(); }

private:
    int ReadInt(Section section, const char* key, int fallback) const;
    void WriteInt(Section section, const char* key, int value);
    QString ReadString(Section section, const char* key, const QString& fallback) const;
    void WriteString(Section section, const char* key, const QString& value);

    QSettings m_settings;
};

// Where the embedded default database goes: the application's data folder,
// worked out without needing an application object.
QString DefaultDatabaseFolder();
