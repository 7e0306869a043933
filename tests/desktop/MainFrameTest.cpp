#include "desktop/DesktopTestSupport.h"

#include <QScreen>
#include <QToolBar>

namespace
{

// A desktop with a notification area, which the test machine lacks.
class CTrayFrame : public CMainFrame
{
public:
    using CMainFrame::CMainFrame;

protected:
    bool IsTrayAvailable() const override { return true; }
};

QStringList MenuTexts(QMenu* menu)
{
    QStringList texts;
    for (QAction* action : menu->actions())
        if (action->isVisible())
            texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

using MainFrameTest = DesktopTest;

TEST_F(MainFrameTest, MenusToolbarAndStatusBarShowTheirItemsAndCheckMarks)
{
    CMainFrame& frame = NewFrame();
    QStringList titles;
    for (QAction* menu : frame.menuBar()->actions())
        titles.append(menu->text());
    EXPECT_EQ(titles,
              QStringList({"&Datei", "&Bearbeiten", "&Ansicht", "&Sensoren", "&ODBC", "&Hilfe"}));
    QMenu* file = frame.menuBar()->actions()[0]->menu();
    emit file->aboutToShow();
    // No recent files yet: the greyed placeholder stands where they go.
    EXPECT_EQ(MenuTexts(file),
              QStringList({"&Neu\tStrg+N", "Ö&ffnen...\tStrg+O", "S&peichern\tStrg+S",
                           "Speichern &unter...", "-", "Letzte Datei", "-", "&Beenden"}));
    EXPECT_FALSE(Act(ID_FILE_MRU_FILE1)->isEnabled());
    QMenu* sensors = frame.menuBar()->actions()[3]->menu();
    EXPECT_EQ(MenuTexts(sensors).size(), 12);
    EXPECT_EQ(MenuTexts(sensors).last(), "&Start/Stop\tStrg+R");

    // Check marks follow the state they show, whoever changed it.
    EXPECT_TRUE(Act(ID_LOCK_SELECTION)->isChecked());
    EXPECT_FALSE(Act(ID_LOGIN_REQUIRED)->isChecked());
    frame.OnCommand(ID_LOGIN_REQUIRED);
    EXPECT_TRUE(Act(ID_LOGIN_REQUIRED)->isChecked());
    EXPECT_FALSE(View().m_db.m_bQuickConnect);
    EXPECT_FALSE(Act(ID_START_STOP)->isChecked());
    EXPECT_TRUE(Act(ID_START_STOP)->isEnabled());
    m_bRecording = true;
    emit sensors->aboutToShow();
    EXPECT_TRUE(Act(ID_START_STOP)->isChecked());
    m_bRecording = false;

    EXPECT_TRUE(Act(ID_VIEW_TOOLBAR)->isChecked());
    Act(ID_VIEW_TOOLBAR)->trigger();
    EXPECT_TRUE(frame.m_wndToolBar->isHidden());
    EXPECT_FALSE(Act(ID_VIEW_TOOLBAR)->isChecked());
    Act(ID_VIEW_STATUS_BAR)->trigger();
    EXPECT_TRUE(frame.m_wndStatusBar->isHidden());
    EXPECT_FALSE(Act(ID_VIEW_STATUS_BAR)->isChecked());

    const QList<QAction*> buttons = frame.m_wndToolBar->actions();
    // The 22 slots, and "Verlauf anzeigen" after the exports.
    ASSERT_EQ(buttons.size(), 23);
    std::vector<QImage> pictures;
    for (int slot = 0; slot < 23; ++slot)
    {
        const bool gap = slot == 3 || slot == 6 || slot == 11 || slot == 13 || slot == 21;
        EXPECT_EQ(buttons[slot]->isSeparator(), gap) << slot + 1;
        if (gap || slot == 14)
            continue;
        const QImage picture = buttons[slot]->icon().pixmap(16, 16).toImage();
        ASSERT_FALSE(picture.isNull()) << slot + 1;
        for (const QImage& other : pictures)
            EXPECT_NE(picture, other) << "slot " << slot + 1 << " looks like another";
        pictures.push_back(picture);
    }
    EXPECT_EQ(CCommandTable::CommandOf(buttons[20]), ID_SHOW_HISTORY);
    EXPECT_EQ(CCommandTable::CommandOf(buttons[22]), ID_START_STOP);

    // Slot 15 holds the data-source box.
    QComboBox* combo = frame.m_wndDataSourceCombo;
    EXPECT_EQ(frame.m_wndToolBar->widgetForAction(buttons[14]), combo);
    EXPECT_EQ(combo->width(), 150);
    EXPECT_TRUE(combo->isEditable());
    EXPECT_FALSE(combo->isEnabled());
    EXPECT_EQ(combo->toolTip(), "ODBC-Datenquelle");

    EXPECT_EQ(MessagePane()->text(), "Bereit");
    for (const char* indicator : {"UF", "NUM", "RF"})
        EXPECT_NE(frame.findChild<QLabel*>(QString::fromLatin1(indicator)), nullptr) << indicator;
    Act(ID_ENABLE_DISABLE)->showStatusText(&frame);
    EXPECT_EQ(frame.m_wndStatusBar->currentMessage(),
              "Schließt einzelne Sensoren von der Verwendung aus, ohne sie aus der Liste zu "
              "entfernen.");
    EXPECT_EQ(Act(ID_ENABLE_DISABLE)->toolTip(), "Sensor (de-)aktivieren");
}

TEST_F(MainFrameTest, CommandsFollowTheSelectionAndClipboardAndTheBoxKeepsItsKeys)
{
    CMainFrame& frame = OpenFrame();
    const int needOne[] = {ID_PROPERTIES, ID_ENABLE_DISABLE, ID_EDIT_COPY, ID_EDIT_CUT,
                           ID_EDIT_CLEAR};
    const int needExactlyOne[] = {ID_OPEN_IN_BROWSER, ID_EXPORT_SERIES, ID_EXPORT_SUMMARY};
    const int always[] = {
        ID_NEW_SENSOR, ID_EDIT_SELECT_ALL,  ID_FIT_COLUMNS,  ID_LOCK_SELECTION, ID_LOGIN_REQUIRED,
        ID_START_STOP, ID_EDIT_DATA_SOURCE, ID_OTHER_DRIVER, ID_FILE_NEW,       ID_FILE_SAVE};
    for (int selected : {0, 1, 2, 3})
    {
        View().clearSelection();
        for (int row = 0; row < selected; ++row)
            View().topLevelItem(row)->setSelected(true);
        for (int id : needOne)
            EXPECT_EQ(Act(id)->isEnabled(), selected >= 1) << id << " with " << selected;
        for (int id : needExactlyOne)
            EXPECT_EQ(Act(id)->isEnabled(), selected == 1) << id << " with " << selected;
        for (int id : always)
            EXPECT_TRUE(Act(id)->isEnabled()) << id << " with " << selected;
    }

    EXPECT_FALSE(Act(ID_EDIT_PASTE)->isEnabled());
    QGuiApplication::clipboard()->setText(QStringLiteral("irgendein Text"));
    EXPECT_TRUE(Act(ID_EDIT_PASTE)->isEnabled());

    // A command greyed out does nothing when it arrives another way.
    Select({0, 1});
    CModalWatcher watcher;
    frame.OnCommand(ID_EXPORT_SERIES);
    EXPECT_EQ(watcher.Count(), 0);

    QComboBox* combo = frame.m_wndDataSourceCombo;
    // A selected row would take the program's keys.
    Select({0});
    View().setFocus();
    QCoreApplication::processEvents();

    // A locked box cannot take the focus; Strg+L unlocks it.
    Key(Qt::Key_Tab);
    EXPECT_TRUE(View().hasFocus());
    Key(Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(combo->isEnabled());
    Key(Qt::Key_Tab);
    EXPECT_TRUE(combo->hasFocus());

    // Keys typed there edit the name, not the sensors.
    const int listed = combo->count();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("Messdatenx"));
    Key(Qt::Key_Left);
    Key(Qt::Key_Delete);
    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_C, Qt::ControlModifier);
    Key(Qt::Key_Return);
    Key(Qt::Key_E, Qt::ControlModifier);
    QCoreApplication::processEvents();
    EXPECT_EQ(combo->currentText(), "Messdaten");
    // The list holds defined data sources only: Enter adds no typed name.
    EXPECT_EQ(combo->count(), listed);
    EXPECT_EQ(combo->findText("Messdaten"), -1);
    EXPECT_EQ(View().topLevelItemCount(), 3);
    EXPECT_EQ(watcher.Count(), 0);
    EXPECT_FALSE(frame.GetDocument().IsModified());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "Messdaten");

