// The main window driven as the operator drives it: keys, menu items, header
// clicks, over a real engine on the fake network and a manual clock.

#include "support/FakeIcmp.h"

#include "icmp/KtIcmp.h"
#include "run/TraceRunController.h"
#include "ui/window/MainCommands.h"
#include "ui/window/TarvokMain.h"
#include "ui/widgets/SpinEdit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

// The window with its status texts recorded in order.
class RecordingMain : public TTarvokMain {
public:
    using TTarvokMain::TTarvokMain;
    QStringList statusTexts;
    void setStatusText(const QString& text) override
    {
        statusTexts << text;
        TTarvokMain::setStatusText(text);
    }
};

struct WindowRig {
    ManualClock clock;
    FakeTransport* net = nullptr;
    FakeResolver* dns = nullptr;
    std::unique_ptr<RecordingMain> w;

    WindowRig()
    {
        net = new FakeTransport(clock);
        dns = new FakeResolver;
        auto engine = std::make_unique<TKtICMP>(std::unique_ptr<IcmpTransport>(net), std::unique_ptr<Resolver>(dns),
                                                clock);
        w = std::make_unique<RecordingMain>(std::move(engine), clock);
        w->show();
        QApplication::setActiveWindow(w.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    void run(qint64 ms) { advance(clock, ms); }
    void key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(w->Memo1, static_cast<Qt::Key>(key), mods);
        settle();
    }
    QString cell(QTableView* view, int row, int column)
    {
        return view->model()->index(row, column).data().toString();
    }
    void clickHeader(QTableView* view, int section)
    {
        QHeaderView* h = view->horizontalHeader();
        const QPoint p(h->sectionViewportPosition(section) + h->sectionSize(section) / 2, h->height() / 2);
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, p);
    }
    bool enabled(const char* name)
    {
        QObject* o = w->findChild<QObject*>(QLatin1String(name));
        if (auto* a = qobject_cast<QAction*>(o))
            return a->isEnabled();
        if (auto* wd = qobject_cast<QWidget*>(o))
            return wd->isEnabled();
        ADD_FAILURE() << "no control " << name;
        return false;
    }
    // Both, when a toolbar button carries the name: its action and its button.
    bool toolEnabled(const char* name)
    {
        auto* b = w->ToolBar1->findChild<QToolButton*>(QLatin1String(name));
        auto* a = w->findChild<QAction*>(QLatin1String(name));
        EXPECT_TRUE(b && a) << name;
        return b && a && b->isEnabled() && a->isEnabled();
    }
};

const char* const SwitchedByRunState[] = {
    "mnuOption", "pmnOption", "edtPingCount", "edtPingWait", "edtTimeout", "edtBlockSize", "edtTTL", "chkInterval",
    "mnuOpen", "mnuSave", "mnuSaveAs", "mnuPing", "pmnPing", "mnuClear", "mnuTraceRoute", "edtMaxHops",
    "chkResolveHostName", "mnuPingAndSelect", "mnuTraceRouteAndSelect", "mnuIpToIp"};
const char* const ToolsSwitchedByRunState[] = {"btnOption", "btnOpen", "btnSave", "btnPing", "btnClear",
                                                "btnTraceRoute"};

} // namespace

