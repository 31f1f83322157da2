// The trace command in the main window: F6, the trace tree on its tab, and
// the clear command, over a real engine on the fake network.

#include "support/FakeIcmp.h"

#include "icmp/KtIcmp.h"
#include "monitor/Statistics.h"
#include "run/TraceRunController.h"
#include "ui/widgets/HopLineDelegate.h"
#include "ui/window/TarvokMain.h"
#include "ui/widgets/SpinEdit.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFontMetricsF>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

struct TraceWindow {
    ManualClock clock;
    FakeTransport* net = new FakeTransport(clock);
    std::unique_ptr<TTarvokMain> w;

    TraceWindow()
    {
        auto engine = std::make_unique<TKtICMP>(std::unique_ptr<IcmpTransport>(net),
                                                std::make_unique<FakeResolver>(), clock);
        w = std::make_unique<TTarvokMain>(std::move(engine), clock);
        w->show();
        QApplication::setActiveWindow(w.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(w.get()));
    }
    void key(Qt::Key k)
    {
        QTest::keyClick(w->Memo1, k);
        settle();
    }
    QAbstractItemModel& tree() { return *w->TreeView1->model(); }
    QModelIndex node(int target, int hop = -1)
    {
        QModelIndex i = tree().index(0, 0);
        if (target >= 0)
            i = tree().index(target, 0, i);
        return hop >= 0 ? tree().index(hop, 0, i) : i;
    }
};

} // namespace

