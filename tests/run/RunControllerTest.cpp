// Whole ping runs through a real engine over the fake network, with a manual
// clock and a recording window.

#include "RunRig.h"

#include <QSignalSpy>
#include <gtest/gtest.h>
#include <limits>
#include <stdexcept>

using namespace tarvok;
using namespace tarvok::test;

namespace {

using Rig = RunRig;

} // namespace

TEST(RunController, WholeRunKeepsOrderOfStepsAndTexts)
{
    Rig r;
    r.view.lines = {"# office", "10.0.0.1 first host", "", "10.0.0.2"};
    r.view.count = 2;
    r.net->setResponder([](const Probe& p) {
        return p.dest == ip("10.0.0.1") ? FakeOutcome::reply("10.0.0.1", 64, 12) : FakeOutcome::silence();
    });

    r.ctl.mnuPingClick();
    EXPECT_TRUE(r.ctl.Busy());
    // Preparation, in order: busy cursor only while preparing.
    const QStringList prep = r.view.events.mid(0, 6);
    EXPECT_EQ(prep, (QStringList{"cursor:busy", "status:", "running", "tab:2", "cursor:default",
                                 "status:ping to 10.0.0.1 ..."}));
    EXPECT_EQ(r.hooks.started, 1);

    r.run(60000);
    ASSERT_EQ(r.finished, std::vector<bool>{false});
    EXPECT_FALSE(r.ctl.Busy());
    EXPECT_EQ(r.hooks.ended, 1);
    EXPECT_EQ(r.view.statusTexts,
              (QStringList{"", "ping to 10.0.0.1 ...", "10.0.0.1 ( 10.0.0.1 )  Time:    12ms", "ping to 10.0.0.1 ...",
                           "10.0.0.1 ( 10.0.0.1 )  Time:    12ms", "ping to 10.0.0.2 ...", "10.0.0.2  Request timed out",
                           "ping to 10.0.0.2 ...", "10.0.0.2  Request timed out", "終了しました。"}));
    EXPECT_EQ(r.view.idleCalls, (std::vector<bool>{false, true}));
    // Two answered echoes (12 ms + 1000 ms pause each), two time-outs (1000 ms +
    // 1000 ms pause each): the end comes one pause after the last reply.
    EXPECT_EQ(r.finishedAt, 2 * 1012 + 2 * 2000);

    ResultModel& m = r.ctl.resultModel();
    ASSERT_EQ(m.rowCount(), 4);
    EXPECT_EQ(r.view.appended, 4);
    const ResultRow ok = m.rowTexts(0);
    EXPECT_EQ(ok.Icon, 1);
    EXPECT_EQ(ok.Result, "ＯＫ");
    EXPECT_EQ(ok.DateTime, "2026/12/07 09:30:00");
    EXPECT_EQ(ok.subItems(), (QStringList{"2026/12/07 09:30:00", "10.0.0.1", "10.0.0.1", "Time:    12ms", "first host"}));
    const ResultRow ng = m.rowTexts(2);
    EXPECT_EQ(ng.Icon, 2);
    EXPECT_EQ(ng.subItems(), (QStringList{"2026/12/07 09:30:03", "10.0.0.2", "", "Request timed out", ""}));

    ASSERT_EQ(r.hooks.logLines.size(), 4);
    EXPECT_EQ(r.hooks.logLines[0], "\"ＯＫ\",\"2026/12/07 09:30:00\",10.0.0.1,10.0.0.1,\"Time:    12ms\",\"first host\"");
    EXPECT_EQ(r.hooks.logLines[2], "\"ＮＧ\",\"2026/12/07 09:30:03\",10.0.0.2,,\"Request timed out\",");

    StatModel& s = r.ctl.statModel();
    ASSERT_EQ(s.rowCount(), 2);
    EXPECT_EQ(s.rowTexts(0).subItems(),
              (QStringList{"     2回", "     0回", "   0%", "    12ms", "    12ms", "    12ms", "first host"}));
    EXPECT_EQ(s.rowTexts(1).subItems(),
              (QStringList{"     2回", "     2回", " 100%", "      ms", "      ms", "      ms", ""}));
    EXPECT_EQ(s.data(s.index(1, 0), StateImageIndexRole).toInt(), 10);
    EXPECT_EQ(s.data(s.index(0, 0), StateImageIndexRole).toInt(), -1);
}