TEST(MainWindow, PingKeyRunsOverTargetLinesAndReportsEachEcho)
{
    WindowRig r;
    r.w->Memo1->setPlainText(QStringLiteral("# office\n10.0.0.1 first host\n\n；全角コメント\n10.0.0.2\n"));
    r.w->Parameters->edtPingCount->setValue(2);
    r.net->setResponder([](const Probe& p) {
        return p.dest == ip("10.0.0.1") ? FakeOutcome::reply("10.0.0.1", 64, 12) : FakeOutcome::silence();
    });

    r.key(Qt::Key_F5);
    EXPECT_TRUE(r.w->run().Busy());
    EXPECT_EQ(r.w->Page1->currentWidget(), r.w->TabPingReport);
    EXPECT_TRUE(r.w->Memo1->isReadOnly());
    EXPECT_EQ(r.w->ListView2->model()->rowCount(), 2);
    EXPECT_EQ(r.cell(r.w->ListView2, 0, 7), QStringLiteral("first host"));

    r.run(60000);
    EXPECT_FALSE(r.w->run().Busy());
    EXPECT_EQ(r.w->statusTexts,
              (QStringList{"", "ping to 10.0.0.1 ...", "10.0.0.1 ( 10.0.0.1 )  Time:    12ms", "ping to 10.0.0.1 ...",
                           "10.0.0.1 ( 10.0.0.1 )  Time:    12ms", "ping to 10.0.0.2 ...", "10.0.0.2  Request timed out",
                           "ping to 10.0.0.2 ...", "10.0.0.2  Request timed out", "終了しました。"}));
    EXPECT_EQ(r.w->statusText(), QStringLiteral("終了しました。"));

    QTableView* list = r.w->ListView1;
    ASSERT_EQ(list->model()->rowCount(), 4);
    EXPECT_EQ(r.cell(list, 0, 0), QStringLiteral("ＯＫ"));
    EXPECT_EQ(r.cell(list, 0, 5), QStringLiteral("first host"));
    EXPECT_EQ(r.cell(list, 3, 0), QStringLiteral("ＮＧ"));
    EXPECT_EQ(r.cell(list, 3, 2), QStringLiteral("10.0.0.2"));
    EXPECT_FALSE(list->model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());

    QTableView* stats = r.w->ListView2;
    EXPECT_EQ(r.cell(stats, 0, 1), QStringLiteral("     2回"));
    EXPECT_EQ(r.cell(stats, 1, 3), QStringLiteral(" 100%"));
    EXPECT_EQ(stats->model()->index(1, 0).data(StateImageIndexRole).toInt(), 10);

    // Back in the idle state, with the save items following the lists.
    EXPECT_FALSE(r.w->Memo1->isReadOnly());
    EXPECT_TRUE(r.enabled("mnuPingKekka"));
    EXPECT_TRUE(r.toolEnabled("btnPingKekka"));
    EXPECT_TRUE(r.enabled("mnuSaveToukei"));
    EXPECT_FALSE(r.enabled("mnuTraceKekka"));

    // A second run appends to the results and restarts the statistics.
    r.w->Parameters->edtPingCount->setValue(1);
    r.key(Qt::Key_F5);
    r.run(60000);
    EXPECT_EQ(list->model()->rowCount(), 6);
    EXPECT_EQ(r.cell(stats, 0, 1), QStringLiteral("     1回"));
}

TEST(MainWindow, NoTargetShowsMessageAndEditorTab)
{
    WindowRig r;
    r.w->Memo1->setPlainText(QStringLiteral("# nothing here\n\n  \n"));
    r.w->Page1->setCurrentWidget(r.w->tabOption);
    r.w->startup.commandMode = true;
    r.key(Qt::Key_F5);
    EXPECT_FALSE(r.w->run().Busy());
    EXPECT_EQ(r.w->statusText(), QStringLiteral("対象アドレスが１件もありません。"));
    EXPECT_EQ(r.w->Page1->currentWidget(), r.w->tabMemo);
    EXPECT_FALSE(r.w->startup.commandMode);
    EXPECT_TRUE(r.net->sent().isEmpty());

    // A repeat count typed as 0 and not yet confirmed counts as typed.
    r.w->Memo1->setPlainText(QStringLiteral("10.0.0.1\n"));
    r.w->Page1->setCurrentWidget(r.w->tabOption);
    r.w->Parameters->edtPingCount->setFocus();
    r.w->Parameters->edtPingCount->selectAll();
    QTest::keyClicks(r.w->Parameters->edtPingCount, QStringLiteral("0"));
    r.w->mnuPing->trigger();
    EXPECT_FALSE(r.w->run().Busy());
    EXPECT_EQ(r.w->statusText(), QStringLiteral("対象アドレスが１件もありません。"));
    EXPECT_EQ(r.w->Page1->currentWidget(), r.w->tabMemo);
}

