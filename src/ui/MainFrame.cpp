#include "ui/MainFrame.h"

#include "settings/Settings.h"
#include "ui/AboutDlg.h"
#include "ui/IconPainter.h"
#include "ui/OrbelView.h"
#include "ui/FileDialogColumns.h"
#include "ui/RecoveryCopy.h"
#include "ui/StringTable.h"
#include "ui/WrappedMessageBox.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

namespace
{

constexpr int kComboWidth = 150;
constexpr int kComboListHeight = 200;
constexpr int kMaxRecentFiles = CSettings::m_nMaxRecentFiles;

// 0 is a separator; -1 the place of the recent files.
constexpr int kRecentFiles = -1;

struct MenuDef
{
    const char* title;
    std::initializer_list<int> items;
};

const MenuDef kMenus[] = {
    {"&Datei",
     {ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE, ID_FILE_SAVE_AS, 0, kRecentFiles, 0, ID_APP_EXIT}},
    {"&Bearbeiten",
     {ID_EDIT_SELECT_ALL, 0, ID_EDIT_CLEAR, ID_EDIT_UNDO, 0, ID_EDIT_CUT, ID_EDIT_COPY,
      ID_EDIT_PASTE}},
    {"&Ansicht", {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, 0, ID_FIT_COLUMNS}},
    {"&Sensoren",
     {ID_NEW_SENSOR, ID_PROPERTIES, ID_ENABLE_DISABLE, ID_OPEN_IN_BROWSER, 0, ID_SCAN_NETWORK,
      ID_DATABASE_STATISTICS, ID_EXPORT_SERIES, ID_EXPORT_SUMMARY, ID_SHOW_HISTORY, 0,
      ID_START_STOP}},
    {"&ODBC", {ID_EDIT_DATA_SOURCE, ID_OTHER_DRIVER, 0, ID_LOCK_SELECTION, ID_LOGIN_REQUIRED}},
    {"&Hilfe", {ID_APP_ABOUT}},
};

// The toolbar's slots; 0 is a gap.
constexpr int kToolBar[] = {
    ID_FILE_NEW,
    ID_FILE_OPEN,
    ID_FILE_SAVE,
    0,
    ID_EDIT_CLEAR,
    ID_EDIT_UNDO,
    0,
    ID_SCAN_NETWORK,
    ID_NEW_SENSOR,
    ID_ENABLE_DISABLE,
    ID_OPEN_IN_BROWSER,
    0,
    ID_APP_ABOUT,
    0,
    ID_DATA_SOURCE_COMBO,
    ID_LOCK_SELECTION,
    ID_EDIT_DATA_SOURCE,
    ID_DATABASE_STATISTICS,
    ID_EXPORT_SERIES,
    ID_EXPORT_SUMMARY,
    ID_SHOW_HISTORY,
    0,
    ID_START_STOP,
};

const char* const kFileFilter = "Konfigurationsdateien (*.ini)";
const char* const kUntitled = "Unbenannt";

// X11 keyboard state bits of a key event: caps lock and, as usually mapped,
// num lock.
constexpr quint32 kX11LockMask = 0x02;
constexpr quint32 kX11Mod2Mask = 0x10;

QString DisplayName(const QString& path)
{
    return path.isEmpty() ? QString::fromLatin1(kUntitled) : QFileInfo(path).fileName();
}

bool SameFile(const QString& a, const QString& b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    return !canonicalA.isEmpty()
               ? canonicalA == QFileInfo(b).canonicalFilePath()
               : QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

} // namespace

CMainFrame::CMainFrame(bool& recording, QWidget* parent)
    : QMainWindow(parent), m_bRecording(recording), m_commands(this)
{
    setObjectName(QStringLiteral("mainFrame"));
    setWindowIcon(CIconPainter::AppIcon());

    // The size of the last run, else what the desktop would give a new window.
    const QSize available = screen() ? screen()->availableSize() : QSize(1024, 768);
    const CSettings settings;
    resize(settings.SizeX(available.width() * 3 / 4), settings.SizeY(available.height() * 3 / 4));
    m_recentFiles = settings.RecentFiles();

    OnCreate();
}

CMainFrame::~CMainFrame()
{
    // The rows point into the document, a member that goes before the children.
    delete m_pView;
}

void CMainFrame::OnCreate()
{
    for (QAction* action : m_commands.Actions())
    {
        const int id = CCommandTable::CommandOf(action);
        QObject::connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    }
    CreateMenus();
    CreateToolBar();
    CreateStatusBar();

    m_pView = new COrbelView(this, m_document);
    setCentralWidget(m_pView);
    // Tab belongs to the list: in the data-source box it stays the box's key.
    QAction* switchFocus = m_commands.Action(ID_SWITCH_FOCUS);
    switchFocus->setShortcutContext(Qt::WidgetShortcut);
    m_pView->addAction(switchFocus);
    QObject::connect(m_pView, &QTreeWidget::itemSelectionChanged, this,
                     [this] { UpdateCommandUI(); });
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
                     [this] { UpdateCommandUI(); });