TEST(RunController, EngineConfiguredFromTheFieldsForEveryRun)
{
    Rig r;
    r.view.lines = {"10.0.0.1"};
    r.view.timeout = 700;
    r.view.block = 100;
    r.view.ttl = 300; // typed, not yet confirmed
    r.view.wait = 5;
    r.prefs.DontFlagment = true;
    r.engine.ResolveHostName = true;
    r.engine.NumberOfPings = 3;
    r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 1); });
    r.ctl.mnuPingClick();
    r.run(5000);
    EXPECT_EQ(r.engine.Timeout, 700);
    EXPECT_EQ(r.engine.Delay, 5);
    EXPECT_FALSE(r.engine.ResolveHostName);
    EXPECT_EQ(r.engine.NumberOfPings, 1);
    ASSERT_EQ(r.net->sent().size(), 1);
    EXPECT_EQ(r.net->sent()[0].payloadSize, 100);
    EXPECT_EQ(r.net->sent()[0].ttl, 255);
    EXPECT_TRUE(r.net->sent()[0].dontFragment);
}

TEST(RunController, NoTargetDoesNotStartARun)
{
    for (const auto& [lines, count] : {std::pair{QStringList{"; nothing", "", "  "}, 3},
                                       std::pair{QStringList{"10.0.0.1"}, 0}}) {
        Rig r;
        r.view.lines = lines;
        r.view.count = count;
        r.ctl.mnuPingClick();
        EXPECT_FALSE(r.ctl.Busy());
        EXPECT_EQ(r.view.statusTexts, QStringList{"対象アドレスが１件もありません。"});
        EXPECT_EQ(r.view.tabs, std::vector<MainTab>{MainTab::Memo});
        EXPECT_TRUE(r.view.idleCalls.empty());
        EXPECT_EQ(r.commandModeClears, 1);
        r.run(100);
        EXPECT_TRUE(r.net->sent().isEmpty());
    }
}

TEST(RunController, BreakWhileAnEchoWaitsAddsNoRow)
{
    Rig r;
    r.view.lines = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
    r.net->setResponder([](const Probe& p) {
        return p.dest == ip("10.0.0.1") ? FakeOutcome::reply("10.0.0.1", 64, 3) : FakeOutcome::silence();
    });
    QSignalSpy changed(&r.ctl.statModel(), &QAbstractItemModel::dataChanged);
    r.ctl.mnuPingClick();
    r.run(1003 + 500); // the second echo is waiting for its time-out
    ASSERT_EQ(r.ctl.CurrentIndex(), 1);
    EXPECT_TRUE(r.ctl.Waiting());
    changed.clear();

    r.ctl.mnuBreakClick();
    EXPECT_TRUE(r.ctl.BreakFlag());
    EXPECT_EQ(r.view.status(), "終了しました。");
    EXPECT_EQ(r.commandModeClears, 1);
    r.run(5000);
    ASSERT_EQ(r.finished, std::vector<bool>{true});
    EXPECT_FALSE(r.ctl.Busy());
    EXPECT_EQ(r.ctl.resultModel().rowCount(), 1);
    EXPECT_EQ(r.net->sent().size(), 2); // nothing after the break
    EXPECT_EQ(r.hooks.ended, 1);
    EXPECT_EQ(r.view.status(), "終了しました。");
    EXPECT_EQ(r.view.idleCalls.back(), true);
    // The interrupted entry's statistics row is still refreshed; the third
    // target keeps 0 attempts.
    ASSERT_FALSE(changed.isEmpty());
    EXPECT_EQ(changed.last().at(0).value<QModelIndex>().row(), 1);
    EXPECT_EQ(r.ctl.targetStates()[2].Attempts, 0);
    EXPECT_EQ(r.ctl.targetStates()[1].Attempts, 0);
}