TEST(MainWindow, RunStateSwitchesEveryNamedControl)
{
    WindowRig r;
    auto expectIdle = [&](bool idle) {
        for (const char* name : SwitchedByRunState)
            EXPECT_EQ(r.enabled(name), idle) << name;
        for (const char* name : ToolsSwitchedByRunState)
            EXPECT_EQ(r.toolEnabled(name), idle) << name;
        EXPECT_EQ(r.enabled("mnuBreak"), !idle);
        EXPECT_EQ(r.enabled("pmnBreak"), !idle);
        EXPECT_EQ(r.toolEnabled("btnBreak"), !idle);
        EXPECT_EQ(r.w->Memo1->isReadOnly(), !idle);
    };

    // Idle at start: nothing to save yet; the order buttons follow PingCount
    // 3, the interval field the unchecked box.
    expectIdle(true);
    for (const char* name : {"mnuPingKekka", "mnuSaveToukei", "mnuTraceKekka"})
        EXPECT_FALSE(r.enabled(name)) << name;
    EXPECT_FALSE(r.toolEnabled("btnPingKekka"));
    EXPECT_TRUE(r.enabled("chkCycleToTerm"));
    EXPECT_TRUE(r.enabled("chkTermToCycle"));
    EXPECT_FALSE(r.enabled("edtInterval"));

    r.w->Parameters->edtPingCount->setValue(1);
    EXPECT_FALSE(r.enabled("chkCycleToTerm"));
    EXPECT_FALSE(r.enabled("chkTermToCycle"));
    r.w->Parameters->edtPingCount->setValue(2);
    EXPECT_TRUE(r.enabled("chkTermToCycle"));
    QTest::mouseClick(r.w->Parameters->chkInterval, Qt::LeftButton);
    EXPECT_TRUE(r.enabled("edtInterval"));
    QTest::mouseClick(r.w->Parameters->chkInterval, Qt::LeftButton);
    EXPECT_FALSE(r.enabled("edtInterval"));

    r.w->Memo1->setPlainText(QStringLiteral("10.0.0.1\n"));
    r.key(Qt::Key_F5);
    ASSERT_TRUE(r.w->run().Busy());
    expectIdle(false);
    for (const char* name : {"mnuPingKekka", "mnuSaveToukei", "mnuTraceKekka", "chkCycleToTerm", "chkTermToCycle",
                             "chkInterval", "edtInterval"})
        EXPECT_FALSE(r.enabled(name)) << name;
    EXPECT_FALSE(r.toolEnabled("btnPingKekka"));
    // A change made by the program during the run leaves the order buttons off.
    r.w->Parameters->edtPingCount->setValue(5);
    EXPECT_FALSE(r.enabled("chkTermToCycle"));

    r.run(60000);
    ASSERT_FALSE(r.w->run().Busy());
    expectIdle(true);
    EXPECT_TRUE(r.enabled("chkTermToCycle"));
    EXPECT_FALSE(r.enabled("edtInterval"));
}

TEST(MainWindow, BreakKeyEndsRunWithoutRecordingTheEchoInFlight)
{
    WindowRig r;
    r.w->Memo1->setPlainText(QStringLiteral("10.0.0.1\n10.0.0.2\n"));
    r.w->startup.commandMode = true;
    r.key(Qt::Key_F5);
    r.run(500); // the first echo waits for its time-out
    ASSERT_TRUE(r.w->run().Busy());

    r.key(Qt::Key_F4);
    EXPECT_EQ(r.w->statusText(), QStringLiteral("終了しました。"));
    EXPECT_TRUE(r.enabled("mnuPing"));
    EXPECT_FALSE(r.enabled("mnuBreak"));
    EXPECT_FALSE(r.w->startup.commandMode);

    r.run(60000);
    EXPECT_FALSE(r.w->run().Busy());
    EXPECT_EQ(r.w->ListView1->model()->rowCount(), 0);
    EXPECT_EQ(r.net->sent().size(), 1);
    EXPECT_EQ(r.w->statusText(), QStringLiteral("終了しました。"));
}

