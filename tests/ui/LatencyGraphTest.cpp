// The グラフ tab: time window, following the newest echo, zoom and pan, the
// hover text, the saved image, the stored choice, and the targets it follows
// in the statistics list.

#include "support/FakeIcmp.h"

#include "icmp/KtIcmp.h"
#include "monitor/LatencyHistory.h"
#include "store/IniFile.h"
#include "store/Preferences.h"
#include "store/Settings.h"
#include "ui/LatencyGraphPage.h"
#include "ui/LatencyGraphView.h"
#include "ui/window/TarvokMain.h"
#include "ui/widgets/SpinEdit.h"

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {
constexpr qint64 kMin = 60'000;

// Three targets over an hour: a fast one every second, a slow one every 10 s,
// and one that answers for half an hour and then goes silent.
void fillHour(LatencyHistory& h)
{
    h.reset({"10.0.0.1", "10.0.0.2", "10.0.0.3"}, {"本社", "", "倉庫"},
            QDateTime(QDate(2026, 12, 7), QTime(9, 0)), 0);
    for (qint64 t = 0; t < 60 * kMin; t += 1000) {
        h.record(0, t, true, 2 + quint32(t / 1000 % 3));
        if (t % 10'000 == 0) {
            h.record(1, t, true, 300);
            h.record(2, t, t < 30 * kMin, 20);
        }
    }
}
} // namespace

TEST(LatencyGraph, TimeWindowFollowZoomPanAndHoverText)
{
    LatencyHistory h;
    fillHour(h);
    Preferences prefs;
    prefs.CheckRTT = true;
    prefs.CheckRTTValue = 250;
    LatencyGraphPage page(h, prefs);
    page.resize(800, 400);
    page.show();
    LatencyGraphView& g = *page.graph;
    (void)g.image(); // lays out the plot as a paint does

    const qint64 end = h.lastMs() + 1;
    page.cmbGraphSpanActivated(0); // 5分
    EXPECT_TRUE(g.following());
    EXPECT_EQ(g.range(), std::make_pair(end - 5 * kMin, end));
    page.cmbGraphSpanActivated(3); // 全体
    EXPECT_EQ(g.range(), std::make_pair(qint64(0), end));

    // Dragging to the right shows older echoes and stops following; newer
    // echoes then do not move the view; dragging back to the newest follows.
    page.cmbGraphSpanActivated(1); // 30分
    (void)g.image();
    g.panBy(100);
    EXPECT_FALSE(g.following());
    const auto held = g.range();
    EXPECT_LT(held.second, end);
    EXPECT_EQ(held.second - held.first, 30 * kMin);
    h.record(0, 61 * kMin, true, 3);
    EXPECT_EQ(g.range(), held);
    g.panBy(-100000);
    EXPECT_TRUE(g.following());
    g.panBy(100000); // never before the run began
    EXPECT_EQ(g.range().first, 0);

    // The wheel narrows the window about the pointer; it stops at 10 s.
    const auto before = g.range();
    g.zoomAt(0.5, g.width() / 2);
    EXPECT_EQ(g.range().second - g.range().first, (before.second - before.first) / 2);
    for (int i = 0; i < 20; ++i)
        g.zoomAt(0.5, g.width() / 2);
    EXPECT_EQ(g.range().second - g.range().first, LatencyGraphView::kMinSpanMs);

    // Hover text over the first minutes of the whole run: every target with
    // its median, extremes and losses; the silent target's losses later on.
    page.cmbGraphSpanActivated(3);
    (void)g.image();
    const QString early = g.toolTipAt(g.width() / 10);
    EXPECT_TRUE(early.startsWith("2026/12/07 09:")) << early.toStdString();
    EXPECT_TRUE(early.contains("10.0.0.1 本社： 中央値")) << early.toStdString();
    EXPECT_TRUE(early.contains("10.0.0.3 倉庫：")) << early.toStdString();
    const QString late = g.toolTipAt(g.width() - 20);
    EXPECT_TRUE(late.contains("10.0.0.3 倉庫： 応答なし　損失")) << late.toStdString();
    EXPECT_TRUE(g.toolTipAt(0).isEmpty()); // left of the plot
}