TEST(RunController, CloseDuringARunLetsTheEchoCompleteWithoutRecordingIt)
{
    Rig r;
    r.view.lines = {"10.0.0.1", "10.0.0.2"};
    r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 400); });
    r.ctl.mnuPingClick();
    r.run(100);
    r.ctl.StopForClose();
    r.run(5000);
    EXPECT_EQ(r.ctl.resultModel().rowCount(), 0);
    EXPECT_TRUE(r.hooks.logLines.isEmpty());
    EXPECT_EQ(r.finished, std::vector<bool>{true});
    EXPECT_EQ(r.finishedAt, 400 + 1000); // after the echo and its pause
    EXPECT_EQ(r.view.status(), "終了しました。");
    EXPECT_EQ(r.view.idleCalls, (std::vector<bool>{false, true}));
    EXPECT_EQ(r.commandModeClears, 0);
}

TEST(RunController, SecondRunAppendsResultsAndRestartsStatistics)
{
    Rig r;
    r.view.lines = {"10.0.0.1", "10.0.0.1 same host again"};
    r.view.count = 2;
    r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 5); });
    r.ctl.mnuPingClick();
    r.run(20000);
    EXPECT_EQ(r.ctl.resultModel().rowCount(), 4);
    r.ctl.mnuPingClick();
    r.run(20000);
    EXPECT_EQ(r.finished, (std::vector<bool>{false, false}));
    EXPECT_EQ(r.ctl.resultModel().rowCount(), 8);
    ASSERT_EQ(r.ctl.statModel().rowCount(), 2);
    EXPECT_EQ(r.ctl.targetStates()[0].Attempts, 2);
    EXPECT_EQ(r.ctl.targetStates()[1].Attempts, 2);
    EXPECT_EQ(r.ctl.statModel().rowTexts(1).Comment, "same host again");
}

TEST(RunController, AlertRulesSeeThePreviousJudgement)
{
    Rig r;
    r.view.lines = {"10.0.0.1 web"};
    r.view.count = 3;
    r.prefs.CheckRTT = true;
    r.prefs.CheckRTTValue = 500;
    r.net->push({FakeOutcome::silence(), FakeOutcome::reply("10.0.0.1", 64, 500), FakeOutcome::reply("10.0.0.1", 64, 499)});
    r.view.timeout = 1000;
    r.ctl.mnuPingClick();
    r.run(20000);
    ASSERT_EQ(r.hooks.alerts.size(), 3u);
    const auto& a = r.hooks.alerts;
    EXPECT_TRUE(a[0].isNG);
    EXPECT_EQ(a[0].message, "Request timed out");
    EXPECT_EQ(a[0].before.Attempts, 1); // counted before the rules
    EXPECT_EQ(a[0].before.LastResult, LastResult::None);
    EXPECT_EQ(a[0].before.Failures, 0);
    EXPECT_EQ(a[0].comment, "web");
    EXPECT_TRUE(a[1].isNG);
    EXPECT_EQ(a[1].message, "レスポンス遅延（500ms）");
    EXPECT_EQ(a[1].before.LastResult, LastResult::NG);
    EXPECT_EQ(a[1].before.NGCount, 1);
    EXPECT_FALSE(a[2].isNG);
    EXPECT_EQ(a[2].message, "Ping OK （499ms）");
    EXPECT_EQ(a[2].before.NGCount, 2);
    const TargetState& s = r.ctl.targetStates()[0];
    EXPECT_EQ(s.Failures, 1);
    EXPECT_EQ(s.LastResult, LastResult::OK);
    EXPECT_EQ(s.MinTime, 499);
    EXPECT_EQ(s.MaxTime, 500);
    EXPECT_EQ(r.ctl.resultModel().rowTexts(1).Result, "ＯＫ"); // slow, still an OK row
}