    m_trayIcon.SetNotifyWindow([this](int command) { OnCommand(command); });
    qApp->installEventFilter(this);
    UpdateFrameTitle();
    UpdateRecentFileMenu();
    UpdateCommandUI();
}

void CMainFrame::CreateMenus()
{
    for (const MenuDef& def : kMenus)
    {
        QMenu* menu = menuBar()->addMenu(QString::fromUtf8(def.title));
        for (int id : def.items)
        {
            if (id == 0)
                menu->addSeparator();
            else if (id == kRecentFiles)
                for (int i = 0; i < kMaxRecentFiles; ++i)
                    menu->addAction(m_commands.Action(ID_FILE_MRU_FILE1 + i));
            else
                menu->addAction(m_commands.Action(id));
        }
        QObject::connect(menu, &QMenu::aboutToShow, this, [this] { UpdateCommandUI(); });
    }
}

void CMainFrame::CreateToolBar()
{
    m_wndToolBar = new QToolBar(QStringLiteral("Symbolleiste"), this);
    m_wndToolBar->setObjectName(QStringLiteral("toolBar"));
    m_wndToolBar->setIconSize(QSize(16, 16));
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setFloatable(true);
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);

    for (int id : kToolBar)
    {
        if (id == 0)
            m_wndToolBar->addSeparator();
        else if (id == ID_DATA_SOURCE_COMBO)
        {
            m_wndDataSourceCombo = new QComboBox(m_wndToolBar);
            m_wndDataSourceCombo->setObjectName(QStringLiteral("dataSourceCombo"));
            m_wndDataSourceCombo->setEditable(true);
            // The list holds the defined data sources only, sorted when it is
            // filled; a typed name is used, never added.
            m_wndDataSourceCombo->setInsertPolicy(QComboBox::NoInsert);
            m_wndDataSourceCombo->setFixedWidth(kComboWidth);
            m_wndDataSourceCombo->setMaxVisibleItems(std::max(
                1, kComboListHeight / std::max(1, m_wndDataSourceCombo->sizeHint().height())));
            m_wndDataSourceCombo->setToolTip(CommandTooltip(ID_DATA_SOURCE_COMBO));
            m_wndDataSourceCombo->setStatusTip(CommandPrompt(ID_DATA_SOURCE_COMBO));
            m_wndDataSourceCombo->installEventFilter(this);
            m_wndDataSourceCombo->lineEdit()->installEventFilter(this);
            QAction* place = m_wndToolBar->addWidget(m_wndDataSourceCombo);
            place->setData(ID_DATA_SOURCE_COMBO);
            // Every start begins locked. (Adding the box enabled it with its place.)
            m_wndDataSourceCombo->setEnabled(false);
        }
        else
            m_wndToolBar->addAction(m_commands.Action(id));
    }
}