    // Tab leaves the box for the list, and so does any other way out.
    Key(Qt::Key_Tab);
    QCoreApplication::processEvents();
    EXPECT_TRUE(View().hasFocus());
    combo->setFocus(Qt::TabFocusReason);
    frame.menuBar()->setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
    EXPECT_TRUE(View().hasFocus());
    // The box's own drop-down list only borrows the focus.
    combo->setFocus(Qt::TabFocusReason);
    combo->showPopup();
    QCoreApplication::processEvents();
    combo->hidePopup();
    QCoreApplication::processEvents();
    EXPECT_TRUE(combo->hasFocus());
}

TEST_F(MainFrameTest, MinimisedWhileRecordingASavedConfigurationHidesInTheTray)
{
    m_frames.push_back(std::make_unique<CTrayFrame>(m_bRecording));
    CMainFrame& frame = Frame();
    ASSERT_TRUE(frame.OpenDocumentFile(WriteConfig("drei.ini", kThreeSensors)));
    frame.show();
    QCoreApplication::processEvents();
    const auto minimise = [&]
    {
        frame.showMinimized();
        QCoreApplication::processEvents();
    };

    // Not recording, or recording with unsaved changes: an ordinary minimised window.
    for (const bool recording : {false, true})
    {
        m_bRecording = recording;
        frame.GetDocument().SetModifiedFlag(recording);
        minimise();
        EXPECT_TRUE(View().m_bMinimized);
        EXPECT_TRUE(frame.isVisible());
        EXPECT_FALSE(frame.m_trayIcon.IsShown());
        frame.OnRestoreWindow();
        QCoreApplication::processEvents();
        EXPECT_FALSE(View().m_bMinimized);
    }
    frame.GetDocument().SetModifiedFlag(false);
    minimise();
    EXPECT_FALSE(frame.isVisible());
    ASSERT_TRUE(frame.m_trayIcon.IsShown());
    EXPECT_EQ(frame.m_trayIcon.ToolTip(), "Tessaro - Messwerterfassung läuft.");
    QMenu* menu = frame.m_trayIcon.Menu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(MenuTexts(menu), QStringList({"Fenster &wiederherstellen", "-", "Tessaro &beenden"}));
    EXPECT_EQ(menu->defaultAction(), menu->actions().first());

    // A single click does nothing; a double click brings the window back.
    EXPECT_FALSE(frame.m_trayIcon.OnTrayNotification(QSystemTrayIcon::Trigger));
    EXPECT_FALSE(frame.isVisible());
    EXPECT_TRUE(frame.m_trayIcon.OnTrayNotification(QSystemTrayIcon::DoubleClick));
    QCoreApplication::processEvents();
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(frame.isMinimized());
    EXPECT_FALSE(frame.m_trayIcon.IsShown());

    // "Tessaro beenden" from the tray closes without storing the size.
    CSettings().SetSize(640, 480);
    minimise();
    ASSERT_TRUE(frame.m_trayIcon.IsShown());
    frame.m_trayIcon.Menu()->actions().last()->trigger();
    QCoreApplication::processEvents();
    EXPECT_FALSE(frame.isVisible());
    EXPECT_EQ(CSettings().SizeX(0), 640);
    EXPECT_EQ(CSettings().SizeY(0), 480);
}

