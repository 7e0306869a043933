#pragma once

#include <QList>
#include <vector>

class QAction;
class QObject;

// Command numbers; each is the identity of its action.
enum CommandId : int
{
    // Commands the program has gained since take their number from the
    // range of their texts.
    ID_SHOW_HISTORY = 750,
    ID_SCAN_NETWORK = 32772,
    ID_NEW_SENSOR = 32773,
    ID_PROPERTIES = 32774,
    ID_ENABLE_DISABLE = 32775,
    ID_LOGIN_REQUIRED = 32778,
    ID_LOCK_SELECTION = 32779,
    ID_DATA_SOURCE_COMBO = 32780,
    ID_EDIT_DATA_SOURCE = 32781,
    ID_IMPORT_SENSORS = 32785, // no menu item, button or key carries it
    ID_EXPORT_SERIES = 32786,
    ID_EXPORT_SUMMARY = 32787,
    ID_START_STOP = 32788,
    ID_RESTORE_WINDOW = 32789,
    ID_FIT_COLUMNS = 32790,
    ID_SWITCH_FOCUS = 32791,
    ID_DATABASE_STATISTICS = 32793,
    ID_OPEN_IN_BROWSER = 32794,
    ID_OTHER_DRIVER = 32796,
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_MRU_FILE1 = 57616, // up to ID_FILE_MRU_FILE1 + 3
    ID_EDIT_CLEAR = 57632,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_SELECT_ALL = 57642,
    ID_EDIT_UNDO = 57643,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_VIEW_TOOLBAR = 59392,
    ID_VIEW_STATUS_BAR = 59393,
};

// What a command looks like right now: whether it can be chosen and, for
// commands with a check mark, whether it is checked.
struct CCmdUI
{
    bool m_bEnabled = true;
    bool m_bCheckable = false;
    bool m_bChecked = false;

    void Enable(bool enabled) { m_bEnabled = enabled; }
    void SetCheck(bool checked)
    {
        m_bCheckable = true;
        m_bChecked = checked;
    }
};

// One action per command: menu text with mnemonic and key text, keys, status
// prompt, tooltip, toolbar picture and whether it carries a check mark.
class CCommandTable
{
public:
    // The actions are children of owner.
    explicit CCommandTable(QObject* owner);

    // Null for a number that is not a command.
    QAction* Action(int id) const;
    const std::vector<QAction*>& Actions() const { return m_actions; }

    static int CommandOf(const QAction* action);

private:
    std::vector<QAction*> m_actions;
};