TEST(MainWindow, HeaderClicksSortAndReverse)
{
    WindowRig r;
    r.w->Memo1->setPlainText(QStringLiteral("10.0.0.2 b\n10.0.0.1 a\n10.0.0.3 c\n"));
    r.w->Parameters->edtPingCount->setValue(1);
    r.net->setResponder([](const Probe& p) {
        if (p.dest == ip("10.0.0.3"))
            return FakeOutcome::silence();
        return FakeOutcome::reply(p.dest == ip("10.0.0.1") ? "10.0.0.1" : "10.0.0.2", 64, 5);
    });
    r.key(Qt::Key_F5);
    r.run(60000);
    ASSERT_EQ(r.w->ListView1->model()->rowCount(), 3);

    r.clickHeader(r.w->ListView1, 2); // 対象
    EXPECT_EQ(r.cell(r.w->ListView1, 0, 2), QStringLiteral("10.0.0.1"));
    EXPECT_EQ(r.cell(r.w->ListView1, 2, 2), QStringLiteral("10.0.0.3"));
    r.clickHeader(r.w->ListView1, 2);
    EXPECT_EQ(r.cell(r.w->ListView1, 0, 2), QStringLiteral("10.0.0.3"));
    EXPECT_EQ(r.cell(r.w->ListView1, 2, 2), QStringLiteral("10.0.0.1"));
    EXPECT_FALSE(r.w->ListView1->horizontalHeader()->isSortIndicatorShown());

    r.clickHeader(r.w->ListView2, 7); // 備考
    EXPECT_EQ(r.cell(r.w->ListView2, 0, 7), QStringLiteral("a"));
    r.clickHeader(r.w->ListView2, 7);
    EXPECT_EQ(r.cell(r.w->ListView2, 0, 7), QStringLiteral("c"));

    // Selection by result still finds the rows of the right targets after
    // sorting: only 10.0.0.3 failed.
    r.w->acTOUKEI_SelectNGAddress->trigger();
    const QModelIndexList sel = r.w->ListView2->selectionModel()->selectedRows();
    ASSERT_EQ(sel.size(), 1);
    EXPECT_EQ(sel.first().data().toString(), QStringLiteral("10.0.0.3"));
    EXPECT_EQ(r.w->selectedTargets(), std::vector<int>{2});
    r.w->acTOUKEI_ReverseSelect->trigger();
    EXPECT_EQ(r.w->selectedTargets(), (std::vector<int>{0, 1}));
    r.w->acTOUKEI_SelectAllOKAddress->trigger();
    EXPECT_EQ(r.w->selectedTargets(), (std::vector<int>{0, 1}));
    EXPECT_EQ(r.w->Page1->currentWidget(), r.w->TabSheet4);
}

TEST(MainWindow, StatisticsMenuEnablingFollowsRowsSelectionAndRun)
{
    WindowRig r;
    QAction* select = r.w->acTOUKEI_SelectOKAddress;
    QAction* ping = r.w->acTOUKEI_PingExecute;
    r.w->mnuToukeiClick();
    EXPECT_FALSE(select->isEnabled());
    EXPECT_FALSE(ping->isEnabled());

    r.w->Memo1->setPlainText(QStringLiteral("10.0.0.1\n10.0.0.2\n"));
    r.w->Parameters->edtPingCount->setValue(1);
    r.key(Qt::Key_F5);
    r.w->mnuToukeiClick();
    EXPECT_FALSE(select->isEnabled()); // busy
    r.run(60000);

    r.w->mnuToukeiClick();
    EXPECT_TRUE(select->isEnabled());
    EXPECT_FALSE(ping->isEnabled());
    r.w->ListView2->selectRow(1);
    r.w->mnuToukeiClick();
    EXPECT_TRUE(ping->isEnabled());
    // The menu items bound to the actions follow them.
    auto* item = r.w->mnuToukei->findChild<QAction*>(QStringLiteral("PingP1"));
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->isEnabled());
    EXPECT_EQ(item->text(), ping->text());
    r.w->ListView2->clearSelection();
    r.w->mnuToukeiClick();
    EXPECT_FALSE(item->isEnabled());
}