void CMainFrame::CreateStatusBar()
{
    m_wndStatusBar = statusBar();
    m_wndStatusBar->setObjectName(QStringLiteral("statusBar"));
    // Prompts cover the idle text while they are shown.
    m_pMessagePane = new QLabel(LoadString(StringId::kReady), m_wndStatusBar);
    m_pMessagePane->setObjectName(QStringLiteral("messagePane"));
    m_wndStatusBar->addWidget(m_pMessagePane, 1);
    const unsigned indicators[] = {StringId::kCapsLock, StringId::kNumLock, StringId::kScrollLock};
    for (int i = 0; i < 3; ++i)
    {
        auto* pane = new QLabel(m_wndStatusBar);
        pane->setObjectName(LoadString(indicators[i]));
        pane->setAlignment(Qt::AlignCenter);
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(LoadString(indicators[i])) +
                              12);
        m_wndStatusBar->addPermanentWidget(pane);
        m_pIndicators[i] = pane;
    }
}

void CMainFrame::UpdateIndicators(const QKeyEvent* event)
{
    if (event->key() == Qt::Key_ScrollLock && event->type() == QEvent::KeyPress)
        m_bScrollLock = !m_bScrollLock;
    bool on[3] = {false, false, m_bScrollLock};
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
    {
        on[0] = (event->nativeModifiers() & kX11LockMask) != 0;
        on[1] = (event->nativeModifiers() & kX11Mod2Mask) != 0;
    }
    for (int i = 0; i < 3; ++i)
        m_pIndicators[i]->setText(on[i] ? m_pIndicators[i]->objectName() : QString());
}

void CMainFrame::OnCommand(int id)
{
    // A command that is greyed out now does nothing, whatever sent it.
    UpdateCommandUI();
    if (QAction* action = m_commands.Action(id); action && !action->isEnabled())
        return;
    switch (id)
    {
    case ID_FILE_NEW:
        OnFileNew();
        break;
    case ID_FILE_OPEN:
        if (const QString path = AskFileName(false); !path.isEmpty())
            OpenDocumentFile(path);
        break;
    case ID_FILE_SAVE:
        OnFileSave();
        break;
    case ID_FILE_SAVE_AS:
        OnFileSaveAs();
        break;
    case ID_APP_EXIT:
        close();
        break;
    case ID_APP_ABOUT:
    {
        CAboutDlg dialog(this);
        dialog.exec();
        break;
    }
    case ID_VIEW_TOOLBAR:
        m_wndToolBar->setVisible(!m_wndToolBar->isVisible());
        break;
    case ID_VIEW_STATUS_BAR:
        m_wndStatusBar->setVisible(!m_wndStatusBar->isVisible());
        break;
    case ID_SWITCH_FOCUS:
        OnSwitchFocus();
        break;
    case ID_RESTORE_WINDOW:
        OnRestoreWindow();
        break;
    default:
        if (id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + kMaxRecentFiles)
            OnOpenRecentFile(id - ID_FILE_MRU_FILE1);
        else if (m_pView)
            m_pView->OnCommand(id);
        break;
    }
    UpdateCommandUI();
}

bool CMainFrame::OnUpdateFrameCommand(int id, CCmdUI& state) const
{
    switch (id)
    {
    case ID_FILE_NEW:
    case ID_FILE_OPEN:
    case ID_FILE_SAVE:
    case ID_FILE_SAVE_AS:
    case ID_APP_EXIT:
    case ID_APP_ABOUT:
    case ID_SWITCH_FOCUS:
    case ID_RESTORE_WINDOW:
        return true;
    case ID_VIEW_TOOLBAR:
        state.SetCheck(!m_wndToolBar->isHidden());
        return true;
    case ID_VIEW_STATUS_BAR:
        state.SetCheck(!m_wndStatusBar->isHidden());
        return true;
    case ID_START_STOP:
        state.SetCheck(m_bRecording);
        return true;
    default:
        if (id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + kMaxRecentFiles)
        {
            state.Enable(id - ID_FILE_MRU_FILE1 < m_recentFiles.size());
            return true;
        }
        return false;
    }
}

void CMainFrame::UpdateCommandUI()
{
    for (QAction* action : m_commands.Actions())
    {
        const int id = CCommandTable::CommandOf(action);
        CCmdUI state;
        // A command that no one carries out is greyed out.
        if (!OnUpdateFrameCommand(id, state) && !(m_pView && m_pView->OnUpdateCommand(id, state)))
            state.Enable(false);
        action->setEnabled(state.m_bEnabled);
        if (state.m_bCheckable)
            action->setChecked(state.m_bChecked);
    }
}

