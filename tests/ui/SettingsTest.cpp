#include "settings/Settings.h"

#include "common/TempDir.h"

#include <QSettings>
#include <gtest/gtest.h>

namespace
{

// Each test gets its own settings folder.
class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString folder = QString::fromStdString(m_dir.Path().string());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    }

    std::filesystem::path File() const { return m_dir / "Arveda" / "Tessaro.conf"; }

    TempDir m_dir;
};

TEST_F(SettingsTest, AbsentValuesReadAsDefaultsAndSetOnesSurviveInTheirSections)
{
    {
        const CSettings settings;
        EXPECT_TRUE(settings.QuickConnect());
        EXPECT_EQ(settings.DataSource(), "Arveda Sensor Database");
        EXPECT_EQ(settings.UserName(), "");
        EXPECT_EQ(settings.SizeX(812), 812);
        EXPECT_EQ(settings.SizeY(433), 433);
        EXPECT_EQ(settings.ExcelExport(), "");
        EXPECT_EQ(settings.ExportRange(), -7);
        EXPECT_TRUE(settings.RecentFiles().isEmpty());
    }
    // Reading creates nothing.
    EXPECT_FALSE(std::filesystem::exists(File()));
    {
        CSettings settings;
        settings.SetQuickConnect(false);
        settings.SetDataSource(QStringLiteral("Messdaten Süd"));
        settings.SetUserName(QStringLiteral("anna"));
        settings.SetSize(1024, 700);
        settings.SetExcelExport(QStringLiteral("/home/anna/Export, alt.txt"));
        settings.SetExportRange(-30);
        settings.SetRecentFiles({"/a.ini", "", "/b.ini", "/c.ini", "/d.ini", "/e.ini"});
    }
    const CSettings settings;
    EXPECT_FALSE(settings.QuickConnect());
    EXPECT_EQ(settings.DataSource(), QStringLiteral("Messdaten Süd"));
    EXPECT_EQ(settings.UserName(), "anna");
    EXPECT_EQ(settings.SizeX(1), 1024);
    EXPECT_EQ(settings.SizeY(1), 700);
    EXPECT_EQ(settings.ExcelExport(), "/home/anna/Export, alt.txt");
    EXPECT_EQ(settings.ExportRange(), -30);
    // Four recent files, without gaps; a shorter list leaves no old ones behind.
    EXPECT_EQ(settings.RecentFiles(), QStringList({"/a.ini", "/b.ini", "/c.ini", "/d.ini"}));
    CSettings().SetRecentFiles({"/z.ini"});
    EXPECT_EQ(CSettings().RecentFiles(), QStringList({"/z.ini"}));

    // Each value sits in its own section, under its own name.
    const std::string text = ReadFileBytes(File());
    for (const char* expected :
         {"[Settings]", "QuickConnect=0", "UserName=anna", "[Window]", "SizeX=1024", "SizeY=700",
          "[Files]", "ExcelExport=", "[Input]", "ExportRange=-30"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << " missing in\n" << text;

    // An empty string is a value, not an absent one.
    CSettings().SetDataSource(QString());
    EXPECT_EQ(CSettings().DataSource(), "");
}

TEST_F(SettingsTest, DamagedNumbersReadAsDefaultsAndDamagedTextsSurvive)
{
    std::filesystem::create_directories(File().parent_path());
    WriteFileBytes(File(), "[Settings]\nQuickConnect=ja\nDataSource=Halle 3, Ost\n"
                           "[Window]\nSizeX=12px\nSizeY=99999999999\n"
                           "[Input]\nExportRange= 14 \n");
    const CSettings settings;
    EXPECT_TRUE(settings.QuickConnect());
    EXPECT_EQ(settings.DataSource(), "Halle 3, Ost");
    EXPECT_EQ(settings.SizeX(640), 640);
    EXPECT_EQ(settings.SizeY(480), 480);
    EXPECT_EQ(settings.ExportRange(), 14);

    WriteFileBytes(File(), "[Settings]\nQuickConnect=5\n[Input]\nExportRange=\n");
    EXPECT_TRUE(CSettings().QuickConnect());
    EXPECT_EQ(CSettings().ExportRange(), -7);
}

} // namespace
