// The echo engine over real ICMP sockets in the network lab (see README.md),
// with both kinds of socket. Outside a lab every test reports itself skipped.


#include "LabEngine.h"

#include <QHash>
#include <QTimer>

#include <chrono>
#include <cstdio>

namespace {

using namespace tarvok;
using namespace tarvok::lab;

TEST_P(LabEngine, AnsweredEchoAcrossTwoRouters)
{
    engine->Address = labValue("LAB_REACHABLE");
    ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 0);
    EXPECT_EQ(replies[0].address, labValue("LAB_REACHABLE"));
    EXPECT_EQ(replies[0].ttl, labValue("LAB_REACHABLE_TTL").toInt());
    EXPECT_LT(replies[0].rtt, 1000u);
    EXPECT_TRUE(replies[0].hostName.isEmpty());

    // By name: the official name is reported.
    replies.clear();
    engine->Address = labValue("LAB_REACHABLE_NAME");
    engine->ResolveHostName = true;
    ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 0);
    EXPECT_EQ(replies[0].address, labValue("LAB_REACHABLE"));
    EXPECT_EQ(replies[0].hostName, labValue("LAB_REACHABLE_NAME"));

    // By address with host names wanted: the reverse name is reported.
    replies.clear();
    engine->Address = " " + labValue("LAB_REACHABLE") + " ";
    ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 0);
    EXPECT_EQ(replies[0].hostName, labValue("LAB_REACHABLE_NAME"));
}

TEST_P(LabEngine, SilentAddressTimesOutWithoutUsingTheProcessor)
{
    engine->Address = labValue("LAB_SILENT");
    engine->Timeout = 2000;
    const qint64 cpuBefore = cpuMs();
    const qint64 took = ping();
    const qint64 cpu = cpuMs() - cpuBefore;
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 11010);
    EXPECT_EQ(replies[0].address, "0.0.0.0");
    EXPECT_EQ(TKtICMP::StatusText(replies[0].status), "Request timed out");
    EXPECT_GE(took, 2000 - 20);
    EXPECT_LT(took, 2000 + 1000);
    // Waiting is sleeping: a busy or polling wait would burn far more.
    EXPECT_LT(cpu, 50) << "processor time while waiting 2 s for a time-out: " << cpu << " ms";
    std::printf("processor time while waiting 2 s for a time-out: %lld ms\n", static_cast<long long>(cpu));
}

TEST_P(LabEngine, RouterReportsHostUnreachable)
{
    engine->Address = labValue("LAB_UNREACHABLE");
    const qint64 took = ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 11003);
    EXPECT_EQ(replies[0].address, labValue("LAB_UNREACHABLE_ROUTER"));
    EXPECT_LT(took, 1000) << "the router's answer must end the wait";

    // A trace ends at the router that refuses.
    engine->TTL = 30;
    trace();
    ASSERT_EQ(route.size(), 2u);
    EXPECT_EQ(route[0].status, 0);
    EXPECT_EQ(route[0].address, labValue("LAB_ROUTER1"));
    EXPECT_FALSE(route[0].done);
    EXPECT_EQ(route[1].status, 11003);
    EXPECT_EQ(route[1].hops, 2);
    EXPECT_EQ(route[1].address, labValue("LAB_UNREACHABLE_ROUTER"));
    EXPECT_TRUE(route[1].done);
}

TEST_P(LabEngine, TraceOfThreeHopsEndsWithDone)
{
    engine->Address = labValue("LAB_REACHABLE");
    engine->TTL = 30;
    engine->ResolveHostName = true;
    trace();
    ASSERT_EQ(route.size(), 3u);
    const QString expected[3][2] = {{labValue("LAB_ROUTER1"), "r1.lab.test"},
                                    {labValue("LAB_ROUTER2"), "r2.lab.test"},
                                    {labValue("LAB_REACHABLE"), labValue("LAB_REACHABLE_NAME")}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(route[i].status, 0);
        EXPECT_EQ(route[i].hops, i + 1);
        EXPECT_EQ(route[i].address, expected[i][0]);
        EXPECT_EQ(route[i].hostName, expected[i][1]);
        EXPECT_EQ(route[i].done, i == 2);
        EXPECT_LT(route[i].rtt, 1000u);
    }

    // A maximum of two hops stops at the second router, marked as the last.
    route.clear();
    engine->TTL = 2;
    engine->ResolveHostName = false;
    trace();
    ASSERT_EQ(route.size(), 2u);
    EXPECT_EQ(route[1].status, 0);
    EXPECT_EQ(route[1].address, labValue("LAB_ROUTER2"));
    EXPECT_TRUE(route[1].done);
}