TEST(MainWindow, ClearEmptiesListsTreeAndSaveItems)
{
    WindowRig r;
    r.w->Memo1->setPlainText(QStringLiteral("10.0.0.1\n"));
    r.w->Parameters->edtPingCount->setValue(1);
    r.key(Qt::Key_F5);
    r.run(60000);
    r.w->trace().BuildTraceTree();
    r.w->SetIdleControls(true);
    ASSERT_TRUE(r.enabled("mnuTraceKekka"));
    ASSERT_EQ(r.w->ListView1->model()->rowCount(), 1);

    r.w->ListView1->setFocus();
    QTest::keyClick(r.w->ListView1, Qt::Key_Delete, Qt::ControlModifier);
    settle();
    EXPECT_EQ(r.w->ListView1->model()->rowCount(), 0);
    EXPECT_EQ(r.w->ListView2->model()->rowCount(), 0);
    EXPECT_EQ(r.w->TreeView1->model()->rowCount(), 0);
    for (const char* name : {"mnuPingKekka", "mnuSaveToukei", "mnuTraceKekka"})
        EXPECT_FALSE(r.enabled(name)) << name;
    EXPECT_FALSE(r.toolEnabled("btnPingKekka"));
}

TEST(MainWindow, StatusBarPanelsKeepWidthsOnResize)
{
    WindowRig r;
    for (int width : {800, 532, 400}) {
        r.w->resize(width, 443);
        QApplication::processEvents();
        QWidget* panels = r.w->Bar1Panels[0]->parentWidget();
        EXPECT_EQ(r.w->Bar1Panels[1]->width(), 100) << width;
        EXPECT_EQ(r.w->Bar1Panels[2]->width(), 120) << width;
        EXPECT_EQ(r.w->Bar1Panels[0]->width(), panels->width() - 220) << width;
        EXPECT_GT(panels->width(), r.w->Bar1->width() - 30) << width;
    }
    // A long message does not widen the window.
    const int before = r.w->width();
    r.w->setStatusText(QString(300, u'あ'));
    QApplication::processEvents();
    EXPECT_EQ(r.w->width(), before);
    EXPECT_EQ(r.w->Bar1Panels[1]->width(), 100);
}