TEST(TraceCommands, F6OverAnEmptyEditorLeavesALoneRootAndNothingElse)
{
    TraceWindow r;
    r.w->Memo1->setPlainText(QStringLiteral("10.0.0.1\n10.0.0.2\n"));
    r.w->trace().BuildTraceTree();
    ASSERT_EQ(r.tree().rowCount(r.node(-1)), 2);

    r.w->Memo1->setPlainText(QStringLiteral("# nothing to trace\n\n"));
    r.w->setStatusText(QStringLiteral("前の表示"));
    r.w->Page1->setCurrentWidget(r.w->tabMemo);
    r.key(Qt::Key_F6);

    ASSERT_EQ(r.tree().rowCount(), 1);
    EXPECT_EQ(r.node(-1).data().toString(), QStringLiteral("TraceRoute"));
    EXPECT_EQ(r.node(-1).data(ImageIndexRole).toInt(), 7);
    EXPECT_EQ(r.tree().rowCount(r.node(-1)), 0);
    EXPECT_EQ(r.w->statusText(), QStringLiteral("前の表示"));
    EXPECT_EQ(r.w->Page1->currentWidget(), r.w->tabMemo);
    EXPECT_FALSE(r.w->run().Busy());
    EXPECT_TRUE(r.w->idleControls());
    EXPECT_TRUE(r.net->sent().isEmpty());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST(TraceCommands, TraceFillsTheTreeOnItsTabAndClearEmptiesIt)
{
    TraceWindow r;
    r.net->setResponder([](const Probe& p) {
        return p.ttl == 1 ? FakeOutcome::error(11013, "10.0.0.1", 3) : FakeOutcome::reply("10.0.0.2", 63, 4);
    });
    r.w->Parameters->chkResolveHostName->setChecked(false);
    r.w->Memo1->setPlainText(QStringLiteral("10.0.0.2 server\n"));
    r.key(Qt::Key_F6);
    EXPECT_EQ(r.w->Page1->currentWidget(), r.w->tabTraceRoute);
    EXPECT_EQ(r.w->statusText(), QStringLiteral("TraceRoute to 10.0.0.2 ..."));
    EXPECT_FALSE(r.w->mnuTraceRoute->isEnabled());
    EXPECT_FALSE(r.w->Parameters->chkResolveHostName->isEnabled());
    EXPECT_TRUE(r.w->TreeView1->isExpanded(r.node(-1)));
    advance(r.clock, 60000);

    EXPECT_EQ(r.w->statusText(), QStringLiteral("終了しました。"));
    EXPECT_TRUE(r.w->idleControls());
    ASSERT_EQ(r.tree().rowCount(r.node(0)), 2);
    EXPECT_EQ(r.node(0).data().toString(), QStringLiteral("10.0.0.2"));
    EXPECT_EQ(r.node(0, 1).data().toString(), QStringLiteral("#002       4ms  10.0.0.2"));
    EXPECT_TRUE(r.w->TreeView1->isExpanded(r.node(0)));
    EXPECT_TRUE(r.w->mnuTraceKekka->isEnabled());

    // The look of the tree control.
    QTreeView* view = r.w->TreeView1;
    EXPECT_FALSE(view->rootIsDecorated());
    EXPECT_EQ(view->indentation(), 19);
    EXPECT_EQ(view->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_TRUE(view->isHeaderHidden());
    const QIcon icon = r.node(0).data(Qt::DecorationRole).value<QIcon>();
    EXPECT_EQ(icon.pixmap(16, 16, QIcon::Selected).toImage(), icon.pixmap(16, 16, QIcon::Normal).toImage());

    r.w->mnuClear->trigger();
    settle();
    EXPECT_EQ(r.tree().rowCount(), 0);
    EXPECT_FALSE(r.w->mnuTraceKekka->isEnabled());
}

TEST(TraceCommands, TheTreeFollowsTheNewestHopUntilTheOperatorScrollsAway)
{
    TraceWindow r;
    // Routers answer every hop; the destination never does.
    r.net->setResponder([](const Probe&) { return FakeOutcome::error(11013, "10.0.0.1", 1); });
    r.w->Parameters->chkResolveHostName->setChecked(false);
    r.w->Parameters->edtMaxHops->setValue(90);
    r.w->Memo1->setPlainText(QStringLiteral("10.9.9.9\n10.9.9.8\n"));
    r.w->resize(640, 480);
    r.key(Qt::Key_F6);
    QTreeView* view = r.w->TreeView1;
    const auto shown = [&](const QModelIndex& i) {
        const QRect rect = view->visualRect(i);
        return rect.isValid() && view->viewport()->rect().contains(rect);
    };
    const auto newest = [&] { return r.node(0, r.tree().rowCount(r.node(0)) - 1); };

    advance(r.clock, 70 * 501);
    ASSERT_GE(r.tree().rowCount(r.node(0)), 60);
    EXPECT_TRUE(shown(newest())) << "hop " << r.tree().rowCount(r.node(0));
    EXPECT_GT(view->verticalScrollBar()->value(), 0);

    // Scrolled back to the start: later hops leave the view where it is.
    view->verticalScrollBar()->setValue(0);
    advance(r.clock, 5 * 501);
    EXPECT_EQ(view->verticalScrollBar()->value(), 0);
    EXPECT_FALSE(shown(newest()));

    // Back at the newest hop: followed again, into the next target's trace.
    view->scrollTo(newest());
    advance(r.clock, 30 * 501);
    ASSERT_GT(r.tree().rowCount(r.node(1)), 3);
    EXPECT_TRUE(shown(r.node(1, r.tree().rowCount(r.node(1)) - 1)));
}

TEST(TraceCommands, HopFieldsLineUpInAProportionalFont)
{
    QFont font(QStringLiteral("Sans Serif"), 10);
    const QFontMetricsF fm(font);
    // Digits of one width, blanks of another: padding with blanks cannot line up.
    const QStringList lines = {"#001      12ms  10.0.0.1", "#002 1234567ms  router [10.0.0.2]",
                               "#111       0ms  10.0.0.3", "#120  999999ms  10.0.0.4"};
    const HopLineLayout first = layoutHopLine(lines.at(0), fm);
    ASSERT_TRUE(first.isHop);
    for (const QString& line : lines) {
        const HopLineLayout l = layoutHopLine(line, fm);
        ASSERT_TRUE(l.isHop) << line.toStdString();
        EXPECT_TRUE(l.rest.startsWith(QLatin1String("ms  "))) << line.toStdString();
        EXPECT_DOUBLE_EQ(l.restX, first.restX) << line.toStdString();
        EXPECT_DOUBLE_EQ(l.timeX + fm.horizontalAdvance(l.time), l.restX) << line.toStdString();
        EXPECT_EQ(l.label + u' ' + QString(line.size() - l.label.size() - 1 - l.time.size() - l.rest.size(), u' ')
                      + l.time + l.rest,
                  line);
    }
    // A status line starts its text where the times start; targets and the
    // root are plain text.
    const HopLineLayout timedOut = layoutHopLine(QStringLiteral("#003 Request timed out"), fm);
    ASSERT_TRUE(timedOut.isHop);
    EXPECT_TRUE(timedOut.time.isEmpty());
    EXPECT_EQ(timedOut.rest, QStringLiteral("Request timed out"));
    EXPECT_LT(timedOut.restX, first.restX);
    EXPECT_GE(timedOut.restX, fm.horizontalAdvance(QStringLiteral("#003 ")));
    for (const char* plain : {"TraceRoute", "10.0.0.2", "#12", "#abc x", "#0001"})
        EXPECT_FALSE(layoutHopLine(QString::fromLatin1(plain), fm).isHop) << plain;
}