TEST_P(LabEngine, SilentHopsAreReportedAndTheTraceGoesOnToItsLimit)
{
    engine->Address = labValue("LAB_SILENT");
    engine->TTL = 2;
    engine->Timeout = 500;
    const qint64 took = trace();
    ASSERT_EQ(route.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i + 1);
        EXPECT_EQ(route[i].status, 11010);
        EXPECT_EQ(route[i].hops, i + 1);
        EXPECT_EQ(route[i].address, "0.0.0.0");
        EXPECT_EQ(route[i].rtt, 0u);
        EXPECT_EQ(route[i].done, i == 1);
    }
    EXPECT_GE(took, 2 * 500 - 20);
}

TEST_P(LabEngine, UnknownNameIsReportedAtOnce)
{
    engine->Address = labValue("LAB_UNKNOWN_NAME");
    engine->ResolveHostName = true;
    const qint64 took = ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, -1);
    EXPECT_EQ(replies[0].address, "0.0.0.0");
    EXPECT_EQ(TKtICMP::StatusText(replies[0].status), "Unknown host");
    EXPECT_LT(took, 2000);

    trace();
    ASSERT_EQ(route.size(), 1u);
    EXPECT_EQ(route[0].status, -1);
    EXPECT_EQ(route[0].hops, 1);
    EXPECT_EQ(route[0].address, "0.0.0.0");
    EXPECT_TRUE(route[0].done);
}

TEST_P(LabEngine, ReplyAfterItsTimeOutIsNeverTakenForALaterEcho)
{
    const int delay = labValue("LAB_SLOW_DELAY_MS").toInt();
    if (labValue("LAB_SLOW").isEmpty() || delay < 600)
        GTEST_FAIL() << "the lab has no slow host (lab_responder missing)";
    engine->Address = labValue("LAB_SLOW");

    // Two echoes, each timing out before its answer: the first answer arrives
    // while the second echo waits, the second's while the next Ping waits.
    engine->NumberOfPings = 2;
    engine->Timeout = delay * 2 / 3;
    ping();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].status, 11010);
    EXPECT_EQ(replies[1].status, 11010);

    // Waiting long enough gets the echo's own answer, not the late one of
    // the echo before (which would show a round trip far below the delay).
    replies.clear();
    engine->NumberOfPings = 1;
    engine->Timeout = delay * 2;
    ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 0);
    EXPECT_EQ(replies[0].address, labValue("LAB_SLOW"));
    EXPECT_GE(replies[0].rtt, quint32(delay - 10));
    EXPECT_LT(replies[0].rtt, quint32(delay + 1000));
    EXPECT_EQ(replies[0].ttl, 62);
}

TEST_P(LabEngine, AnswerToACancelledEchoIsNeverTakenForTheNextOne)
{
    const int delay = labValue("LAB_SLOW_DELAY_MS").toInt();
    if (labValue("LAB_SLOW").isEmpty() || delay < 600)
        GTEST_FAIL() << "the lab has no slow host (lab_responder missing)";
    engine->Address = labValue("LAB_SLOW");
    engine->Timeout = delay * 3;

    // Break the echo a third into its wait: nothing is reported.
    QTimer::singleShot(delay / 3, engine.get(), [this] { engine->Cancel(); });
    const qint64 took = ping();
    EXPECT_TRUE(replies.empty());
    EXPECT_LT(took, delay);

    // The next echo goes out before the cancelled one's answer arrives, and
    // gets its own.
    ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 0);
    EXPECT_GE(replies[0].rtt, quint32(delay - 10));
}