TEST(RunController, UnknownHostIsRecordedAsNG)
{
    Rig r;
    r.view.lines = {"nohost.invalid"};
    r.ctl.mnuPingClick();
    r.run(5000);
    ASSERT_EQ(r.ctl.resultModel().rowCount(), 1);
    const ResultRow row = r.ctl.resultModel().rowTexts(0);
    EXPECT_EQ(row.Result, "ＮＧ");
    EXPECT_EQ(row.IPAddress, "");
    EXPECT_EQ(row.StatusInfo, "Unknown host");
    EXPECT_TRUE(r.view.statusTexts.contains("nohost.invalid  Unknown host"));
    EXPECT_EQ(r.ctl.targetStates()[0].Failures, 1);
}

TEST(RunController, AutoDeleteKeepsTheNewestRows)
{
    Rig r;
    r.view.lines = {"10.0.0.1"};
    r.view.count = 4;
    r.prefs.AutoDelete = true;
    r.prefs.AutoDeleteCount = 3;
    r.net->push({FakeOutcome::reply("10.0.0.1", 64, 1), FakeOutcome::reply("10.0.0.1", 64, 2),
                 FakeOutcome::reply("10.0.0.1", 64, 3), FakeOutcome::reply("10.0.0.1", 64, 4)});
    r.ctl.mnuPingClick();
    r.run(20000);
    ResultModel& m = r.ctl.resultModel();
    ASSERT_EQ(m.rowCount(), 3);
    EXPECT_EQ(m.text(0, ResultModel::ColStatus), "Time:     2ms");
    EXPECT_EQ(m.text(2, ResultModel::ColStatus), "Time:     4ms");
}

TEST(RunController, AutoDeleteRemovesTheOldestRowAlsoAfterASort)
{
    Rig r;
    r.view.lines = {"10.0.0.1"};
    r.view.count = 3;
    r.prefs.AutoDelete = true;
    r.prefs.AutoDeleteCount = 3;
    r.net->push({FakeOutcome::reply("10.0.0.1", 64, 1), FakeOutcome::reply("10.0.0.1", 64, 2),
                 FakeOutcome::reply("10.0.0.1", 64, 3), FakeOutcome::reply("10.0.0.1", 64, 4)});
    r.ctl.mnuPingClick();
    r.run(20000);
    r.ctl.ListView1ColumnClick(ResultModel::ColDateTime);
    r.ctl.ListView1ColumnClick(ResultModel::ColDateTime); // newest first: 3 2 1
    r.view.count = 1;
    r.ctl.mnuPingClick();
    r.run(20000);
    QStringList kept;
    for (int i = 0; i < r.ctl.resultModel().rowCount(); ++i)
        kept << r.cell(i, ResultModel::ColStatus);
    // Reply 1 was the oldest; the newer rows 3 and 2 stay.
    EXPECT_EQ(kept, (QStringList{"Time:     3ms", "Time:     2ms", "Time:     4ms"}));
}

TEST(RunController, LargestAutoDeleteCountStillReservesRoomForTheRun)
{
    Rig r;
    r.view.lines = {"10.0.0.1", "10.0.0.2", "10.0.0.3"};
    r.prefs.AutoDelete = true;
    r.prefs.AutoDeleteCount = std::numeric_limits<int>::max(); // the options dialog's maximum
    r.ctl.mnuPingClick();
    EXPECT_GE(r.ctl.resultModel().memoryBytes(), 3 * 25);
}

TEST(RunController, SortingIsBlockedDuringARunAsConfigured)
{
    for (bool autoDelete : {true, false}) {
        Rig r;
        r.prefs.AutoDelete = autoDelete;
        r.view.lines = {"10.0.0.1", "10.0.0.2"};
        r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.9", 64, 5); });
        r.ctl.mnuPingClick();
        r.run(1100); // first row recorded, second echo under way
        EXPECT_FALSE(r.ctl.StatSortAllowed());
        EXPECT_EQ(r.ctl.ResultSortAllowed(), !autoDelete);
        r.ctl.ListView1ColumnClick(2);
        EXPECT_EQ(r.ctl.resultSortMemory().column(), autoDelete ? 0 : 2);
        r.ctl.ListView2ColumnClick(1);
        EXPECT_EQ(r.ctl.statSortMemory().column(), 0);
        r.run(5000);
        EXPECT_TRUE(r.ctl.StatSortAllowed());
        EXPECT_TRUE(r.ctl.ResultSortAllowed());
        r.ctl.ListView2ColumnClick(1);
        EXPECT_EQ(r.ctl.statSortMemory().column(), 1);
    }
}

