// Route traces through a real engine over the fake network, with a manual
// clock and a recording window: hop lines, the tree, pacing, break and close.

#include "support/FakeIcmp.h"
#include "FakeRunView.h"

#include "monitor/Statistics.h"
#include "run/RunController.h"
#include "run/TraceRunController.h"

#include <QAbstractItemModelTester>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

// 10.0.0.3 lies behind the routers 10.0.0.1 and 10.0.0.2; everything else
// is silent. Answers come after 10 ms.
FakeOutcome threeHopNetwork(const Probe& p)
{
    if (p.dest != ip("10.0.0.3"))
        return FakeOutcome::silence();
    if (p.ttl == 1)
        return FakeOutcome::error(11013, "10.0.0.1", 10);
    if (p.ttl == 2)
        return FakeOutcome::error(11013, "10.0.0.2", 10);
    return FakeOutcome::reply("10.0.0.3", 62, 10);
}

struct TraceRig {
    ManualClock clock;
    FakeTransport* net = new FakeTransport(clock);
    FakeResolver* dns = new FakeResolver;
    TKtICMP engine{std::unique_ptr<IcmpTransport>(net), std::unique_ptr<Resolver>(dns), clock};
    FakeRunView view;
    Preferences prefs;
    RunController run{engine, view, nullptr, prefs, clock};
    TraceRunController trace{engine, run, view, prefs};
    QAbstractItemModelTester tester{&trace.treeModel(), QAbstractItemModelTester::FailureReportingMode::Fatal};

    std::vector<qint64> sentAt, reportedAt;
    std::vector<bool> finished;
    QList<QPair<QModelIndex, bool>> expanded;

    TraceRig()
    {
        view.timeout = 1000;
        net->setResponder([this](const Probe& p) {
            sentAt.push_back(clock.monotonicMs());
            return threeHopNetwork(p);
        });
        dns->addReverse("10.0.0.1", "r1.example");
        QObject::connect(&engine, &TKtICMP::OnRoute, [this] { reportedAt.push_back(clock.monotonicMs()); });
        QObject::connect(&trace, &TraceRunController::runFinished, [this](bool broken) { finished.push_back(broken); });
        QObject::connect(&trace, &TraceRunController::expandRequested,
                         [this](const QModelIndex& i, bool all) { expanded.append({i, all}); });
    }
    void go(qint64 ms) { advance(clock, ms); }
    TraceTreeModel& tree() { return trace.treeModel(); }
    std::vector<int> targetIcons()
    {
        std::vector<int> icons;
        for (int t = 0; t < tree().targetCount(); ++t)
            icons.push_back(tree().targetIcon(t));
        return icons;
    }
};

// The tree as a generic model reader sees it, depth first: one line per node,
// indented by a TAB per level, with its ImageList1 index.
QStringList outline(const QAbstractItemModel& m, const QModelIndex& parent = {}, int depth = 0)
{
    QStringList lines;
    for (int r = 0; r < m.rowCount(parent); ++r) {
        const QModelIndex i = m.index(r, 0, parent);
        lines << QString(depth, u'\t') + i.data().toString() + QStringLiteral(" @") +
                     i.data(ImageIndexRole).toString();
        lines << outline(m, i, depth + 1);
    }
    return lines;
}

} // namespace