TEST_P(LabEngine, DontFragmentOverThePathMtu)
{
    engine->Address = labValue("LAB_REACHABLE");
    engine->BlockSize = labValue("LAB_PATH_MTU").toInt() + 200;

    // Without the flag the echo is fragmented on the way and answered.
    ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 0);

    // With it, the router before the small link refuses it, and afterwards
    // the host itself knows the path is too narrow.
    engine->DontFlagment = true;
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        replies.clear();
        ping();
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].status, 11009);
        EXPECT_EQ(TKtICMP::StatusText(replies[0].status), "Packet too big");
    }

    // A small echo with the flag still passes.
    replies.clear();
    engine->BlockSize = 64;
    ping();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 0);
}

TEST_P(LabEngine, ManyEchoesWaitTogetherAndEachEndsOnItsOwn)
{
    // Silent and answering hosts, a router's refusal, names: all sent at
    // once, each ends by its own answer or its own time-out.
    struct Echo {
        int status;
        QString address;
        quint32 rtt;
        quint8 ttl;
        qint64 atMs;
    };
    QHash<qint64, Echo> echoes;
    QList<qint64> order;
    const auto start = std::chrono::steady_clock::now();
    QObject::connect(engine.get(), &TKtICMP::OnEcho, engine.get(),
                     [&](qint64 tag, int status, const QString& address, quint32 rtt, quint8 ttl) {
                         const qint64 at = std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count();
                         echoes.insert(tag, {status, address, rtt, ttl, at});
                         order.append(tag);
                         if (engine->EchoesWaiting() == 0)
                             loop.quit();
                     });
    engine->Timeout = 1500;
    ASSERT_TRUE(engine->BeginEchoes(64));
    const QString targets[] = {labValue("LAB_SILENT"), labValue("LAB_REACHABLE"), labValue("LAB_UNREACHABLE"),
                               labValue("LAB_REACHABLE_NAME"), labValue("LAB_UNKNOWN_NAME")};
    qint64 tag = 0;
    // The router answers a host with at most a few errors a second: the
    // refused host is pinged in the first rounds only.
    for (int round = 0; round < 8; ++round)
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(engine->Echo(tag++, i == 2 && round >= 3 ? targets[1] : targets[i]));
    EXPECT_EQ(engine->EchoesWaiting(), 40);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(10000);
    loop.exec();
    engine->EndEchoes();
    EXPECT_FALSE(engine->Busy());

    ASSERT_EQ(echoes.size(), 40);
    for (qint64 k = 0; k < 40; ++k) {
        SCOPED_TRACE(k);
        const Echo& e = echoes[k];
        switch (k % 5) {
        case 0: // silent: its own time-out, not earlier
            EXPECT_EQ(e.status, 11010);
            EXPECT_EQ(e.address, "0.0.0.0");
            EXPECT_GE(e.atMs, 1500 - 20);
            EXPECT_LT(e.atMs, 1500 + 1000) << "the silent echoes waited together, not one after another";
            break;
        case 2:
            if (k < 15) {
                EXPECT_EQ(e.status, 11003);
                EXPECT_EQ(e.address, labValue("LAB_UNREACHABLE_ROUTER"));
                break;
            }
            [[fallthrough]];
        case 1:
        case 3:
            EXPECT_EQ(e.status, 0);
            EXPECT_EQ(e.address, labValue("LAB_REACHABLE"));
            EXPECT_EQ(e.ttl, labValue("LAB_REACHABLE_TTL").toInt());
            EXPECT_LT(e.rtt, 1000u);
            EXPECT_LT(e.atMs, 1400) << "answered before the silent ones timed out";
            break;
        case 4:
            EXPECT_EQ(e.status, -1);
            break;
        }
    }
    // Answers came while the silent echoes still waited.
    EXPECT_NE(order.first() % 5, 0);
    EXPECT_EQ(order.last() % 5, 0);
}