TEST(MainWindow, CommandSkeletonHasEveryItemAsDesigned)
{
    WindowRig r;
    struct Item {
        const char* name;
        const char* caption;
        QKeySequence key;
    };
    const Item items[] = {
        {"mnuOpen", "ファイルを開く(&O)", QKeySequence("Ctrl+O")},
        {"mnuSave", "上書き保存(&S)", QKeySequence("Ctrl+S")},
        {"mnuSaveAs", "名前をつけて保存(&A)", QKeySequence("Ctrl+Shift+S")},
        {"mnuPingKekka", "Ping 結果の保存(&K)", QKeySequence("Ctrl+K")},
        {"mnuSaveToukei", "Ping 統計の保存(&T)", QKeySequence("Ctrl+T")},
        {"mnuTraceKekka", "TraceRoute 結果の保存(&R)", QKeySequence("Ctrl+Shift+K")},
        {"mnuExit", "終了(&X)", QKeySequence("Alt+F4")},
        {"mnuUndo", "元に戻す(&Z)", QKeySequence("Ctrl+Z")},
        {"mnuCut", "切り取り(&T)", QKeySequence("Ctrl+X")},
        {"mnuCopy", "コピー(&C)", QKeySequence("Ctrl+C")},
        {"mnuPaste", "貼り付け(&P)", QKeySequence("Ctrl+V")},
        {"mnuDelete", "削除(&L)", QKeySequence()},
        {"mnuFind", "検索(&F)", QKeySequence("Ctrl+F")},
        {"mnuReplace", "置換(&H)", QKeySequence("Ctrl+H")},
        {"mnuSelectAll", "全て選択(&A)", QKeySequence("Ctrl+A")},
        {"mnuPing", "Ping 実行(&E)", QKeySequence("F5")},
        {"mnuTraceRoute", "TraceRoute 実行(&T)", QKeySequence("F6")},
        {"mnuIpToIp", "範囲指定Ping 実行(&C)", QKeySequence("F7")},
        {"mnuPingAndSelect", "選択してPing 実行（&Q）", QKeySequence("Shift+F5")},
        {"mnuTraceRouteAndSelect", "選択してTraceRoute 実行(&U)", QKeySequence("Shift+F6")},
        {"mnuBreak", "中断(&S)", QKeySequence("F4")},
        {"mnuClear", "結果のクリア(&D)", QKeySequence("Ctrl+Del")},
        {"mnuOption", "環境設定(&O)...", QKeySequence("Alt+Enter")},
        {"W1", "ホームページへ(&W)", QKeySequence()},
        {"mnuVersion", "バージョン情報(&V)...", QKeySequence()},
        {"pmnuVersion", "バージョン情報(&V)...", QKeySequence()},
        {"pmnOption", "環境設定(&O)...", QKeySequence()},
        {"pmnShowMain", "メイン画面(&M)...", QKeySequence()},
        {"pmnPing", "実行(&E)", QKeySequence("F5")},
        {"pmnBreak", "中断(&S)", QKeySequence("F4")},
        {"Tarvok1", "終了(&X)", QKeySequence()},
        {"OKO1", "OKが発生したアドレスを選択(&O)", QKeySequence()},
        {"NGN1", "NGが発生したアドレスを選択(&N)", QKeySequence()},
        {"N100E1", "すべてOKだったアドレスを選択(&E)", QKeySequence()},
        {"NGN2", "すべてNGだったアドレスを選択(&D)", QKeySequence()},
        {"R1", "選択の反転(&R)", QKeySequence()},
        {"PingP1", "選択したアドレスにPing 実行(&P)", QKeySequence()},
        {"TracerouteT1", "選択したアドレスにTraceroute 実行(&T)", QKeySequence()},
        {"PingP2", "選択したアドレスにPing 実行(&P)", QKeySequence()},
        {"TracerouteT2", "選択したアドレスにTraceroute 実行(&T)", QKeySequence()},
    };
    for (const Item& it : items) {
        auto* a = r.w->findChild<QAction*>(QLatin1String(it.name));
        ASSERT_TRUE(a) << it.name;
        EXPECT_EQ(a->text(), QString::fromUtf8(it.caption)) << it.name;
        EXPECT_EQ(a->shortcut(), it.key) << it.name;
    }
    // The window's command table is what the window shows.
    for (const MainCommand& c : MainCommands()) {
        if (!c.name || !c.caption || c.place == MainCommand::Place::Menu)
            continue;
        auto* a = r.w->findChild<QAction*>(QLatin1String(c.name));
        ASSERT_TRUE(a) << c.name;
        EXPECT_EQ(c.place == MainCommand::Place::ToolBar ? a->toolTip() : a->text(), QString::fromUtf8(c.caption))
            << c.name;
        EXPECT_EQ(a->shortcut(), c.key) << c.name;
    }

    // Menus in order, and the 統計 menu's layout.
    QStringList menus;
    for (QAction* a : r.w->MainMenu1->actions())
        menus << a->text();
    EXPECT_EQ(menus, (QStringList{"ファイル(&F)", "編集(&E)", "機能(&R)", "統計(&T)", "オプション(&O)", "ヘルプ(&H)"}));
    QStringList toukei;
    for (QAction* a : r.w->mnuToukei->actions())
        toukei << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    EXPECT_EQ(toukei, (QStringList{"OKO1", "NGN1", "N100E1", "NGN2", "-", "R1", "-", "PingP1", "TracerouteT1"}));

    // Toolbar: buttons, hints and separators left to right.
    QStringList tools;
    for (QAction* a : r.w->ToolBar1->actions())
        tools << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + QLatin1Char('=') + a->toolTip());
    EXPECT_EQ(tools, (QStringList{"btnExit=終了(Alt+F4)", "-", "btnOpen=ファイルを開く(Ctrl+O)",
                                  "btnSave=上書き保存(Ctrl+S)", "btnPingKekka=Ping 結果の保存(Ctrl+K)", "-",
                                  "btnPing=Ping 実行(F5)", "btnBreak=中断(F4)", "btnTraceRoute=TraceRoute 実行(F6)", "-",
                                  "btnClear=結果のクリア(Ctrl+Del)", "btnOption=環境設定(Alt+Enter)", "-",
                                  "btnVersion=バージョン情報"}));
    for (QAction* a : r.w->ToolBar1->actions())
        EXPECT_TRUE(a->isSeparator() || !a->icon().isNull()) << a->objectName().toStdString();

    // Pages in order.
    QStringList pages;
    for (int i = 0; i < r.w->Page1->count(); ++i)
        pages << r.w->Page1->widget(i)->objectName() + QLatin1Char('=') + r.w->Page1->tabText(i);
    EXPECT_EQ(pages, (QStringList{"tabMemo=対象", "tabOption=環境", "TabPingReport=Ping 結果", "TabSheet4=Ping 統計",
                                  "tabTraceRoute=TraceRoute", "tabGraph=グラフ",
                                  "tabOutages=障害履歴"}));

    // The parameter fields: ranges and initial values.
    struct Field {
        const char* name;
        int min, max, value;
    };
    for (const Field& f : {Field{"edtPingCount", 1, 100000, 3}, Field{"edtPingWait", 1, 100000, 1000},
                           Field{"edtBlockSize", 1, 4096, 64}, Field{"edtTimeout", 1, 100000, 1000},
                           Field{"edtTTL", 1, 255, 255}, Field{"edtInterval", 0, 10000, 5},
                           Field{"edtMaxHops", 1, 255, 20}}) {
        auto* s = r.w->findChild<TSpinEdit*>(QLatin1String(f.name));
        ASSERT_TRUE(s) << f.name;
        EXPECT_EQ(s->MinValue(), f.min) << f.name;
        EXPECT_EQ(s->MaxValue(), f.max) << f.name;
        EXPECT_EQ(s->Value(), f.value) << f.name;
    }
    EXPECT_TRUE(r.w->Parameters->chkCycleToTerm->isChecked());
    EXPECT_EQ(r.w->Parameters->chkCycleToTerm->text(), QStringLiteral("ソートしない  (A-A-B-B)"));
    EXPECT_TRUE(r.w->Parameters->chkResolveHostName->isChecked());
    EXPECT_FALSE(r.w->Parameters->chkInterval->isChecked());
}