TEST_F(MainFrameTest, SettingsAreSavedAtCloseEvenWhenItIsCancelledUnlessMinimised)
{
    CMainFrame& first = NewFrame();
    // What a new window gets on a first start.
    const QSize screen = first.screen()->availableSize();
    EXPECT_EQ(first.size(), QSize(screen.width() * 3 / 4, screen.height() * 3 / 4));
    first.resize(610, 420);
    first.OnCommand(ID_LOCK_SELECTION);
    first.m_wndDataSourceCombo->setEditText(QStringLiteral("Messdaten Süd"));
    first.OnCommand(ID_LOGIN_REQUIRED);
    View().m_db.m_strUserName = "anna";
    View().m_db.m_strPassword = "geheim";
    first.GetDocument().SetModifiedFlag();
    CModalWatcher watcher([](QWidget* box) { Answer(box, QMessageBox::Cancel); });
    EXPECT_FALSE(first.close());
    EXPECT_EQ(QSize(CSettings().SizeX(0), CSettings().SizeY(0)), QSize(610, 420));
    EXPECT_EQ(CSettings().DataSource(), "Messdaten Süd");
    EXPECT_FALSE(CSettings().QuickConnect());
    EXPECT_EQ(CSettings().UserName(), "anna");
    // The password stays in memory only.
    QSettings file(QStringLiteral("Arveda"), QStringLiteral("Tessaro"));
    for (const QString& key : file.allKeys())
        EXPECT_NE(file.value(key).toString(), "geheim") << key.toStdString();

    CMainFrame& second = NewFrame();
    EXPECT_EQ(second.size(), QSize(610, 420));
    EXPECT_EQ(second.m_wndDataSourceCombo->currentText(), "Messdaten Süd");
    EXPECT_TRUE(Act(ID_LOGIN_REQUIRED)->isChecked());
    // The lock is not kept.
    EXPECT_TRUE(Act(ID_LOCK_SELECTION)->isChecked());
    EXPECT_FALSE(second.m_wndDataSourceCombo->isEnabled());
    // Without a notification area a window is never hidden, not even while
    // recording; minimised, it keeps the size of the last normal run.
    second.resize(500, 300);
    m_bRecording = true;
    second.showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(second.isVisible());
    EXPECT_FALSE(second.m_trayIcon.IsShown());
    EXPECT_TRUE(second.close());
    EXPECT_EQ(CSettings().SizeX(0), 610);
}

