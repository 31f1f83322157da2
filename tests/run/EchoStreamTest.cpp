// Ping runs with many echoes waiting at once (MaxEchoesInFlight above 1),
// through a real engine over the fake network with a manual clock.

#include "RunRig.h"

#include <QHash>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

struct Rig : RunRig {
    // Per probe: when it went out.
    std::vector<qint64> sentAt;

    explicit Rig(int inFlight)
    {
        prefs.MaxEchoesInFlight = inFlight;
        prefs.AutoDelete = false;
    }
    // Log lines without their date and time.
    QStringList logsWithoutTimes() const
    {
        QStringList out;
        for (QString l : hooks.logLines) {
            QStringList f = l.split(',');
            if (f.size() > 1)
                f.removeAt(1);
            out.append(f.join(','));
        }
        return out;
    }
    QStringList statTexts()
    {
        QStringList out;
        for (int r = 0; r < ctl.statModel().rowCount(); ++r)
            out.append(ctl.statModel().rowTexts(r).subItems().join('|'));
        return out;
    }
};

QString addr(int i)
{
    return QStringLiteral("10.0.%1.%2").arg(i / 200).arg(i % 200 + 1);
}

} // namespace

TEST(EchoStream, JudgedInScheduleOrderWhateverOrderTheyEndIn)
{
    Rig r(4);
    r.view.lines = {"10.0.0.1 silent", "10.0.0.2", "10.0.0.3 late", "10.0.0.4 silent", "box", "nowhere", "10.0.0.7"};
    r.view.wait = 10;
    r.view.timeout = 1000;
    r.dns->addHost("box", "10.0.0.5");
    r.net->setResponder([&r](const Probe& p) {
        r.sentAt.push_back(r.clock.monotonicMs());
        if (p.dest == ip("10.0.0.1") || p.dest == ip("10.0.0.4"))
            return FakeOutcome::silence();
        if (p.dest == ip("10.0.0.2"))
            return FakeOutcome::reply("10.0.0.2", 64, 5);
        if (p.dest == ip("10.0.0.3"))
            return FakeOutcome::reply("10.0.0.3", 64, 900);
        if (p.dest == ip("10.0.0.7"))
            return FakeOutcome::sendError(11002);
        return FakeOutcome::reply("10.0.0.5", 64, 2);
    });
    r.ctl.mnuPingClick();

    // Sends PingWait apart (the name is looked up first; the unknown name
    // sends nothing).
    r.run(999);
    EXPECT_EQ(r.sentAt, (std::vector<qint64>{0, 10, 20, 30, 40, 60}));
    EXPECT_EQ(r.ctl.resultModel().rowCount(), 0) << "nothing is judged before the first entry";

    // The first echo's own time-out judges it and what has ended behind it,
    // up to the fourth, which waits for its own time-out; the third answered
    // at 920 ms, inside its own time-out.
    r.run(1);
    EXPECT_EQ(r.hooks.logLines.size(), 3u);
    EXPECT_EQ(r.hooks.logBursts.back(), 3) << "lines judged in one go are held together";
    EXPECT_EQ(r.hooks.logHold, 0);
    EXPECT_TRUE(r.finished.empty());
    r.run(30);
    ASSERT_EQ(r.finished, std::vector<bool>{false});
    EXPECT_EQ(r.finishedAt, 1030);
    EXPECT_EQ(r.logsWithoutTimes().join('\n').toStdString(),
              (QStringList{"\"ＮＧ\",10.0.0.1,,\"Request timed out\",silent",
                           "\"ＯＫ\",10.0.0.2,10.0.0.2,\"Time:     5ms\",",
                           "\"ＯＫ\",10.0.0.3,10.0.0.3,\"Time:   900ms\",late",
                           "\"ＮＧ\",10.0.0.4,,\"Request timed out\",silent",
                           "\"ＯＫ\",box,10.0.0.5,\"Time:     2ms\",",
                           "\"ＮＧ\",nowhere,,\"Unknown host\",",
                           "\"ＮＧ\",10.0.0.7,,\"Destination network unreachable\","})
                  .join('\n')
                  .toStdString());
    // Each row carries the time its echo ended, not the time it was judged.
    EXPECT_EQ(r.ctl.resultModel().rowTexts(0).DateTime, "2026/12/07 09:30:01");
    EXPECT_EQ(r.ctl.resultModel().rowTexts(1).DateTime, "2026/12/07 09:30:00");
    EXPECT_EQ(r.view.status(), "終了しました。");
    EXPECT_FALSE(r.engine.Busy());
}