TEST_P(LabEngine, HeldAnswersWaitForTheirRead)
{
    QHash<qint64, std::pair<int, quint32>> got;
    bool reading = false;
    int reportedWhileReading = 0;
    QObject::connect(engine.get(), &TKtICMP::OnEcho, engine.get(),
                     [&](qint64 tag, int status, const QString&, quint32 rtt, quint8) {
                         got.insert(tag, {status, rtt});
                         reportedWhileReading += reading ? 1 : 0;
                         if (engine->EchoesWaiting() == 0)
                             loop.quit();
                     });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    engine->Timeout = 1500;
    ASSERT_TRUE(engine->BeginEchoes(16));
    const QString targets[] = {labValue("LAB_REACHABLE"), labValue("LAB_UNREACHABLE"), labValue("LAB_SILENT"),
                               labValue("LAB_REACHABLE")};
    engine->HoldAnswers(true);
    for (qint64 k = 0; k < 4; ++k)
        ASSERT_TRUE(engine->Echo(k, targets[k]));
    limit.start(300);
    loop.exec();
    EXPECT_TRUE(got.empty()) << "held answers do not wake the loop";

    reading = true;
    engine->ReadAnswers();
    reading = false;
    EXPECT_EQ(reportedWhileReading, 3);
    EXPECT_EQ(got.value(0).first, 0);
    // The round trip is the kernel's stamp: of the arrival where it stamps
    // then, of the read on paths where it does not (this lab's, now and
    // then), never later than the read.
    EXPECT_LE(got.value(0).second, quint32(engine->Timeout));
    EXPECT_EQ(got.value(1).first, 11003);
    EXPECT_EQ(got.value(3).first, 0);

    // The silent one still ends by its own time-out; released, answers wake
    // the loop again.
    limit.start(5000);
    loop.exec();
    EXPECT_EQ(got.value(2).first, 11010);
    engine->HoldAnswers(false);
    ASSERT_TRUE(engine->Echo(4, targets[0]));
    limit.start(5000);
    loop.exec();
    EXPECT_EQ(got.value(4, {-9, 0}).first, 0);
    engine->EndEchoes();
}

TEST_P(LabEngine, AnswersOfAnEndedStreamNeverCountInTheNext)
{
    const int delay = labValue("LAB_SLOW_DELAY_MS").toInt();
    if (labValue("LAB_SLOW").isEmpty() || delay < 600)
        GTEST_FAIL() << "the lab has no slow host (lab_responder missing)";
    std::vector<std::pair<qint64, int>> got;
    std::vector<quint32> rtts;
    QObject::connect(engine.get(), &TKtICMP::OnEcho, engine.get(),
                     [&](qint64 tag, int status, const QString&, quint32 rtt, quint8) {
                         got.emplace_back(tag, status);
                         rtts.push_back(rtt);
                         if (engine->EchoesWaiting() == 0)
                             loop.quit();
                     });
    // A stream ended while its echoes to the slow host wait: their answers
    // arrive during the next stream, whose echoes to the same host must wait
    // for their own.
    engine->Timeout = delay * 3;
    ASSERT_TRUE(engine->BeginEchoes(8));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(engine->Echo(i, labValue("LAB_SLOW")));
    QTimer::singleShot(delay / 3, &loop, &QEventLoop::quit);
    loop.exec();
    engine->EndEchoes();
    EXPECT_TRUE(got.empty());

    ASSERT_TRUE(engine->BeginEchoes(8));
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(engine->Echo(100 + i, labValue("LAB_SLOW")));
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(delay * 4);
    loop.exec();
    engine->EndEchoes();
    ASSERT_EQ(got.size(), 4u);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_GE(got[i].first, 100);
        EXPECT_EQ(got[i].second, 0);
        EXPECT_GE(rtts[i], quint32(delay - 10)) << "an answer of the ended stream was taken";
    }
}

INSTANTIATE_TEST_SUITE_P(Sockets, LabEngine, ::testing::Values(IcmpSocketKind::Datagram, IcmpSocketKind::Raw),
                         [](const ::testing::TestParamInfo<IcmpSocketKind>& param) {
                             return param.param == IcmpSocketKind::Datagram ? std::string("Datagram")
                                                                       : std::string("Raw");
                         });

} // namespace