TEST_F(MainFrameTest, SettingsReadDefaultsForAbsentOrDamagedValuesAndKeepTheirSections)
{
    const std::filesystem::path file = m_settings / "Arveda" / "Tessaro.conf";
    EXPECT_TRUE(CSettings().QuickConnect());
    EXPECT_EQ(CSettings().DataSource(), "Arveda Sensor Database");
    EXPECT_EQ(CSettings().SizeX(812), 812);
    EXPECT_EQ(CSettings().ExportRange(), -7);
    EXPECT_TRUE(CSettings().RecentFiles().isEmpty());
    // Reading creates nothing.
    EXPECT_FALSE(std::filesystem::exists(file));
    CSettings().SetExcelExport(QStringLiteral("/home/anna/Export, alt.txt"));
    CSettings().SetExportRange(-30);
    CSettings().SetSize(1024, 700);
    // Four recent files, without gaps; a shorter list leaves no old ones behind.
    CSettings().SetRecentFiles({"/a.ini", "", "/b.ini", "/c.ini", "/d.ini", "/e.ini"});
    EXPECT_EQ(CSettings().RecentFiles(), QStringList({"/a.ini", "/b.ini", "/c.ini", "/d.ini"}));
    CSettings().SetRecentFiles({"/z.ini"});
    EXPECT_EQ(CSettings().RecentFiles(), QStringList({"/z.ini"}));
    EXPECT_EQ(CSettings().ExcelExport(), "/home/anna/Export, alt.txt");
    // An empty string is a value, not an absent one.
    CSettings().SetDataSource(QString());
    EXPECT_EQ(CSettings().DataSource(), "");
    const std::string text = ReadFileBytes(file);
    for (const char* expected : {"[Window]", "SizeX=1024", "SizeY=700", "[Files]", "ExcelExport=",
                                 "[Input]", "ExportRange=-30", "[Settings]", "DataSource="})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << " missing in\n" << text;

    // A hand-edited file: numbers that are not whole ones read as the
    // default, a text with a comma as written.
    WriteFileBytes(file, "[Settings]\nQuickConnect=ja\nDataSource=Halle 3, Ost\n"
                         "[Window]\nSizeX=12px\nSizeY=99999999999\n[Input]\nExportRange= 14 \n");
    const CSettings settings;
    EXPECT_TRUE(settings.QuickConnect());
    EXPECT_EQ(settings.DataSource(), "Halle 3, Ost");
    EXPECT_EQ(QSize(settings.SizeX(640), settings.SizeY(480)), QSize(640, 480));
    EXPECT_EQ(settings.ExportRange(), 14);
}

} // namespace