TEST(MainWindow, ExitClosesWindow)
{
    WindowRig r;
    ASSERT_TRUE(r.w->isVisible());
    r.w->Tarvok1->trigger();
    EXPECT_FALSE(r.w->isVisible());
    r.w->pmnShowMain->trigger();
    EXPECT_TRUE(r.w->isVisible());
}

TEST(MainWindow, HiddenWindowListsCatchUpSeldomAndAtOnceWhenShown)
{
    WindowRig r;
    r.w->Memo1->setPlainText(QStringLiteral("10.0.0.1\n10.0.0.2\n10.0.0.3\n10.0.0.4\n10.0.0.5\n10.0.0.6\n"));
    r.w->Parameters->edtPingCount->setValue(1);
    r.w->Parameters->edtPingWait->setValue(100);
    r.net->setResponder([](const Probe&) { return FakeOutcome::echo(64, 1); });
    r.w->hide();
    r.w->findChild<QAction*>(QStringLiteral("mnuPing"))->trigger();
    QAbstractItemModel* list = r.w->ListView1->model();
    ResultModel& rows = r.w->run().resultModel();

    r.run(350); // echoes keep coming; the hidden list is not told yet
    EXPECT_GE(rows.count(), 3);
    EXPECT_LT(list->rowCount(), rows.count());
    r.w->show();
    EXPECT_EQ(list->rowCount(), rows.count()) << "shown: everything at once";
    r.run(2000);
    EXPECT_EQ(list->rowCount(), 6);
}