TEST(EchoStream, SameRowsStatisticsAndAlertsAsOneAtATime)
{
    // Two passes of 12 targets, three echoes each, both orders: whatever the
    // answers' delays, N = 8 must record what N = 1 records.
    for (bool termToCycle : {false, true}) {
        std::vector<QStringList> logs, stats;
        std::vector<QStringList> alerts, observed;
        for (int n : {1, 8}) {
            Rig r(n);
            for (int i = 0; i < 12; ++i)
                r.view.lines.append(addr(i));
            r.view.count = 3;
            r.view.termToCycle = termToCycle;
            r.view.wait = 3;
            r.view.timeout = 50;
            r.prefs.CheckRTT = true;
            r.prefs.CheckRTTValue = 30;
            QHash<quint32, int> echoes;
            QHash<quint32, quint16> last;
            r.net->setResponder([&](const Probe& p) {
                // Never more than N waiting, never two for one target.
                EXPECT_LT(r.net->inFlight(), n);
                if (last.contains(p.dest.v4())) {
                    EXPECT_FALSE(r.net->isInFlight(last[p.dest.v4()])) << "two echoes waiting for one target";
                }
                last[p.dest.v4()] = p.sequence;
                const int k = echoes[p.dest.v4()]++;
                const int i = static_cast<int>(p.dest.v4() >> 24) - 1;
                const qint64 delay = (i * 7 + k * 13) % 70; // some beyond the time-out
                if ((i + k) % 5 == 0)
                    return FakeOutcome::silence();
                return FakeOutcome::reply(qPrintable(addr(i)), 64, delay);
            });
            struct Recorder final : EchoObserver {
                QStringList seen;
                void echoJudged(const JudgedEcho& e) override
                {
                    seen.append(QStringLiteral("%1 %2 %3 %4").arg(e.target).arg(e.status).arg(e.rttUs / 1000).arg(e.ng));
                }
                void passEnded() override { seen.append("pass"); }
            } rec;
            r.ctl.addEchoObserver(&rec);
            r.ctl.mnuPingClick();
            r.run(60000);
            ASSERT_EQ(r.finished, std::vector<bool>{false});
            observed.push_back(rec.seen);
            logs.push_back(r.logsWithoutTimes());
            stats.push_back(r.statTexts());
            QStringList a;
            for (const auto& call : r.hooks.alerts)
                a.append(call.target + call.message + (call.isNG ? "NG" : "OK"));
            alerts.push_back(a);
            EXPECT_EQ(r.hooks.logLines.size(), 36u);
        }
        EXPECT_EQ(logs[0], logs[1]) << "order " << termToCycle;
        EXPECT_EQ(stats[0], stats[1]) << "order " << termToCycle;
        EXPECT_EQ(alerts[0], alerts[1]);
        EXPECT_EQ(observed[0], observed[1]);
    }
}

TEST(EchoStream, TargetsNextEchoWaitsForItsPreviousAndThenPingWait)
{
    Rig r(8);
    r.view.lines = {"10.0.0.1"};
    r.view.count = 3;
    r.view.wait = 100;
    r.view.timeout = 1000;
    r.net->setResponder([&r](const Probe&) {
        r.sentAt.push_back(r.clock.monotonicMs());
        return r.sentAt.size() == 1 ? FakeOutcome::silence() : FakeOutcome::reply("10.0.0.1", 64, 20);
    });
    r.ctl.mnuPingClick();
    r.run(5000);
    // Time-out at 1000, PingWait to 1100; answer at 1120, PingWait to 1220.
    EXPECT_EQ(r.sentAt, (std::vector<qint64>{0, 1100, 1220}));
    EXPECT_EQ(r.hooks.logLines.size(), 3u);
}

TEST(EchoStream, BreakEndsEveryWaitingEchoAtOnce)
{
    Rig r(64);
    for (int i = 0; i < 100; ++i)
        r.view.lines.append(addr(i));
    r.view.wait = 1;
    r.view.timeout = 5000;
    r.net->setResponder([](const Probe& p) {
        // Every fifth answers after 10 ms; the rest are silent.
        if (((p.dest.v4() >> 24) - 1) % 5 == 0)
            return FakeOutcome::echo(64, 10);
        return FakeOutcome::silence();
    });
    r.ctl.mnuPingClick();
    r.run(200);
    EXPECT_EQ(r.net->sent().size(), 80); // 64 silent ones among them stop the sends
    EXPECT_EQ(r.engine.EchoesWaiting(), 64);
    // Answers were read at the paced steps, and wake the run again while it
    // waits for a free place.
    EXPECT_GT(r.net->holds(), 0);
    EXPECT_TRUE(r.net->watching());
    const qint64 breakAt = r.clock.monotonicMs();
    r.ctl.mnuBreakClick();
    settle();
    ASSERT_EQ(r.finished, std::vector<bool>{true});
    EXPECT_EQ(r.finishedAt, breakAt);
    EXPECT_EQ(r.net->inFlight(), 0);
    EXPECT_EQ(r.engine.EchoesWaiting(), 0);
    EXPECT_EQ(r.commandModeClears, 1);
    EXPECT_EQ(r.view.status(), "終了しました。");
    // Only the first entry was judged: the answers behind the silent second
    // one wait for it, and the break drops them.
    EXPECT_EQ(r.hooks.logLines.size(), 1u);
    EXPECT_FALSE(r.engine.Busy());
    // Nothing of the broken run comes later; a new run starts cleanly.
    r.run(10000);
    EXPECT_EQ(r.hooks.logLines.size(), 1u);
    EXPECT_EQ(r.net->sent().size(), 80);
    r.net->setResponder([](const Probe& p) { return FakeOutcome::echo(64, p.sequence % 7); });
    r.ctl.mnuPingClick();
    r.run(10000);
    EXPECT_EQ(r.hooks.logLines.size(), 101u);
    EXPECT_TRUE(r.net->watching());
}

