#include "desktop/DesktopTestSupport.h"

#include <QAbstractButton>

void DesktopTest::SetUp()
{
    const QString folder = QString::fromStdString(m_settings.Path().string());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    // The data folder (recovery copy, proposed databases) too.
    qputenv("XDG_DATA_HOME", (folder + QStringLiteral("/data")).toLocal8Bit());
    QGuiApplication::clipboard()->clear();
}

void DesktopTest::TearDown()
{
    m_frames.clear();
    QGuiApplication::clipboard()->clear();
}

CMainFrame& DesktopTest::NewFrame()
{
    m_frames.push_back(std::make_unique<CMainFrame>(m_bRecording));
    CMainFrame& frame = *m_frames.back();
    frame.OnFileNew();
    frame.show();
    frame.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&frame));
    QCoreApplication::processEvents();
    return frame;
}

CMainFrame& DesktopTest::OpenFrame(const std::string& bytes, const std::string& name)
{
    CMainFrame& frame = NewFrame();
    EXPECT_TRUE(frame.OpenDocumentFile(WriteConfig(name, bytes)));
    return frame;
}

QString DesktopTest::WriteConfig(const std::string& name, const std::string& bytes)
{
    WriteFileBytes(m_files / name, bytes);
    return FilePath(name);
}

void DesktopTest::Select(std::initializer_list<int> rows)
{
    View().clearSelection();
    for (int row : rows)
        View().topLevelItem(row)->setSelected(true);
}

void DesktopTest::Key(int key, Qt::KeyboardModifiers modifiers)
{
    // Without a window manager nobody gives the window back its keyboard
    // after a modal dialog.
    if (!QApplication::focusWidget())
    {
        Frame().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&Frame()));
    }
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    QTest::keyClick(focus, static_cast<Qt::Key>(key), modifiers);
}

QStringList DesktopTest::Column(int column)
{
    QStringList texts;
    for (int row = 0; row < View().topLevelItemCount(); ++row)
        texts.append(View().topLevelItem(row)->text(column));
    return texts;
}

std::vector<std::string> DesktopTest::DocumentAddresses()
{
    std::vector<std::string> addresses;
    for (const auto& record : Frame().GetDocument().m_sensors)
        addresses.push_back(record->m_strAddress);
    return addresses;
}

void Answer(QWidget* box, QMessageBox::StandardButton button)
{
    auto* messageBox = qobject_cast<QMessageBox*>(box);
    QAbstractButton* answer = messageBox ? messageBox->button(button) : nullptr;
    EXPECT_NE(answer, nullptr) << box->windowTitle().toStdString();
    // Another dialog than the one expected fails the test, not hangs it.
    if (answer)
        answer->click();
    else if (auto* dialog = qobject_cast<QDialog*>(box))
        dialog->reject();
}
