#include "ui/UiTestSupport.h"

#include <QApplication>
#include <QSettings>
#include <gtest/gtest.h>
#include <memory>

namespace
{

std::unique_ptr<OdbcTestEnv> g_odbcEnv;

} // namespace

OdbcTestEnv& SharedOdbcEnv()
{
    return *g_odbcEnv;
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    g_odbcEnv = std::make_unique<OdbcTestEnv>();
    // Nothing here may ever touch the settings of the person running the tests.
    const TempDir settingsDir;
    const QString folder = QString::fromStdString(settingsDir.Path().string());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    // Nor its data folder, where recording keeps its journals.
    qputenv("XDG_DATA_HOME", folder.toLocal8Bit());
    QApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    g_odbcEnv.reset();
    return result;
}