TEST(TraceHopLine, FormatsEveryKindOfReport)
{
    struct Case {
        int status, hops;
        const char* address;
        quint32 rtt;
        const char* name;
        bool resolve;
        const char* line;
    };
    const Case cases[] = {
        {0, 1, "10.0.0.1", 12, "", false, "#001      12ms  10.0.0.1"},
        {0, 1, "10.0.0.1", 12, "r1.example", false, "#001      12ms  10.0.0.1"},
        {0, 9, "10.0.0.9", 0, "", true, "#009       0ms  10.0.0.9 [10.0.0.9]"},
        {0, 120, "10.0.0.1", 12345678, "ルータ.example", true, "#120 12345678ms  ルータ.example [10.0.0.1]"},
        {0, 255, "10.0.0.1", 4294967295u, "", false, "#255 4294967295ms  10.0.0.1"},
        {11010, 3, "0.0.0.0", 0, "", true, "#003 Request timed out"},
        {11003, 4, "10.0.0.2", 5, "r2.example", true, "#004 Destination host unreachable"},
        {-1, 1, "0.0.0.0", 0, "", false, "#001 Unknown host"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TraceHopLine(c.status, c.hops, QString::fromUtf8(c.address), c.rtt, QString::fromUtf8(c.name),
                               c.resolve),
                  QString::fromUtf8(c.line));
}

TEST(TraceRun, TwoTargetsInOrderPacedAndShownAsTheyArrive)
{
    TraceRig r;
    r.view.lines = {"# lab", "10.0.0.3 dst", "", "nosuch.example", "10.0.0.3"};
    r.trace.mnuTraceRouteClick();
    ASSERT_TRUE(r.trace.Running());
    EXPECT_TRUE(r.run.Busy());
    EXPECT_EQ(r.targetIcons(), (std::vector<int>{9, 8, 8}));
    ASSERT_FALSE(r.expanded.isEmpty());
    EXPECT_EQ(r.expanded.first(), qMakePair(r.tree().rootIndex(), true));

    // The ping command and a second trace are refused while the trace runs.
    r.run.mnuPingClick();
    r.trace.mnuTraceRouteClick();
    EXPECT_EQ(r.tree().targetIcon(0), 9);

    r.go(600000);
    ASSERT_EQ(r.finished, std::vector<bool>{false});
    EXPECT_FALSE(r.run.Busy());
    EXPECT_FALSE(r.trace.Running());

    const QString hop1 = QStringLiteral("#001      10ms  r1.example [10.0.0.1]");
    const QString hop2 = QStringLiteral("#002      10ms  10.0.0.2 [10.0.0.2]");
    const QString hop3 = QStringLiteral("#003      10ms  10.0.0.3 [10.0.0.3]");
    EXPECT_EQ(r.view.events,
              (QStringList{"running", "tab:4", "status:TraceRoute to 10.0.0.3 ...", "status:" + hop1, "status:" + hop2,
                           "status:" + hop3, "status:TraceRoute to nosuch.example ...", "status:#001 Unknown host",
                           "status:TraceRoute to 10.0.0.3 ...", "status:" + hop1, "status:" + hop2, "status:" + hop3,
                           "status:終了しました。", "idle"}));
    EXPECT_EQ(outline(r.tree()),
              (QStringList{"TraceRoute @7", "\t10.0.0.3 @0", "\t\t" + hop1 + " @1", "\t\t" + hop2 + " @1",
                           "\t\t" + hop3 + " @1", "\tnosuch.example @0", "\t\t#001 Unknown host @2", "\t10.0.0.3 @0",
                           "\t\t" + hop1 + " @1", "\t\t" + hop2 + " @1", "\t\t" + hop3 + " @1"}));
    // Each target's node is expanded by its first hop.
    QList<QModelIndex> byHop;
    for (const auto& e : r.expanded.mid(1)) {
        EXPECT_FALSE(e.second);
        byHop << e.first;
    }
    EXPECT_EQ(byHop, (QList<QModelIndex>{r.tree().targetIndex(0), r.tree().targetIndex(1), r.tree().targetIndex(2)}));

    // Every probe goes out exactly half a second after the previous report,
    // also across targets.
    ASSERT_EQ(r.sentAt.size(), 6u);
    ASSERT_EQ(r.reportedAt.size(), 7u);
    EXPECT_EQ(r.sentAt, (std::vector<qint64>{0, 510, 1020, 2030, 2540, 3050}));
    EXPECT_EQ(r.reportedAt, (std::vector<qint64>{10, 520, 1030, 1530, 2040, 2550, 3060}));
}

TEST(TraceRun, BreakKeepsTheTracedTargetRedAndLaterOnesWaiting)
{
    enum class When { EchoInFlight, Pacing, AfterLastHop };
    for (When when : {When::EchoInFlight, When::Pacing, When::AfterLastHop}) {
        SCOPED_TRACE(static_cast<int>(when));
        TraceRig r;
        r.view.lines = {"10.0.0.3", "10.0.0.3", "10.0.0.3"};
        r.trace.mnuTraceRouteClick();
        // In flight: the second probe is out (t 510..520); pacing: after the
        // first report (t 10..510); after the last hop of the first target
        // (t 1030..1530).
        r.go(when == When::EchoInFlight ? 515 : when == When::Pacing ? 200 : 1500);
        const size_t probes = r.sentAt.size();
        r.run.mnuBreakClick();
        r.go(60000);

        ASSERT_EQ(r.finished, std::vector<bool>{true});
        EXPECT_EQ(r.sentAt.size(), probes) << "no probe after the break";
        EXPECT_EQ(r.targetIcons(), when == When::AfterLastHop ? (std::vector<int>{0, 8, 8})
                                                                 : (std::vector<int>{9, 8, 8}));
        EXPECT_EQ(r.view.status(), QStringLiteral("終了しました。"));
        EXPECT_EQ(r.view.idleCalls.back(), true);
        EXPECT_FALSE(r.run.Busy());
        EXPECT_FALSE(r.engine.Busy());
    }
}

TEST(TraceRun, CloseEndsTheTraceWithoutWaitingForTheHopInFlight)
{
    TraceRig r;
    r.view.lines = {"10.0.0.99", "10.0.0.3"}; // silent: each probe waits its whole time-out
    r.view.timeout = 5000;
    r.trace.mnuTraceRouteClick();
    r.go(100);
    r.run.StopForClose();
    r.trace.StopForClose();
    settle();
    EXPECT_EQ(r.finished, std::vector<bool>{true});
    EXPECT_FALSE(r.run.Busy());
    EXPECT_EQ(r.sentAt.size(), 1u);
    EXPECT_EQ(r.tree().hopCount(0), 0);
    EXPECT_EQ(r.targetIcons(), (std::vector<int>{9, 8}));
}

TEST(TraceRun, UsesOnlyItsOwnParametersAndThePingRunSetsTheEngineAgain)
{
    TraceRig r;
    r.view.lines = {"10.0.0.99"};
    r.view.hops = 2;
    r.view.timeout = 300;
    r.view.resolve = false;
    r.view.ttl = 33;
    r.view.count = 1;
    r.prefs.DontFlagment = true;
    r.trace.mnuTraceRouteClick();
    r.go(60000);
    ASSERT_EQ(r.finished, std::vector<bool>{false});
    // Silent hops up to MaxHops, each after its time-out and the pacing.
    EXPECT_EQ(outline(r.tree()), (QStringList{"TraceRoute @7", "\t10.0.0.99 @0", "\t\t#001 Request timed out @2",
                                              "\t\t#002 Request timed out @2"}));
    EXPECT_EQ(r.sentAt, (std::vector<qint64>{0, 800}));
    ASSERT_EQ(r.net->sent().size(), 2);
    EXPECT_EQ(r.net->sent().at(1).ttl, 2);
    EXPECT_TRUE(r.net->sent().at(1).dontFragment);
    EXPECT_EQ(r.net->sent().at(1).payloadSize, 0);
    EXPECT_TRUE(r.dns->reverseLookups().isEmpty());

    // A ping run afterwards sends with its own TTL and leaves the tree alone.
    r.run.mnuPingClick();
    r.go(60000);
    ASSERT_EQ(r.net->sent().size(), 3);
    EXPECT_EQ(r.net->sent().at(2).ttl, 33);
    EXPECT_EQ(r.tree().hopCount(0), 2);
    // While a ping run is busy the trace command changes nothing.
    r.run.mnuPingClick();
    r.trace.mnuTraceRouteClick();
    EXPECT_EQ(r.tree().hopCount(0), 2);
    EXPECT_EQ(r.tree().targetIcon(0), 0);
}

TEST(TraceRun, MaxHopsTypedOutOfRangeIsBroughtIntoRange)
{
    // A field read as typed: 0 would trace nothing and never end, 300 would
    // wrap around as a byte.
    const std::pair<int, int> cases[] = {{0, 1}, {-5, 1}, {300, 255}};
    for (const auto& [typed, probes] : cases) {
        SCOPED_TRACE(typed);
        TraceRig r;
        r.view.lines = {"10.0.0.99"};
        r.view.hops = typed;
        r.view.timeout = 1;
        r.trace.mnuTraceRouteClick();
        r.go(3600000);
        ASSERT_EQ(r.finished, std::vector<bool>{false});
        EXPECT_EQ(r.tree().hopCount(0), probes);
        EXPECT_EQ(r.net->sent().size(), probes);
        EXPECT_EQ(r.tree().targetIcon(0), 0);
    }
}
