#include "ui/CommandTable.h"
#include "desktop/DesktopTestSupport.h"
#include "sensors/OrbelDoc.h"
#include "settings/Settings.h"

#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

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

TEST_F(MainFrameTest, MenusShowTheirItemsAndCheckMarks)
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
}

TEST_F(MainFrameTest, KeysReachTheirCommandsInTheList)
{
    CMainFrame& frame = NewFrame();
    ASSERT_TRUE(frame.OpenDocumentFile(WriteConfig("drei.ini", kThreeSensors)));
    View().setFocus();
    QCoreApplication::processEvents();
    COrbelDoc& doc = frame.GetDocument();

    Select({0});
    Key(Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(doc.m_sensors.front()->m_bDisabled);
    EXPECT_TRUE(doc.IsModified());

    Key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(View().m_nSelected, 3);
    Key(Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("ZELD1\r\n10.0.0.5\t80"));
    QGuiApplication::clipboard()->clear();
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text().count("\r\n"), 4);

    Select({1});
    Key(Qt::Key_Delete);
    EXPECT_EQ(DocumentAddresses(), std::vector<std::string>({"10.0.0.5", "alpha.local"}));
    Key(Qt::Key_Backspace, Qt::AltModifier);
    EXPECT_EQ(DocumentAddresses().back(), "Geraet-B");
    Select({2});
    Key(Qt::Key_Delete);
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(DocumentAddresses().size(), 3u);

    Select({0});
    Key(Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(DocumentAddresses().size(), 2u);
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains("10.0.0.5"));
    Key(Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(DocumentAddresses().back(), "10.0.0.5");

    CModalWatcher watcher;
    Key(Qt::Key_Return);
    EXPECT_EQ(watcher.Texts(), QStringList({"Sensor-Eigenschaften"}));

    Key(Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(frame.m_wndDataSourceCombo->isEnabled());
    Key(Qt::Key_L, Qt::ControlModifier);
    EXPECT_FALSE(frame.m_wndDataSourceCombo->isEnabled());
}

TEST_F(MainFrameTest, CommandsAreEnabledByTheSelectionClipboardAndUndoList)
{
    CMainFrame& frame = NewFrame();
    frame.OpenDocumentFile(WriteConfig("drei.ini", kThreeSensors));
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
    // Text without the magic line is pasted as nothing.
    frame.OnCommand(ID_EDIT_PASTE);
    EXPECT_EQ(View().topLevelItemCount(), 3);
    EXPECT_FALSE(frame.GetDocument().IsModified());

    EXPECT_FALSE(Act(ID_EDIT_UNDO)->isEnabled());
    Select({1});
    frame.OnCommand(ID_EDIT_CLEAR);
    EXPECT_TRUE(Act(ID_EDIT_UNDO)->isEnabled());
    frame.OnCommand(ID_EDIT_UNDO);
    EXPECT_FALSE(Act(ID_EDIT_UNDO)->isEnabled());

    // A command greyed out does nothing when it arrives another way.
    View().clearSelection();
    const int rows = View().topLevelItemCount();
    frame.OnCommand(ID_EDIT_CLEAR);
    EXPECT_EQ(View().topLevelItemCount(), rows);
}

TEST_F(MainFrameTest, ToolbarStatusBarAndPrompts)
{
    CMainFrame& frame = NewFrame();
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
    EXPECT_EQ(buttons[4]->toolTip(), "Löschen");

    // Slot 15 holds the data-source box.
    QComboBox* combo = frame.m_wndDataSourceCombo;
    EXPECT_EQ(frame.m_wndToolBar->widgetForAction(buttons[14]), combo);
    EXPECT_EQ(combo->width(), 150);
    EXPECT_TRUE(combo->isEditable());
    EXPECT_FALSE(combo->isEnabled());
    EXPECT_EQ(combo->toolTip(), "ODBC-Datenquelle");

    auto* pane = frame.findChild<QLabel*>(QStringLiteral("messagePane"));
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->text(), "Bereit");
    for (const char* indicator : {"UF", "NUM", "RF"})
        EXPECT_NE(frame.findChild<QLabel*>(QString::fromLatin1(indicator)), nullptr) << indicator;
    Act(ID_ENABLE_DISABLE)->showStatusText(&frame);
    EXPECT_EQ(frame.m_wndStatusBar->currentMessage(),
              "Schließt einzelne Sensoren von der Verwendung aus, ohne sie aus der Liste zu "
              "entfernen.");
    EXPECT_EQ(Act(ID_ENABLE_DISABLE)->toolTip(), "Sensor (de-)aktivieren");
}

TEST_F(MainFrameTest, TheFileDialogShowsItsColumnsWhole)
{
    CMainFrame& frame = NewFrame();
    ASSERT_TRUE(frame.OpenDocumentFile(WriteConfig("drei.ini", kThreeSensors)));
    WriteConfig("groesser.ini", std::string(408, 'x'));
    CModalWatcher watcher;
    watcher.Then(
        [](QWidget* modal)
        {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            ASSERT_NE(dialog, nullptr);
            auto* list = dialog->findChild<QTreeView*>("treeView");
            ASSERT_NE(list, nullptr);
            // Once the folder is read, every column but the names fits its texts.
            const auto whole = [list]
            {
                if (list->model()->rowCount(list->rootIndex()) < 2)
                    return false;
                for (int column = 1; column < list->header()->count(); ++column)
                    if (list->columnWidth(column) <
                        static_cast<QAbstractItemView*>(list)->sizeHintForColumn(column))
                        return false;
                return true;
            };
            EXPECT_TRUE(QTest::qWaitFor(whole));
            dialog->reject();
        });
    frame.OnCommand(ID_FILE_OPEN);
    EXPECT_EQ(watcher.Count(), 1);
}

TEST_F(MainFrameTest, TabMovesTheFocusAndTheBoxKeepsItsKeys)
{
    CMainFrame& frame = NewFrame();
    frame.OpenDocumentFile(WriteConfig("drei.ini", kThreeSensors));
    QComboBox* combo = frame.m_wndDataSourceCombo;
    View().setFocus();
    QCoreApplication::processEvents();

    // A locked box cannot take the focus.
    Key(Qt::Key_Tab);
    EXPECT_TRUE(View().hasFocus());
    frame.OnCommand(ID_LOCK_SELECTION);
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
    CModalWatcher watcher;
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
    frame.OpenDocumentFile(WriteConfig("drei.ini", kThreeSensors));
    frame.show();
    QCoreApplication::processEvents();
    const auto minimise = [&]
    {
        frame.showMinimized();
        QCoreApplication::processEvents();
    };

    // Not recording: an ordinary minimised window.
    minimise();
    EXPECT_TRUE(View().m_bMinimized);
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(frame.m_trayIcon.IsShown());
    frame.OnRestoreWindow();
    QCoreApplication::processEvents();
    EXPECT_FALSE(View().m_bMinimized);

    // Recording with unsaved changes: the same.
    m_bRecording = true;
    frame.GetDocument().SetModifiedFlag();
    minimise();
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(frame.m_trayIcon.IsShown());
    frame.OnRestoreWindow();
    QCoreApplication::processEvents();

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

TEST_F(MainFrameTest, WithoutANotificationAreaTheWindowIsNeverHidden)
{
    CMainFrame& frame = NewFrame();
    m_bRecording = true;
    frame.showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(frame.isVisible());
    EXPECT_FALSE(frame.m_trayIcon.IsShown());
}

TEST_F(MainFrameTest, TheWindowSizeIsRememberedUnlessMinimised)
{
    {
        CMainFrame& first = NewFrame();
        // What a new window gets on a first start.
        const QSize screen = first.screen()->availableSize();
        EXPECT_EQ(first.size(), QSize(screen.width() * 3 / 4, screen.height() * 3 / 4));
        first.resize(610, 420);
        EXPECT_TRUE(first.close());
    }
    EXPECT_EQ(CSettings().SizeX(0), 610);
    EXPECT_EQ(CSettings().SizeY(0), 420);
    CMainFrame& second = NewFrame();
    EXPECT_EQ(second.size(), QSize(610, 420));
    second.resize(500, 300);
    second.showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(second.close());
    EXPECT_EQ(CSettings().SizeX(0), 610);
}

} // namespace
