#pragma once
// The main window's commands as one table: the menus of the menu bar and
// their items, the action list of the 統計 menu, the tray icon's menu, the
// statistics list's menu and the toolbar, in the order they appear, each
// with its name (the objectName), caption or hint, shortcut, handler and the
// run state that enables it. The window builds them from the table and
// switches them with the run state by it; the tests read it as well.
//
// A row of a menu, of the tray menu or of the toolbar without a handler is a
// separator. A row that names an action of the action list is a menu item
// bound to that action: it shows the action's caption, follows its enabled
// state and runs it.

#include <QKeySequence>
#include <span>

class QAction;
class QMenu;

namespace tarvok {

class TTarvokMain;

struct MainCommand {
    enum class Place {
        Menu,     // a menu of the menu bar; the rows after it are its items
        MenuItem,
        Action,   // an action of ActionList1
        TrayMenu, // PopupMenu1
        ListMenu, // PopupMenu3, the statistics list's menu
        ToolBar,  // ToolBar1; the caption is the button's hint
    };
    // What enables an item. Items of Always are switched by their own menus
    // (編集, 統計) or by nothing.
    enum class Enabling {
        Always,
        Idle,        // no run in progress
        Running,     // a run in progress
        PingResults, // idle, and the result list has rows
        StatRows,    // idle, and the statistics list has rows
        TraceTree,   // idle, and a trace tree is shown
    };
    using Handler = void (TTarvokMain::*)();

    Place place;
    const char* name;
    const char* caption = nullptr; // UTF-8
    QKeySequence key = {};
    Handler handler = nullptr;
    Enabling enabling = Enabling::Always;
    // Where the window keeps the item, when it keeps it.
    QAction* TTarvokMain::*field = nullptr;
    QMenu* TTarvokMain::*menu = nullptr; // for Place::Menu
    const char* action = nullptr;        // the bound action of ActionList1
    int image = -1;                      // toolbar button picture
};

// Every command of the window, in order.
std::span<const MainCommand> MainCommands();

// Builds the action list, the menu bar, the tray icon's menu, the statistics
// list's menu and the toolbar of `window` from the table.
void BuildMainCommands(TTarvokMain& window);

// Switches every item whose enabling is not Always for the run state and
// what the lists hold; with `listsOnly`, only the items that follow the lists.
void ApplyCommandEnabling(TTarvokMain& window, bool idle, bool pingResults, bool statRows, bool traceTree,
                          bool listsOnly = false);

} // namespace tarvok
