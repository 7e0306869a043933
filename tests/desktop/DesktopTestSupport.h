#pragma once

#include "common/TempDir.h"
#include "db/DbTestSupport.h"
#include "sensors/OrbelDoc.h"
#include "settings/Settings.h"
#include "ui/CommandTable.h"
#include "ui/MainFrame.h"
#include "ui/OrbelView.h"
#include "ui/UiTestSupport.h"
#include "ui/WidgetTestSupport.h"

// What the window tests look at.
#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Readable failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// Three sensors of one configuration file, with umlauts and a disabled one.
inline const std::string kThreeSensors = "ZELD1\r\n"
                                         "10.0.0.5\t80\t0\t15\t°C\tLager Süd\t0x00\r\n"
                                         "Geraet-B\t8080\t2\t5\t%\tBüro\t0x01\r\n"
                                         "alpha.local\t81\t1\t60\tkWh\tZähler\t0x00\r\n";

// Every test gets settings and files of its own, and a window that has the
// keyboard, as a user's would.
class DesktopTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A new frame with an empty configuration, shown and active.
    CMainFrame& NewFrame();
    // A new frame showing a configuration file of these bytes.
    CMainFrame& OpenFrame(const std::string& bytes = kThreeSensors,
                          const std::string& name = "drei.ini");
    // Writes bytes into a file of the test's folder and returns its path.
    QString WriteConfig(const std::string& name, const std::string& bytes);
    QString FilePath(const std::string& name) const
    {
        return QString::fromStdString((m_files / name).string());
    }
    std::string ReadConfig(const QString& path) const { return ReadFileBytes(path.toStdString()); }

    CMainFrame& Frame() { return *m_frames.back(); }
    COrbelView& View() { return *Frame().GetActiveView(); }
    QAction* Act(int id) { return Frame().Commands().Action(id); }
    QLabel* MessagePane() { return Frame().findChild<QLabel*>(QStringLiteral("messagePane")); }
    void Select(std::initializer_list<int> rows);
    // A key typed where the keyboard focus is.
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    QStringList Column(int column);
    std::vector<std::string> DocumentAddresses();

    TempDir m_settings;
    TempDir m_files;
    bool m_bRecording = false;
    std::vector<std::unique_ptr<CMainFrame>> m_frames;
};

// Clicks the message box button of that standard role.
void Answer(QWidget* box, QMessageBox::StandardButton button);