QString CMainFrame::AskFileName(bool save)
{
    QFileDialog dialog(this, save ? QStringLiteral("Speichern unter") : QStringLiteral("Öffnen"));
    dialog.setObjectName(QStringLiteral("fileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // Asked below in German.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilter(QString::fromLatin1(kFileFilter));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(QStringLiteral("ini"));
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Suchen in:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Datei&name:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Dateityp:"));
    dialog.setLabelText(QFileDialog::Accept,
                        save ? QStringLiteral("&Speichern") : QStringLiteral("Ö&ffnen"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Abbrechen"));
    FitFileDialogColumns(dialog);
    const QString current = QString::fromStdString(m_document.GetPathName());
    if (!current.isEmpty())
    {
        dialog.setDirectory(QFileInfo(current).absolutePath());
        if (save)
            dialog.selectFile(QFileInfo(current).fileName());
    }
    for (;;)
    {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        const QString path = dialog.selectedFiles().first();
        if (!save || !QFileInfo::exists(path) ||
            WrappedMessageBox(QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No,
                              QStringLiteral("%1 ist bereits vorhanden.\nSoll die Datei ersetzt "
                                             "werden?")
                                  .arg(QDir::toNativeSeparators(path)),
                              this) == QMessageBox::Yes)
            return path;
    }
}

bool CMainFrame::SaveModified()
{
    if (!m_document.IsModified())
        return true;
    const QString name = DisplayName(QString::fromStdString(m_document.GetPathName()));
    switch (WrappedMessageBox(QMessageBox::Warning,
                              QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                              QStringLiteral("Änderungen in %1 speichern?").arg(name), this))
    {
    case QMessageBox::Yes:
        return OnFileSave();
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

bool CMainFrame::OnFileNew()
{
    if (!SaveModified())
        return false;
    m_document.OnNewDocument();
    SetPathName(QString());
    m_pView->OnInitialUpdate();
    UpdateCommandUI();
    return true;
}

CMainFrame::OpenResult CMainFrame::OpenFile(const QString& path)
{
    // The configuration on show already: nothing to read again.
    if (SameFile(path, QString::fromStdString(m_document.GetPathName())))
        return OpenResult::Opened;
    if (!SaveModified())
        return OpenResult::Cancelled;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    std::string errorText;
    // A file that cannot be read leaves the configuration on show as it was.
    if (!m_document.OnOpenDocument(absolute.toStdString(), errorText))
    {
        if (m_document.m_bBadFormat)
            StringMessageBox(QMessageBox::Warning, QMessageBox::Ok, StringId::kBadFormat, 0, this);
        else
            WrappedMessageBox(QMessageBox::Warning, QMessageBox::Ok,
                              QStringLiteral("%1 kann nicht geöffnet werden.\n%2")
                                  .arg(QDir::toNativeSeparators(absolute),
                                       QString::fromLocal8Bit(errorText.c_str())),
                              this);
        return OpenResult::Failed;
    }
    SetPathName(absolute);
    AddToRecentFileList(absolute);
    m_pView->OnInitialUpdate();
    UpdateCommandUI();
    return OpenResult::Opened;
}

bool CMainFrame::OpenDocumentFile(const QString& path)
{
    return OpenFile(path) == OpenResult::Opened;
}

bool CMainFrame::OnFileSave()
{
    const QString path = QString::fromStdString(m_document.GetPathName());
    if (path.isEmpty())
        return OnFileSaveAs();
    // Another program, or a second window, saved the file since.
    if (m_document.IsChangedOnDisk() &&
        WrappedMessageBox(QMessageBox::Warning, QMessageBox::Yes | QMessageBox::No,
                          LoadString(StringId::kChangedOnDisk).arg(QDir::toNativeSeparators(path)),
                          this) != QMessageBox::Yes)
        return false;
    return DoSave(path);
}

bool CMainFrame::OnFileSaveAs()
{
    const QString path = AskFileName(true);
    return !path.isEmpty() && DoSave(path);
}

bool CMainFrame::DoSave(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    std::string errorText;
    if (!m_document.OnSaveDocument(absolute.toStdString(), errorText))
    {
        WrappedMessageBox(
            QMessageBox::Warning, QMessageBox::Ok,
            QStringLiteral("%1 kann nicht gespeichert werden.\n%2")
                .arg(QDir::toNativeSeparators(absolute), QString::fromLocal8Bit(errorText.c_str())),
            this);
        return false;
    }
    SetPathName(absolute);
    AddToRecentFileList(absolute);
    return true;
}

void CMainFrame::SetPathName(const QString& path)
{
    m_document.SetPathName(path.toStdString());
    UpdateFrameTitle();
}

void CMainFrame::UpdateFrameTitle()
{
    setWindowTitle(DisplayName(QString::fromStdString(m_document.GetPathName())) +
                   QStringLiteral(" - ") + LoadString(StringId::kAppName));
}

void CMainFrame::AddToRecentFileList(const QString& path)
{
    for (qsizetype i = m_recentFiles.size() - 1; i >= 0; --i)
        if (SameFile(m_recentFiles[i], path) || m_recentFiles[i] == path)
            m_recentFiles.removeAt(i);
    m_recentFiles.prepend(path);
    while (m_recentFiles.size() > kMaxRecentFiles)
        m_recentFiles.removeLast();
    UpdateRecentFileMenu();
}

void CMainFrame::UpdateRecentFileMenu()
{
    for (int i = 0; i < kMaxRecentFiles; ++i)
    {
        QAction* action = m_commands.Action(ID_FILE_MRU_FILE1 + i);
        if (i < m_recentFiles.size())
        {
            QString shown = QDir::toNativeSeparators(m_recentFiles[i]);
            shown.replace(QLatin1Char('&'), QLatin1String("&&"));
            action->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
            action->setVisible(true);
        }
        else
        {
            // An empty list shows its greyed placeholder.
            action->setText(QStringLiteral("Letzte Datei"));
            action->setVisible(i == 0);
        }
    }
}

void CMainFrame::OnOpenRecentFile(int index)
{
    if (index < 0 || index >= m_recentFiles.size())
        return;
    // A file that cannot be opened leaves the list, so that it does not
    // fail again at every start.
    if (OpenFile(m_recentFiles[index]) == OpenResult::Failed)
    {
        m_recentFiles.removeAt(index);
        UpdateRecentFileMenu();
    }
}

void CMainFrame::OnSwitchFocus()
{
    if (!m_pView)
        return;
    if (m_pView->hasFocus())
        m_wndDataSourceCombo->setFocus(Qt::TabFocusReason);
    else
        m_pView->setFocus(Qt::TabFocusReason);
}

void CMainFrame::OnRestoreWindow()
{
    // Back in the state it had before it was minimised. The state changes
    // while the window is still hidden, so that it is mapped as a normal
    // window also where no window manager would restore an iconic one.
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

bool CMainFrame::IsTrayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void CMainFrame::OnSize(bool minimized)
{
    if (!m_pView)
        return;
    if (minimized)
    {
        m_pView->m_bMinimized = true;
        m_pView->ClearStatusColumn();
        // Without a notification area a hidden window could not come back.
        if (m_bRecording && !m_document.IsModified() && IsTrayAvailable())
        {
            m_trayIcon.ShowIcon(128, StringId::kTrayTip, 129);
            // Hidden once the change of state is through.
            QTimer::singleShot(0, this,
                               [this]
                               {
                                   if (isMinimized() && m_trayIcon.IsShown())
                                       hide();
                               });
        }
        return;
    }
    if (m_pView->m_bMinimized)
    {
        m_pView->m_bMinimized = false;
        m_pView->RefreshStatusColumn();
        m_trayIcon.ShowIcon(0, 0, 0);
    }
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        OnSize(isMinimized());
}

void CMainFrame::SaveWindowSettings()
{
    // A minimised window, or one hidden in the notification area, keeps the
    // size of the last normal run.
    if (!isMinimized() && !(m_pView && m_pView->m_bMinimized))
        CSettings().SetSize(width(), height());
    if (m_pView)
        m_pView->SaveSettings();
}

void CMainFrame::EndSession()
{
    SaveWindowSettings();
    if (m_document.IsModified())
    {
        if (!CRecoveryCopy::Write(m_document))
            qWarning("tessaro: the unsaved configuration could not be kept for the next start");
        // Nothing left to ask about, whatever dialog is still open.
        m_document.SetModifiedFlag(false);
    }
    CSettings().SetRecentFiles(m_recentFiles);
    // Every running event loop ends, open dialogs' included, as if they were
    // cancelled. Recording stops at the exit, once the handler that may be
    // running under a dialog has returned.
    m_bEnded = true;
    QCoreApplication::exit(0);
}

bool CMainFrame::OfferRecoveryCopy()
{
    if (!CRecoveryCopy::Exists())
        return false;
    const QString original = CRecoveryCopy::OriginalPath();
    const QMessageBox::StandardButton answer =
        WrappedMessageBox(QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                          LoadString(StringId::kOfferRecovery)
                              .arg(original.isEmpty() ? QString::fromLatin1(kUntitled)
                                                      : QDir::toNativeSeparators(original)),
                          this);
    if (answer != QMessageBox::Yes)
    {
        // Only a "Nein" lets it go; a question ended by a signal keeps it.
        if (answer == QMessageBox::No)
            CRecoveryCopy::Remove();
        return false;
    }
    std::string errorText;
    if (!CRecoveryCopy::Restore(m_document, errorText))
    {
        // Kept: the next start offers it again, and "Nein" lets it go.
        WrappedMessageBox(QMessageBox::Warning, QMessageBox::Ok,
                          QStringLiteral("%1 kann nicht geöffnet werden.\n%2")
                              .arg(QDir::toNativeSeparators(CRecoveryCopy::Path()),
                                   QString::fromLocal8Bit(errorText.c_str())),
                          this);
        return false;
    }
    CRecoveryCopy::Remove();
    SetPathName(original);
    if (!original.isEmpty())
        AddToRecentFileList(original);
    m_pView->OnInitialUpdate();
    UpdateCommandUI();
    return true;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    SaveWindowSettings();
    if (!SaveModified())
    {
        event->ignore();
        return;
    }
    CSettings().SetRecentFiles(m_recentFiles);
    event->accept();
    // The program ends with its window, also with one hidden in the
    // notification area, which would not count as the last window closed.
    QCoreApplication::quit();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && m_pIndicators[0])
        UpdateIndicators(static_cast<QKeyEvent*>(event));

    const bool inCombo = m_wndDataSourceCombo && (watched == m_wndDataSourceCombo ||
                                                  watched == m_wndDataSourceCombo->lineEdit());
    if (!inCombo)
        return QMainWindow::eventFilter(watched, event);

    if (type == QEvent::ShortcutOverride)
    {
        // Keys typed into the box are the box's, the program's keys included;
        // only Alt with a letter still opens a menu.
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool menuMnemonic = key->modifiers() == Qt::AltModifier && key->key() >= Qt::Key_A &&
                                  key->key() <= Qt::Key_Z;
        if (!menuMnemonic)
            event->accept();
    }
    else if (type == QEvent::FocusOut && watched == m_wndDataSourceCombo)
    {
        // Leaving the box hands the keyboard back to the list, but a menu or
        // the box's own drop-down list, or another window, only borrow it.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::PopupFocusReason && reason != Qt::MenuBarFocusReason &&
            reason != Qt::ActiveWindowFocusReason && !QApplication::activePopupWidget())
            QTimer::singleShot(0, this,
                               [this]
                               {
                                   if (m_pView && !m_wndDataSourceCombo->hasFocus() &&
                                       !QApplication::activePopupWidget() && isActiveWindow())
                                       m_pView->setFocus(Qt::OtherFocusReason);
                               });
    }
    return QMainWindow::eventFilter(watched, event);
}