TEST(RunController, CommandsIgnoredWhileBusyAndClearEmptiesBothLists)
{
    Rig r;
    r.view.lines = {"10.0.0.1"};
    r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 5); });
    r.ctl.mnuPingClick();
    r.run(10);
    r.ctl.mnuPingClick(); // ignored
    r.ctl.mnuClearClick(); // not during a run
    EXPECT_EQ(r.ctl.resultModel().rowCount(), 1);
    r.run(5000);
    EXPECT_EQ(r.finished.size(), 1u);
    EXPECT_EQ(r.net->sent().size(), 1);
    r.ctl.mnuClearClick();
    EXPECT_EQ(r.ctl.resultModel().rowCount(), 0);
    EXPECT_EQ(r.ctl.statModel().rowCount(), 0);
    EXPECT_EQ(r.ctl.targetStates().size(), 1u); // the records stay
    EXPECT_TRUE(r.ctl.SelectionFor(RunController::SelectAction::AllNGAddress, {}).empty());
}

TEST(RunController, FailureInsideARunEndsItAndIsReported)
{
    Rig r;
    r.view.lines = {"10.0.0.1", "10.0.0.2"};
    r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 5); });
    r.hooks.onAlert = [] { throw std::runtime_error("alert failed"); };
    QStringList errors;
    QObject::connect(&r.ctl, &RunController::runError, [&](const QString& m) { errors.append(m); });
    r.ctl.mnuPingClick();
    r.run(10000);
    EXPECT_EQ(errors, QStringList{"alert failed"});
    EXPECT_EQ(r.finished, std::vector<bool>{true});
    EXPECT_FALSE(r.ctl.Busy());
    EXPECT_EQ(r.view.idleCalls.back(), true);
    EXPECT_EQ(r.net->sent().size(), 1);
    EXPECT_EQ(r.hooks.ended, 1);
    // The next command starts a new run.
    r.hooks.onAlert = nullptr;
    r.ctl.mnuPingClick();
    r.run(10000);
    EXPECT_EQ(r.finished, (std::vector<bool>{true, false}));
}

// --- Periodic execution ------------------------------------------------------

TEST(PeriodicRun, WaitsIntervalMinutesFromTheEndOfACycle)
{
    Rig r;
    r.view.lines = {"10.0.0.1"};
    r.view.isPeriodic = true;
    r.view.intervalMinutes = 5;
    r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 12); });
    r.ctl.mnuPingClick();
    r.run(1012); // echo, reply after 12 ms, pause of 1000 ms: the cycle has ended
    EXPECT_TRUE(r.ctl.InWaitingPhase());
    EXPECT_EQ(r.view.status(), "定期実行待機中。");
    EXPECT_TRUE(r.ctl.Busy());
    EXPECT_EQ(r.view.idleCalls, std::vector<bool>{false});

    r.run(5 * 60000 - 1);
    EXPECT_EQ(r.net->sent().size(), 1); // never early
    r.run(1);
    EXPECT_EQ(r.net->sent().size(), 2);
    EXPECT_EQ(r.view.status(), "ping to 10.0.0.1 ...");

    r.view.intervalMinutes = 1; // read afresh for every wait
    r.run(1012 + 60000);
    EXPECT_EQ(r.net->sent().size(), 3);
    EXPECT_EQ(r.ctl.resultModel().rowCount(), 2);
    EXPECT_EQ(r.ctl.targetStates()[0].Attempts, 2); // results accumulate
    EXPECT_TRUE(r.finished.empty());
}