TEST(EchoStream, CloseLetsWaitingEchoesEndWithoutRecordingThem)
{
    Rig r(4);
    r.view.lines = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5"};
    r.view.wait = 0;
    r.view.timeout = 1000;
    r.net->push({FakeOutcome::reply("10.0.0.1", 64, 1), FakeOutcome::silence(), FakeOutcome::silence(),
                 FakeOutcome::silence()});
    r.ctl.mnuPingClick();
    r.run(500);
    EXPECT_EQ(r.net->sent().size(), 5);
    EXPECT_EQ(r.hooks.logLines.size(), 1u);
    r.ctl.StopForClose();
    r.run(500);
    EXPECT_TRUE(r.finished.empty()) << "the last echo, sent at 1 ms, still waits";
    r.run(1);
    ASSERT_EQ(r.finished, std::vector<bool>{true});
    EXPECT_EQ(r.finishedAt, 1001);
    EXPECT_EQ(r.net->sent().size(), 5);
    EXPECT_EQ(r.hooks.logLines.size(), 1u);
}

TEST(EchoStream, PeriodicPassesAndLateRepliesOfAnEndedRun)
{
    Rig r(16);
    r.view.lines = {"10.0.0.1", "10.0.0.2"};
    r.view.isPeriodic = true;
    r.view.intervalMinutes = 1;
    r.view.wait = 0;
    r.view.timeout = 100;
    // The network keeps delivering answers it was told to drop: the first
    // pass's answers come after their time-outs and must never count, in
    // this pass or the next.
    r.net->setHonourAbandon(false);
    r.net->push({FakeOutcome::reply("10.0.0.1", 64, 150), FakeOutcome::reply("10.0.0.2", 64, 61000)});
    r.net->setResponder([](const Probe& p) { return FakeOutcome::reply(p.dest == ip("10.0.0.1") ? "10.0.0.1" : "10.0.0.2", 64, 4); });
    r.ctl.mnuPingClick();
    r.run(100);
    ASSERT_EQ(r.hooks.logLines.size(), 2u);
    EXPECT_TRUE(r.ctl.InWaitingPhase());
    EXPECT_FALSE(r.engine.Busy());
    r.run(60000 + 100);
    ASSERT_EQ(r.hooks.logLines.size(), 4u);
    EXPECT_TRUE(r.hooks.logLines[0].contains("Request timed out"));
    EXPECT_TRUE(r.hooks.logLines[1].contains("Request timed out"));
    EXPECT_TRUE(r.hooks.logLines[2].contains("Time:     4ms"));
    EXPECT_TRUE(r.hooks.logLines[3].contains("Time:     4ms"));
    r.ctl.mnuBreakClick();
    settle();
    EXPECT_EQ(r.finished, std::vector<bool>{true});
}

TEST(EchoStream, ASendThatWaitedForASlotKeepsTheGridOfPingWaitSteps)
{
    Rig r(2);
    r.view.lines = {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"};
    r.view.wait = 10;
    r.view.timeout = 1000;
    r.net->setResponder([&r](const Probe& p) {
        r.sentAt.push_back(r.clock.monotonicMs());
        const int ms = p.dest == ip("10.0.0.1") ? 23 : p.dest == ip("10.0.0.2") ? 50 : 5;
        return FakeOutcome::reply(p.dest.toString().toLatin1().constData(), 64, ms);
    });
    r.ctl.mnuPingClick();
    r.run(1000);
    // The third is due at 20 but both places are taken until 23; the fourth
    // keeps to its step at 30 rather than PingWait after the late one.
    EXPECT_EQ(r.sentAt, (std::vector<qint64>{0, 10, 23, 30}));
    EXPECT_EQ(r.hooks.logLines.size(), 4u);
}
