#include "ui/window/MainCommands.h"

#include "ui/widgets/Images.h"
#include "ui/window/TarvokMain.h"

#include <QAction>
#include <QHash>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>

namespace tarvok {

namespace {

using P = MainCommand::Place;
using E = MainCommand::Enabling;
using W = TTarvokMain;

QKeySequence keys(QKeyCombination k) { return QKeySequence(k); }

// clang-format off
const MainCommand Table[] = {
    // The action list of the 統計 menu.
    {P::Action, "acTOUKEI_SelectAllNGAddress", "すべてNGだったアドレスを選択(&D)", {}, &W::acTOUKEI_SelectAllNGAddressExecute, E::Always, &W::acTOUKEI_SelectAllNGAddress},
    {P::Action, "acTOUKEI_SelectAllOKAddress", "すべてOKだったアドレスを選択(&E)", {}, &W::acTOUKEI_SelectAllOKAddressExecute, E::Always, &W::acTOUKEI_SelectAllOKAddress},
    {P::Action, "acTOUKEI_SelectNGAddress", "NGが発生したアドレスを選択(&N)", {}, &W::acTOUKEI_SelectNGAddressExecute, E::Always, &W::acTOUKEI_SelectNGAddress},
    {P::Action, "acTOUKEI_SelectOKAddress", "OKが発生したアドレスを選択(&O)", {}, &W::acTOUKEI_SelectOKAddressExecute, E::Always, &W::acTOUKEI_SelectOKAddress},
    {P::Action, "acTOUKEI_ReverseSelect", "選択の反転(&R)", {}, &W::acTOUKEI_ReverseSelectExecute, E::Always, &W::acTOUKEI_ReverseSelect},
    {P::Action, "acTOUKEI_PingExecute", "選択したアドレスにPing 実行(&P)", {}, &W::acTOUKEI_PingExecuteExecute, E::Always, &W::acTOUKEI_PingExecute},
    {P::Action, "acTOUKEI_TracerouteExecute", "選択したアドレスにTraceroute 実行(&T)", {}, &W::acTOUKEI_TracerouteExecuteExecute, E::Always, &W::acTOUKEI_TracerouteExecute},

    // ファイル
    {P::Menu, "mnuFile", "ファイル(&F)", {}, nullptr, E::Always, nullptr, &W::mnuFile},
    {P::MenuItem, "mnuOpen", "ファイルを開く(&O)", keys(Qt::CTRL | Qt::Key_O), &W::mnuOpenClick, E::Idle, &W::mnuOpen},
    {P::MenuItem, "mnuSave", "上書き保存(&S)", keys(Qt::CTRL | Qt::Key_S), &W::mnuSaveClick, E::Idle, &W::mnuSave},
    {P::MenuItem, "mnuSaveAs", "名前をつけて保存(&A)", keys(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &W::mnuSaveAsClick, E::Idle, &W::mnuSaveAs},
    {P::MenuItem, "N2"},
    {P::MenuItem, "mnuPingKekka", "Ping 結果の保存(&K)", keys(Qt::CTRL | Qt::Key_K), &W::mnuPingKekkaClick, E::PingResults, &W::mnuPingKekka},
    {P::MenuItem, "mnuSaveToukei", "Ping 統計の保存(&T)", keys(Qt::CTRL | Qt::Key_T), &W::mnuSaveToukeiClick, E::StatRows, &W::mnuSaveToukei},
    {P::MenuItem, "mnuTraceKekka", "TraceRoute 結果の保存(&R)", keys(Qt::CTRL | Qt::SHIFT | Qt::Key_K), &W::mnuTraceKekkaClick, E::TraceTree, &W::mnuTraceKekka},
    {P::MenuItem, "N3"},
    {P::MenuItem, "mnuExit", "終了(&X)", keys(Qt::ALT | Qt::Key_F4), &W::mnuExitClick, E::Always, &W::mnuExit},

    // 編集 (switched by Edit1Click)
    {P::Menu, "Edit1", "編集(&E)", {}, &W::Edit1Click, E::Always, nullptr, &W::Edit1},
    {P::MenuItem, "mnuUndo", "元に戻す(&Z)", keys(Qt::CTRL | Qt::Key_Z), &W::mnuUndoClick, E::Always, &W::mnuUndo},
    {P::MenuItem, "N8"},
    {P::MenuItem, "mnuCut", "切り取り(&T)", keys(Qt::CTRL | Qt::Key_X), &W::mnuCutClick, E::Always, &W::mnuCut},
    {P::MenuItem, "mnuCopy", "コピー(&C)", keys(Qt::CTRL | Qt::Key_C), &W::mnuCopyClick, E::Always, &W::mnuCopy},
    {P::MenuItem, "mnuPaste", "貼り付け(&P)", keys(Qt::CTRL | Qt::Key_V), &W::mnuPasteClick, E::Always, &W::mnuPaste},
    {P::MenuItem, "mnuDelete", "削除(&L)", {}, &W::mnuDeleteClick, E::Always, &W::mnuDelete},
    {P::MenuItem, "N7"},
    {P::MenuItem, "mnuFind", "検索(&F)", keys(Qt::CTRL | Qt::Key_F), &W::mnuFindClick, E::Always, &W::mnuFind},
    {P::MenuItem, "mnuReplace", "置換(&H)", keys(Qt::CTRL | Qt::Key_H), &W::mnuReplaceClick, E::Always, &W::mnuReplace},
    {P::MenuItem, "N9"},
    {P::MenuItem, "mnuSelectAll", "全て選択(&A)", keys(Qt::CTRL | Qt::Key_A), &W::mnuSelectAllClick, E::Always, &W::mnuSelectAll},

    // 機能
    {P::Menu, "Commands1", "機能(&R)", {}, nullptr, E::Always, nullptr, &W::Commands1},
    {P::MenuItem, "mnuPing", "Ping 実行(&E)", keys(Qt::Key_F5), &W::mnuPingClick, E::Idle, &W::mnuPing},
    {P::MenuItem, "mnuTraceRoute", "TraceRoute 実行(&T)", keys(Qt::Key_F6), &W::mnuTraceRouteClick, E::Idle, &W::mnuTraceRoute},
    {P::MenuItem, "mnuIpToIp", "範囲指定Ping 実行(&C)", keys(Qt::Key_F7), &W::mnuIpToIpClick, E::Idle, &W::mnuIpToIp},
    {P::MenuItem, "N13"},
    {P::MenuItem, "mnuPingAndSelect", "選択してPing 実行（&Q）", keys(Qt::SHIFT | Qt::Key_F5), &W::mnuPingAndSelectClick, E::Idle, &W::mnuPingAndSelect},
    {P::MenuItem, "mnuTraceRouteAndSelect", "選択してTraceRoute 実行(&U)", keys(Qt::SHIFT | Qt::Key_F6), &W::mnuTraceRouteAndSelectClick, E::Idle, &W::mnuTraceRouteAndSelect},
    {P::MenuItem, "N1"},
    {P::MenuItem, "mnuBreak", "中断(&S)", keys(Qt::Key_F4), &W::mnuBreakClick, E::Running, &W::mnuBreak},
    {P::MenuItem, "N5"},
    {P::MenuItem, "mnuClear", "結果のクリア(&D)", keys(Qt::CTRL | Qt::Key_Delete), &W::mnuClearClick, E::Idle, &W::mnuClear},

    // 統計 (switched by mnuToukeiClick)
    {P::Menu, "mnuToukei", "統計(&T)", {}, &W::mnuToukeiClick, E::Always, nullptr, &W::mnuToukei},
    {P::MenuItem, "OKO1", nullptr, {}, nullptr, E::Always, nullptr, nullptr, "acTOUKEI_SelectOKAddress"},
    {P::MenuItem, "NGN1", nullptr, {}, nullptr, E::Always, nullptr, nullptr, "acTOUKEI_SelectNGAddress"},
    {P::MenuItem, "N100E1", nullptr, {}, nullptr, E::Always, nullptr, nullptr, "acTOUKEI_SelectAllOKAddress"},
    {P::MenuItem, "NGN2", nullptr, {}, nullptr, E::Always, nullptr, nullptr, "acTOUKEI_SelectAllNGAddress"},
    {P::MenuItem, "N14"},
    {P::MenuItem, "R1", nullptr, {}, nullptr, E::Always, nullptr, nullptr, "acTOUKEI_ReverseSelect"},
    {P::MenuItem, "N15"},
    {P::MenuItem, "PingP1", nullptr, {}, nullptr, E::Always, nullptr, nullptr, "acTOUKEI_PingExecute"},
    {P::MenuItem, "TracerouteT1", nullptr, {}, nullptr, E::Always, nullptr, nullptr, "acTOUKEI_TracerouteExecute"},

    // オプション; the menu shows "Alt+Enter", both Enter keys work.
    {P::Menu, "O1", "オプション(&O)", {}, nullptr, E::Always, nullptr, &W::O1},
    {P::MenuItem, "mnuOption", "環境設定(&O)...", keys(Qt::ALT | Qt::Key_Enter), &W::mnuOptionClick, E::Idle, &W::mnuOption},

    // ヘルプ
    {P::Menu, "mnuHelp", "ヘルプ(&H)", {}, nullptr, E::Always, nullptr, &W::mnuHelp},
    {P::MenuItem, "W1", "ホームページへ(&W)", {}, &W::W1Click, E::Always, &W::W1},
    {P::MenuItem, "mnuVersion", "バージョン情報(&V)...", {}, &W::mnuVersionClick, E::Always, &W::mnuVersion},

    // The toolbar.
    {P::ToolBar, "btnExit", "終了(Alt+F4)", {}, &W::mnuExitClick, E::Always, &W::btnExit, nullptr, nullptr, biExit},
    {P::ToolBar, nullptr},
    {P::ToolBar, "btnOpen", "ファイルを開く(Ctrl+O)", {}, &W::mnuOpenClick, E::Idle, &W::btnOpen, nullptr, nullptr, biOpen},
    {P::ToolBar, "btnSave", "上書き保存(Ctrl+S)", {}, &W::mnuSaveClick, E::Idle, &W::btnSave, nullptr, nullptr, biSave},
    {P::ToolBar, "btnPingKekka", "Ping 結果の保存(Ctrl+K)", {}, &W::mnuPingKekkaClick, E::PingResults, &W::btnPingKekka, nullptr, nullptr, biSaveResult},
    {P::ToolBar, nullptr},
    {P::ToolBar, "btnPing", "Ping 実行(F5)", {}, &W::mnuPingClick, E::Idle, &W::btnPing, nullptr, nullptr, biPing},
    {P::ToolBar, "btnBreak", "中断(F4)", {}, &W::mnuBreakClick, E::Running, &W::btnBreak, nullptr, nullptr, biBreak},
    {P::ToolBar, "btnTraceRoute", "TraceRoute 実行(F6)", {}, &W::mnuTraceRouteClick, E::Idle, &W::btnTraceRoute, nullptr, nullptr, biTrace},
    {P::ToolBar, nullptr},
    {P::ToolBar, "btnClear", "結果のクリア(Ctrl+Del)", {}, &W::mnuClearClick, E::Idle, &W::btnClear, nullptr, nullptr, biClear},
    {P::ToolBar, "btnOption", "環境設定(Alt+Enter)", {}, &W::mnuOptionClick, E::Idle, &W::btnOption, nullptr, nullptr, biOption},
    {P::ToolBar, nullptr},
    {P::ToolBar, "btnVersion", "バージョン情報", {}, &W::mnuVersionClick, E::Always, &W::btnVersion, nullptr, nullptr, biVersion},

    // The tray icon's menu. Its shortcuts are shown; they act through the
    // menu bar's items while the window is active.
    {P::TrayMenu, "pmnuVersion", "バージョン情報(&V)...", {}, &W::mnuVersionClick, E::Always, &W::pmnuVersion},
    {P::TrayMenu, "pmnOption", "環境設定(&O)...", {}, &W::mnuOptionClick, E::Idle, &W::pmnOption},
    {P::TrayMenu, "pmnShowMain", "メイン画面(&M)...", {}, &W::Tray1DblClick, E::Always, &W::pmnShowMain},
    {P::TrayMenu, "N4"},
    {P::TrayMenu, "pmnPing", "実行(&E)", keys(Qt::Key_F5), &W::mnuPingClick, E::Idle, &W::pmnPing},
    {P::TrayMenu, "pmnBreak", "中断(&S)", keys(Qt::Key_F4), &W::mnuBreakClick, E::Running, &W::pmnBreak},
    {P::TrayMenu, "N6"},
    {P::TrayMenu, "Tarvok1", "終了(&X)", {}, &W::mnuExitClick, E::Always, &W::Tarvok1},

    // The statistics list's menu.
    {P::ListMenu, "PingP2", nullptr, {}, nullptr, E::Always, nullptr, nullptr, "acTOUKEI_PingExecute"},
    {P::ListMenu, "TracerouteT2", nullptr, {}, nullptr, E::Always, nullptr, nullptr, "acTOUKEI_TracerouteExecute"},
};
// clang-format on

// A menu item bound to an action of ActionList1: it shows the action's
// caption, follows its enabled state and runs it.
QAction* bindToAction(QMenu* menu, const char* name, QAction* source)
{
    auto* item = new QAction(source->text(), menu);
    item->setObjectName(QLatin1String(name));
    item->setEnabled(source->isEnabled());
    QObject::connect(source, &QAction::changed, item, [item, source] {
        item->setText(source->text());
        item->setEnabled(source->isEnabled());
        item->setVisible(source->isVisible());
    });
    QObject::connect(item, &QAction::triggered, source, [source] { source->trigger(); });
    menu->addAction(item);
    return item;
}

QAction* newAction(TTarvokMain& w, QObject* parent, const MainCommand& c)
{
    auto* a = new QAction(QString::fromUtf8(c.caption), parent);
    a->setObjectName(QLatin1String(c.name));
    if (!c.key.isEmpty())
        a->setShortcut(c.key);
    QObject::connect(a, &QAction::triggered, &w, c.handler);
    return a;
}

// One item of a menu: a separator, an item bound to an action, or an item
// of its own.
QAction* addMenuItem(TTarvokMain& w, QMenu* menu, const MainCommand& c, const QHash<QByteArray, QAction*>& actions)
{
    if (c.action)
        return bindToAction(menu, c.name, actions.value(c.action));
    if (!c.handler) {
        QAction* s = menu->addSeparator();
        s->setObjectName(QLatin1String(c.name));
        return s;
    }
    QAction* a = newAction(w, menu, c);
    if (c.key == QKeySequence(Qt::ALT | Qt::Key_Enter))
        a->setShortcuts({c.key, QKeySequence(Qt::ALT | Qt::Key_Return)});
    if (c.place == P::TrayMenu)
        a->setShortcutContext(Qt::WidgetShortcut);
    menu->addAction(a);
    return a;
}

QAction* addToolButton(TTarvokMain& w, const MainCommand& c)
{
    if (!c.handler)
        return w.ToolBar1->addSeparator();
    const QString hint = QString::fromUtf8(c.caption);
    QAction* a = w.ToolBar1->addAction(buttonIcon(c.image), hint);
    a->setObjectName(QLatin1String(c.name));
    a->setToolTip(hint);
    w.ToolBar1->widgetForAction(a)->setObjectName(QLatin1String(c.name));
    QObject::connect(a, &QAction::triggered, &w, c.handler);
    return a;
}

QMenu* addMenu(TTarvokMain& w, const MainCommand& c)
{
    QMenu* m = w.MainMenu1->addMenu(QString::fromUtf8(c.caption));
    m->setObjectName(QLatin1String(c.name));
    m->menuAction()->setObjectName(QLatin1String(c.name));
    if (c.handler)
        QObject::connect(m, &QMenu::aboutToShow, &w, c.handler);
    return m;
}

} // namespace

std::span<const MainCommand> MainCommands()
{
    return Table;
}

void BuildMainCommands(TTarvokMain& w)
{
    QHash<QByteArray, QAction*> actions;
    QMenu* menu = nullptr;
    for (const MainCommand& c : Table) {
        QAction* a = nullptr;
        switch (c.place) {
        case P::Action:
            a = newAction(w, w.ActionList1, c);
            a->setProperty("category", QStringLiteral("統計"));
            actions.insert(c.name, a);
            break;
        case P::Menu:
            menu = addMenu(w, c);
            w.*c.menu = menu;
            break;
        case P::MenuItem: a = addMenuItem(w, menu, c, actions); break;
        case P::TrayMenu: a = addMenuItem(w, w.PopupMenu1, c, actions); break;
        case P::ListMenu: a = addMenuItem(w, w.PopupMenu3, c, actions); break;
        case P::ToolBar: a = addToolButton(w, c); break;
        }
        if (c.field)
            w.*c.field = a;
    }
}

void ApplyCommandEnabling(TTarvokMain& w, bool idle, bool pingResults, bool statRows, bool traceTree,
                          bool listsOnly)
{
    for (const MainCommand& c : Table) {
        if (!c.field || (listsOnly && (c.enabling == E::Idle || c.enabling == E::Running)))
            continue;
        QAction* a = w.*c.field;
        switch (c.enabling) {
        case E::Always: break;
        case E::Idle: a->setEnabled(idle); break;
        case E::Running: a->setEnabled(!idle); break;
        case E::PingResults: a->setEnabled(idle && pingResults); break;
        case E::StatRows: a->setEnabled(idle && statRows); break;
        case E::TraceTree: a->setEnabled(idle && traceTree); break;
        }
    }
}

} // namespace tarvok