TEST(PeriodicRun, WaitAcrossThe32BitMillisecondWrapIsNotCutShort)
{
    Rig r;
    r.clock.advance(0xFFFFFFFFLL - 30000); // 30 s before a 32-bit tick counter would wrap
    r.view.lines = {"10.0.0.1"};
    r.view.isPeriodic = true;
    r.view.intervalMinutes = 1;
    r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 12); });
    r.ctl.mnuPingClick();
    r.run(1012);
    ASSERT_TRUE(r.ctl.InWaitingPhase());
    r.run(59999);
    EXPECT_EQ(r.net->sent().size(), 1);
    r.run(1);
    EXPECT_EQ(r.net->sent().size(), 2);
    r.ctl.mnuBreakClick();
    settle();
}

TEST(PeriodicRun, IntervalZeroRepeatsAtOnce)
{
    Rig r;
    r.view.lines = {"10.0.0.1"};
    r.view.wait = 10;
    r.view.isPeriodic = true;
    r.view.intervalMinutes = 0;
    r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 10); });
    r.ctl.mnuPingClick();
    r.run(199); // 20 ms per cycle
    EXPECT_EQ(r.net->sent().size(), 10);
    EXPECT_GE(r.view.statusTexts.count("定期実行待機中。"), 9);
    r.ctl.mnuBreakClick();
    r.run(100);
    EXPECT_EQ(r.finished, std::vector<bool>{true});
}

TEST(PeriodicRun, BreakDuringTheWaitEndsTheRunAtOnce)
{
    Rig r;
    r.view.lines = {"10.0.0.1"};
    r.view.isPeriodic = true;
    r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 12); });
    r.ctl.mnuPingClick();
    r.run(60000);
    ASSERT_TRUE(r.ctl.InWaitingPhase());
    const qint64 before = r.clock.monotonicMs();
    r.ctl.mnuBreakClick();
    settle(); // no clock time passes
    EXPECT_EQ(r.finished, std::vector<bool>{true});
    EXPECT_EQ(r.finishedAt, before);
    EXPECT_FALSE(r.ctl.Busy());
    EXPECT_EQ(r.view.status(), "終了しました。");
    EXPECT_EQ(r.view.idleCalls, (std::vector<bool>{false, true})); // only the break command's
    EXPECT_EQ(r.clock.pendingTimers(), 0);
    r.run(10 * 60000);
    EXPECT_EQ(r.net->sent().size(), 1);
}

TEST(PeriodicRun, CloseDuringTheWaitEndsTheRun)
{
    Rig r;
    r.view.lines = {"10.0.0.1"};
    r.view.isPeriodic = true;
    r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 12); });
    r.ctl.mnuPingClick();
    r.run(60000);
    r.ctl.StopForClose();
    settle();
    EXPECT_EQ(r.finished, std::vector<bool>{true});
    EXPECT_EQ(r.view.status(), "定期実行待機中。");
}

TEST(PeriodicRun, ResetsRunBeforeEveryWaitWhenEnabled)
{
    for (bool resetNG : {true, false}) {
        Rig r;
        r.view.lines = {"10.0.0.1", "10.0.0.2"};
        r.view.isPeriodic = true;
        r.prefs.ResetNGFlag = resetNG;
        r.prefs.ResetOKFlag = true;
        r.prefs.OKCheckBefore = true;
        r.hooks.onAlert = [&r] {
            auto& a = r.hooks.alerts.back();
            if (a.isNG)
                r.ctl.targetStates()[1].NGNotified = true;
        };
        r.net->setResponder([](const Probe& p) {
            return p.dest == ip("10.0.0.1") ? FakeOutcome::reply("10.0.0.1", 64, 1) : FakeOutcome::silence();
        });
        r.ctl.mnuPingClick();
        r.run(1001 + 2000);
        ASSERT_TRUE(r.ctl.InWaitingPhase());
        const TargetState& ok = r.ctl.targetStates()[0];
        const TargetState& ng = r.ctl.targetStates()[1];
        EXPECT_EQ(ok.LastResult, LastResult::None);
        if (resetNG) {
            EXPECT_EQ(ng.LastResult, LastResult::None);
            EXPECT_FALSE(ng.NGNotified);
            EXPECT_EQ(ng.NGCount, 0);
        } else {
            EXPECT_EQ(ng.LastResult, LastResult::NG);
            EXPECT_TRUE(ng.NGNotified);
            EXPECT_EQ(ng.NGCount, 1);
        }
        EXPECT_EQ(ng.Failures, 1); // the counters shown carry on
        // The next pass sees the reset state.
        r.run(5 * 60000 + 3001);
        ASSERT_EQ(r.hooks.alerts.size(), 4u);
        EXPECT_EQ(r.hooks.alerts[3].before.NGCount, resetNG ? 0 : 1);
        EXPECT_EQ(r.hooks.alerts[2].before.LastResult, LastResult::None);
        r.ctl.mnuBreakClick();
        settle();
    }
}

