// The run feeds every judged echo into the latency history: periodic cycles
// add to it, a new run starts it afresh, clearing the results empties it.

#include "RunRig.h"

#include "run/RunController.h"

#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

TEST(LatencyFeed, RunsRecordEchoesAndClearEmptiesThem)
{
    RunRig rig;
    ManualClock& clock = rig.clock;
    FakeTransport* net = rig.net;
    FakeRunView& view = rig.view;
    RunController& ctl = rig.ctl;
    int finished = 0;
    QObject::connect(&ctl, &RunController::runFinished, [&](bool) { ++finished; });

    view.lines = {"10.0.0.1 本社", "10.0.0.2"};
    view.count = 2;
    view.wait = 100;
    view.isPeriodic = true;
    view.intervalMinutes = 1;
    net->setResponder([](const Probe& p) {
        return p.dest == ip("10.0.0.1") ? FakeOutcome::reply("10.0.0.1", 64, 12) : FakeOutcome::silence();
    });
    advance(clock, 5000);
    ctl.mnuPingClick();
    advance(clock, 70'000); // the first cycle, the wait and the second cycle
    ctl.mnuBreakClick();
    advance(clock, 5000);
    ASSERT_EQ(finished, 1);

    const LatencyHistory& h = ctl.latencyHistory();
    ASSERT_EQ(h.targetCount(), 2);
    EXPECT_EQ(h.comment(0), "本社");
    EXPECT_EQ(h.start(), QDateTime(QDate(2026, 12, 7), QTime(9, 30, 5)));
    EXPECT_EQ(h.echoCount(0), 4);
    EXPECT_EQ(h.echoCount(1), 4);
    // The first reply is judged 12 ms after the run began.
    std::vector<LatencyBucket> b;
    h.aggregate(0, 0, 13, 1, 0, b);
    EXPECT_EQ(b[0].echoes, 1u);
    EXPECT_EQ(b[0].medianMs, 12.0);
    h.aggregate(1, 0, h.lastMs() + 1, 1, 0, b);
    EXPECT_EQ(b[0].lost, 4u);

    // A new run begins a new history.
    view.isPeriodic = false;
    view.count = 1;
    ctl.mnuPingClick();
    advance(clock, 5000);
    EXPECT_EQ(h.echoCount(), 2);

    ctl.mnuClearClick();
    EXPECT_EQ(h.targetCount(), 0);
    EXPECT_EQ(h.echoCount(), 0);
}
