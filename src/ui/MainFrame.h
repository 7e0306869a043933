#pragma once

#include "sensors/OrbelDoc.h"
#include "ui/CommandTable.h"
#include "ui/TrayIcon.h"

#include <QMainWindow>
#include <QStringList>

class COrbelView;
class QComboBox;
class QLabel;
class QMenu;
class QStatusBar;
class QToolBar;

// The program's window: menus, toolbar with the data-source box, status bar,
// the list of sensors, and the configuration document with its file commands
// and recent files. Minimised while recording runs and nothing is unsaved,
// it hides in the notification area.
class CMainFrame : public QMainWindow
{
public:
    // recording: the application's flag that recording runs.
    explicit CMainFrame(bool& recording, QWidget* parent = nullptr);
    ~CMainFrame() override;

    COrbelView* GetActiveView() const { return m_pView; }
    COrbelDoc& GetDocument() { return m_document; }
    const CCommandTable& Commands() const { return m_commands; }

    // Carries out a command by its number, as the menus, keys, toolbar and
    // popup menus do, and brings every command's state up to date.
    void OnCommand(int id);
    // Asks the view and the frame for the state of every command and shows it.
    void UpdateCommandUI();

    // New configuration; false when the user kept the modified one.
    bool OnFileNew();
    // Replaces the configuration by a file's; false when it was not opened.
    bool OpenDocumentFile(const QString& path);
    bool OnFileSave();
    bool OnFileSaveAs();
    // Asks whether to save a modified configuration; false when the user
    // cancels or the save fails.
    bool SaveModified();
    // Index 0 is the most recent.
    void OnOpenRecentFile(int index);
    const QStringList& RecentFiles() const { return m_recentFiles; }

    void OnSwitchFocus();
    void OnRestoreWindow();

    // Ends the program as Datei > Beenden does, for a signal: nobody may be
    // there to answer, so a modified configuration goes to the recovery copy
    // instead of the save question. Leaves every event loop; recording stops
    // at the exit.
    void EndSession();
    bool HasEnded() const { return m_bEnded; }
    // At start, before anything else: offers the configuration that the last
    // EndSession kept. True when it was restored.
    bool OfferRecoveryCopy();

    bool& m_bRecording;
    QStatusBar* m_wndStatusBar = nullptr;
    QComboBox* m_wndDataSourceCombo = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    CTrayIcon m_trayIcon{555};

protected:
    // Whether hiding in the notification area leaves a way back to the window.
    virtual bool IsTrayAvailable() const;

    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class OpenResult
    {
        Opened,
        Cancelled, // the user kept the modified configuration
        Failed,
    };

    void OnCreate();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void OnSize(bool minimized);
    bool OnUpdateFrameCommand(int id, CCmdUI& state) const;
    OpenResult OpenFile(const QString& path);
    QString AskFileName(bool save);
    bool DoSave(const QString& path);
    void SetPathName(const QString& path);
    void UpdateFrameTitle();
    void AddToRecentFileList(const QString& path);
    void UpdateRecentFileMenu();
    void UpdateIndicators(const QKeyEvent* event);
    // Window size (unless minimised) and the view's settings.
    void SaveWindowSettings();

    COrbelDoc m_document;
    CCommandTable m_commands;
    COrbelView* m_pView = nullptr;
    QLabel* m_pMessagePane = nullptr;
    QLabel* m_pIndicators[3] = {};
    bool m_bScrollLock = false;
    bool m_bEnded = false;
    QStringList m_recentFiles;
};
