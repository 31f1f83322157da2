// The グラフ tab: time window, following the newest echo, zoom and pan, the
// hover text, the saved image, the stored choice, the targets it follows in
// the statistics list, and the long windows read from the history file.

#include "support/FakeIcmp.h"

#include "history/HistoryStore.h"
#include "icmp/KtIcmp.h"
#include "run/EchoObserver.h"
#include "monitor/LatencyHistory.h"
#include "store/IniFile.h"
#include "store/Preferences.h"
#include "store/Settings.h"
#include "ui/graph/LatencyGraphPage.h"
#include "ui/graph/LatencyGraphView.h"
#include "ui/window/TarvokMain.h"
#include "ui/widgets/SpinEdit.h"

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QPlainTextEdit>
#include <QSignalSpy>
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
    w.Parameters->edtPingCount->setValue(1);
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

// 1日, 7日 and 30日 read the history file: days from before the program
// started, sub-millisecond round trips above the zero line; a double-click in
// the ledger shows an outage from it. Without the file, or with the history
// off, the graph shows the run as before.
TEST(LatencyGraph, LongWindowsReadTheHistoryAndTheLedgerShowsAnOutage)
{
    constexpr qint64 kNow = 1'796'600'000'000; // ms since the epoch
    constexpr qint64 kUs = 1000;
    QTemporaryDir dir;
    const QString path = dir.filePath("history.sqlite");
    const qint64 outageStart = (kNow - 24 * 60 * kMin) * kUs, outageEnd = outageStart + 10 * kMin * kUs;
    {
        HistoryStore store;
        ASSERT_EQ(store.open(path), HistoryStore::Fault::None);
        std::vector<JudgedEcho> echoes;
        for (qint64 t = (kNow - 2 * 24 * 60 * kMin) * kUs; t < kNow * kUs; t += kMin * kUs) {
            JudgedEcho e;
            e.timeUs = t;
            e.targetIndex = 0;
            e.target = "10.0.0.1";
            e.comment = "本社";
            e.address = "10.0.0.1";
            const bool lost = t >= outageStart && t < outageEnd;
            e.status = lost ? 11010 : 0;
            e.statusText = lost ? "Request timed out." : "Success";
            e.rttUs = lost ? -1 : 200 + t / (kMin * kUs) % 5 * 100;
            e.ng = lost;
            echoes.push_back(e);
        }
        ASSERT_EQ(store.write(echoes), HistoryStore::Fault::None);
        for (bool more = true; more;)
            ASSERT_EQ(store.summarise(kNow * kUs, 10'000, &more), HistoryStore::Fault::None);
    }

    LatencyHistory h; // no run since the start
    Preferences prefs;
    LatencyGraphPage page(h, prefs);
    LatencyGraphView& g = *page.graph;
    g.setNowMs([] { return kNow; });
    page.setHistoryPath(path);
    page.resize(800, 400);
    page.show();
    QSignalSpy loaded(&g, &LatencyGraphView::storedLoaded);
    auto drawLoaded = [&] {
        loaded.clear();
        (void)g.image(); // asks for the columns
        EXPECT_TRUE(loaded.wait(10'000));
        return g.image();
    };

    page.cmbGraphSpanActivated(5); // 7日
    EXPECT_EQ(page.cmbGraphSpan->currentText(), "7日");
    QImage img = drawLoaded();
    ASSERT_TRUE(g.fromHistory());
    EXPECT_EQ(g.range().second - g.range().first, 7 * 24 * 60 * kMin);
    EXPECT_GE(g.range().second, kNow);
    const QString tip = g.toolTipAt(g.plotRect().right() - 30);
    EXPECT_TRUE(tip.contains("10.0.0.1 本社： 中央値 0.")) << tip.toStdString();
    // The line lies well above the frame: 0.2 to 0.6 ms on a scale below 1 ms.
    const QRect plot = g.plotRect();
    int raised = 0;
    for (int yy = plot.top(); yy < plot.bottom() - plot.height() / 4; ++yy)
        for (int xx = plot.right() - plot.width() / 4; xx < plot.right(); ++xx) {
            const QColor c = img.pixelColor(xx, yy);
            if (std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()}) > 40)
                ++raised;
        }
    EXPECT_GT(raised, plot.width() / 8);

    // The ledger's outage, a few minutes either side, from the raw rows.
    ASSERT_TRUE(page.showOutage("10.0.0.1", "本社", outageStart, outageEnd));
    EXPECT_EQ(g.range(), std::make_pair(outageStart / kUs - 5 * kMin, outageEnd / kUs + 5 * kMin));
    EXPECT_FALSE(g.following());
    (void)drawLoaded();
    const QString during = g.toolTipAt(g.plotRect().left() + g.plotRect().width() / 2); // an echo 5 minutes in
    EXPECT_TRUE(during.contains("10.0.0.1 本社： 応答なし")) << during.toStdString();

    // The history off: the run's (empty) graph.
    prefs.HistoryEnabled = false;
    page.cmbGraphSpanActivated(4); // 1日
    EXPECT_FALSE(g.fromHistory());
    EXPECT_FALSE(page.showOutage("10.0.0.1", "本社", outageStart, outageEnd));
    // A file that cannot be read: the run's graph too, once the reader says so.
    prefs.HistoryEnabled = true;
    page.setHistoryPath(dir.filePath("missing/history.sqlite"));
    page.cmbGraphSpanActivated(6); // 30日
    EXPECT_TRUE(g.fromHistory());
    (void)drawLoaded();
    EXPECT_FALSE(g.fromHistory());
    EXPECT_EQ(g.span(), 30 * 24 * 60 * kMin);
}