TEST(LatencyGraph, SavesPngAndKeepsTheWindowWithTheSettings)
{
    LatencyHistory h;
    fillHour(h);
    Preferences prefs;
    QTemporaryDir dir;
    const QString ini = dir.filePath("tarvok.ini");
    LatencyGraphPage page(h, prefs);
    page.resize(640, 360);
    page.show();
    page.cmbGraphSpanActivated(2); // 2時間
    EXPECT_FALSE(QFile::exists(ini)) << "nothing is written before the exit";

    // At exit the choice goes out with the other settings, and comes back.
    WindowLayout layout;
    layout.graphTimeWindow = page.timeWindow();
    ASSERT_TRUE(saveSettings(ini, layout, prefs));
    const LoadedSettings loaded = loadSettings(ini, dir.path(), QSize(1024, 768), QSize(640, 480), {}, {});
    EXPECT_EQ(loaded.layout.graphTimeWindow, 2);
    IniFile f;
    ASSERT_TRUE(f.load(ini));
    EXPECT_EQ(f.keys("Graph"), QStringList{"TimeWindow"});
    LatencyGraphPage again(h, prefs);
    again.setTimeWindow(loaded.layout.graphTimeWindow);
    EXPECT_EQ(again.cmbGraphSpan->currentIndex(), 2);
    EXPECT_EQ(again.graph->span(), 2 * 60 * kMin);
    again.setTimeWindow(7); // not a choice: unchanged
    EXPECT_EQ(again.timeWindow(), 2);

    const QString png = dir.filePath("graph.png");
    QString error;
    ASSERT_TRUE(page.saveImage(png, &error)) << error.toStdString();
    const QImage saved(png);
    EXPECT_EQ(saved.size(), page.graph->size());
    EXPECT_FALSE(page.saveImage(dir.filePath("missing/graph.png"), &error));
    EXPECT_TRUE(error.endsWith("に書き込めません")) << error.toStdString();
}

TEST(LatencyGraph, SixthTabShowsTheTargetsSelectedInTheStatistics)
{
    ManualClock clock;
    auto* net = new FakeTransport(clock);
    auto engine = std::make_unique<TKtICMP>(std::unique_ptr<IcmpTransport>(net),
                                            std::unique_ptr<Resolver>(new FakeResolver), clock);
    TTarvokMain w(std::move(engine), clock);
    w.show();
    ASSERT_EQ(w.Page1->indexOf(w.tabGraph), 5);

    QStringList lines;
    for (int i = 1; i <= 20; ++i)
        lines << QStringLiteral("10.0.0.%1").arg(i);
    w.Memo1->setPlainText(lines.join('\n'));
    w.edtPingCount->setValue(1);
    net->setResponder([](const Probe&) { return FakeOutcome::echo(64, 3); });
    w.mnuPingClick();
    advance(clock, 60'000);
    ASSERT_FALSE(w.run().Busy());
    EXPECT_EQ(w.run().latencyHistory().echoCount(), 20);

    LatencyGraphView& g = *w.tabGraph->graph;
    EXPECT_EQ(g.shownTargets().size(), size_t(LatencyGraphView::kMaxTargets)); // none selected: the first ones
    w.ListView2->selectRow(4);
    EXPECT_EQ(g.shownTargets(), std::vector<int>{4});
    w.mnuClearClick();
    EXPECT_TRUE(g.shownTargets().empty());
}

TEST(LatencyGraph, ShortRunsEndAtNowAndEveryTargetKeepsItsColourAndZeroStaysVisible)
{
    // One minute of a run: the 30-minute window reaches back from now.
    LatencyHistory h;
    h.reset({"10.0.0.1", "10.0.0.2", "10.0.0.3"}, {"", "", ""}, QDateTime(QDate(2026, 12, 7), QTime(9, 0)), 0);
    for (qint64 t = 0; t < kMin; t += 1000)
        for (int target = 0; target < 3; ++target)
            h.record(target, t, true, target == 0 ? 0 : 10 * quint32(target));
    Preferences prefs;
    LatencyGraphPage page(h, prefs);
    page.resize(800, 400);
    page.show();
    LatencyGraphView& g = *page.graph;
    const qint64 end = h.lastMs() + 1;
    EXPECT_EQ(g.range(), std::make_pair(end - 30 * kMin, end));

    // Colours stay with their targets whatever else the statistics select.
    page.setChosenTargets({0, 1, 2});
    (void)g.image();
    const QColor c1 = g.targetColour(1), c2 = g.targetColour(2);
    EXPECT_NE(c1, c2);
    page.setChosenTargets({2});
    (void)g.image();
    EXPECT_EQ(g.targetColour(2), c2);
    page.setChosenTargets({2, 1});
    (void)g.image();
    EXPECT_EQ(g.targetColour(1), c1);
    EXPECT_EQ(g.targetColour(2), c2);

    // A host answering in 0 ms draws its line above the frame, across the plot.
    page.setChosenTargets({0});
    page.cmbGraphSpanActivated(3); // 全体
    const QImage img = g.image();
    const QRect plot = g.plotRect();
    ASSERT_TRUE(plot.isValid());
    int coloured = 0;
    for (int yy = plot.bottom() - 4; yy < plot.bottom(); ++yy)
        for (int xx = plot.left() + 1; xx < plot.right(); ++xx) {
            const QColor c = img.pixelColor(xx, yy);
            if (std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 40)
                ++coloured;
        }
    EXPECT_GT(coloured, plot.width() / 2);
}