TEST(PeriodicRun, ResetOKFlagsNeedsOKCheckBefore)
{
    Rig r;
    r.view.lines = {"10.0.0.1"};
    r.view.isPeriodic = true;
    r.prefs.ResetOKFlag = true;
    r.prefs.OKCheckBefore = false;
    r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 1); });
    r.ctl.mnuPingClick();
    r.run(2000);
    ASSERT_TRUE(r.ctl.InWaitingPhase());
    EXPECT_EQ(r.ctl.targetStates()[0].LastResult, LastResult::OK);
}

TEST(PeriodicRun, PingCommandDuringTheWaitIsIgnored)
{
    Rig r;
    r.view.lines = {"10.0.0.1"};
    r.view.isPeriodic = true;
    r.net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 1); });
    r.ctl.mnuPingClick();
    r.run(2000);
    ASSERT_TRUE(r.ctl.InWaitingPhase());
    ASSERT_FALSE(r.engine.Busy());
    r.ctl.mnuPingClick();
    r.run(100);
    EXPECT_EQ(r.net->sent().size(), 1);
    EXPECT_EQ(r.hooks.started, 1);
}

TEST(PeriodicRun, ObserversHearEveryJudgedEchoInOrderWithItsPassesAndEnd)
{
    struct Recorder final : EchoObserver {
        QStringList events;
        std::vector<JudgedEcho> echoes;
        void runStarted() override { events << "start"; }
        void echoJudged(const JudgedEcho& e) override
        {
            echoes.push_back(e);
            events << "echo:" + e.target;
        }
        void passEnded() override { events << "pass"; }
        void runEnded() override { events << "end"; }
    } rec;
    Rig r;
    r.ctl.addEchoObserver(&rec);
    r.ctl.addEchoObserver(&rec); // once only
    r.view.lines = {"10.0.0.1 first", "10.0.0.2"};
    r.view.isPeriodic = true;
    r.view.intervalMinutes = 1;
    r.net->setResponder([](const Probe& p) {
        return p.dest == ip("10.0.0.1") ? FakeOutcome::reply("10.0.0.1", 64, 12) : FakeOutcome::silence();
    });
    r.ctl.mnuPingClick();
    r.run(1012 + 2000 + 60000 + 1012 + 2000);
    r.ctl.mnuBreakClick();
    r.run(10);
    EXPECT_EQ(rec.events, (QStringList{"start", "echo:10.0.0.1", "echo:10.0.0.2", "pass", "echo:10.0.0.1",
                                        "echo:10.0.0.2", "pass", "end"}));
    ASSERT_EQ(rec.echoes.size(), 4u);
    const JudgedEcho& ok = rec.echoes[0];
    EXPECT_EQ(ok.comment, "first");
    EXPECT_EQ(ok.address, "10.0.0.1");
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.rttUs, 12000);
    EXPECT_FALSE(ok.ng);
    EXPECT_EQ(ok.timeUs, QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)).addMSecs(12).toMSecsSinceEpoch() * 1000);
    const JudgedEcho& lost = rec.echoes[1];
    EXPECT_EQ(lost.targetIndex, 1);
    EXPECT_EQ(lost.rttUs, -1);
    EXPECT_TRUE(lost.ng);
    EXPECT_EQ(lost.statusText, "Request timed out");

    r.ctl.removeEchoObserver(&rec);
    r.ctl.mnuPingClick();
    r.run(1012);
    EXPECT_EQ(rec.echoes.size(), 4u);
}
