#include "ui/CommandTable.h"

#include "ui/IconPainter.h"
#include "ui/StringTable.h"

#include <QAction>
#include <QKeySequence>
#include <initializer_list>

namespace
{

struct Command
{
    int id;
    const char* text; // UTF-8, "&" before the mnemonic, "\t" before the key text
    std::initializer_list<QKeyCombination> keys;
    bool checkable;
};

constexpr auto kCtrl = Qt::ControlModifier;
constexpr auto kShift = Qt::ShiftModifier;
constexpr auto kAlt = Qt::AltModifier;

const Command kCommands[] = {
    {ID_FILE_NEW, "&Neu\tStrg+N", {kCtrl | Qt::Key_N}, false},
    {ID_FILE_OPEN, "Ö&ffnen...\tStrg+O", {kCtrl | Qt::Key_O}, false},
    {ID_FILE_SAVE, "S&peichern\tStrg+S", {kCtrl | Qt::Key_S}, false},
    {ID_FILE_SAVE_AS, "Speichern &unter...", {}, false},
    {ID_FILE_MRU_FILE1, "Letzte Datei", {}, false},
    {ID_FILE_MRU_FILE1 + 1, "", {}, false},
    {ID_FILE_MRU_FILE1 + 2, "", {}, false},
    {ID_FILE_MRU_FILE1 + 3, "", {}, false},
    {ID_APP_EXIT, "&Beenden", {}, false},
    {ID_EDIT_SELECT_ALL, "Alles &markieren\tStrg+A", {kCtrl | Qt::Key_A}, false},
    {ID_EDIT_CLEAR, "&Löschen\tEntf", {QKeyCombination(Qt::Key_Delete)}, false},
    {ID_EDIT_UNDO,
     "Löschen &rückgängig\tStrg+Z",
     {kCtrl | Qt::Key_Z, kAlt | Qt::Key_Backspace},
     false},
    {ID_EDIT_CUT, "&Ausschneiden\tStrg+X", {kCtrl | Qt::Key_X, kShift | Qt::Key_Delete}, false},
    {ID_EDIT_COPY, "&Kopieren\tStrg+C", {kCtrl | Qt::Key_C, kCtrl | Qt::Key_Insert}, false},
    {ID_EDIT_PASTE, "E&infügen\tStrg+V", {kCtrl | Qt::Key_V, kShift | Qt::Key_Insert}, false},
    {ID_VIEW_TOOLBAR, "&Symbolleiste", {}, true},
    {ID_VIEW_STATUS_BAR, "S&tatusleiste", {}, true},
    {ID_FIT_COLUMNS, "Spalten&breiten anpassen\tF5", {QKeyCombination(Qt::Key_F5)}, false},
    {ID_NEW_SENSOR, "&Neuer Sensor", {}, false},
    {ID_PROPERTIES,
     "E&igenschaften\tEnter",
     {QKeyCombination(Qt::Key_Return), QKeyCombination(Qt::Key_Enter)},
     false},
    {ID_ENABLE_DISABLE, "A&ktivieren/deaktivieren\tStrg+E", {kCtrl | Qt::Key_E}, false},
    {ID_OPEN_IN_BROWSER, "Per B&rowser verbinden", {}, false},
    {ID_SCAN_NETWORK, "Netz&werk durchsuchen\tStrg+B", {kCtrl | Qt::Key_B}, false},
    {ID_DATABASE_STATISTICS, "Daten&bank-Statistik", {}, false},
    {ID_EXPORT_SERIES, "Datenreihe e&xportieren...", {}, false},
    {ID_EXPORT_SUMMARY, "&Zusammenfassung exportieren...", {}, false},
    {ID_SHOW_HISTORY, "&Verlauf anzeigen", {}, false},
    {ID_START_STOP, "&Start/Stop\tStrg+R", {kCtrl | Qt::Key_R}, true},
    {ID_EDIT_DATA_SOURCE, "Datenquelle &bearbeiten", {}, false},
    {ID_OTHER_DRIVER, "Anderen &Treiber wählen", {}, false},
    {ID_LOCK_SELECTION, "Auswahl &sperren\tStrg+L", {kCtrl | Qt::Key_L}, true},
    {ID_LOGIN_REQUIRED, "Anmeldung er&forderlich?", {}, true},
    {ID_APP_ABOUT, "Inf&o über Tessaro...", {}, false},
    {ID_RESTORE_WINDOW, "Fenster &wiederherstellen", {}, false},
    {ID_SWITCH_FOCUS, "", {QKeyCombination(Qt::Key_Tab)}, false},
};

} // namespace

CCommandTable::CCommandTable(QObject* owner)
{
    for (const Command& command : kCommands)
    {
        auto* action = new QAction(QString::fromUtf8(command.text), owner);
        action->setData(command.id);
        QList<QKeySequence> keys;
        for (QKeyCombination key : command.keys)
            keys.append(QKeySequence(key));
        action->setShortcuts(keys);
        action->setCheckable(command.checkable);
        action->setStatusTip(CommandPrompt(command.id));
        const QString tooltip = CommandTooltip(command.id);
        if (!tooltip.isEmpty())
            action->setToolTip(tooltip);
        const QIcon icon = CIconPainter::CommandIcon(command.id);
        if (!icon.isNull())
            action->setIcon(icon);
        // Pictures belong to the toolbar; the menus show text only.
        action->setIconVisibleInMenu(false);
        m_actions.push_back(action);
    }
}

QAction* CCommandTable::Action(int id) const
{
    for (QAction* action : m_actions)
        if (CommandOf(action) == id)
            return action;
    return nullptr;
}

int CCommandTable::CommandOf(const QAction* action)
{
    bool ok = false;
    const int id = action ? action->data().toInt(&ok) : 0;
    return ok ? id : 0;
}
