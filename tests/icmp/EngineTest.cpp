// The echo engine over a fake network and a manual clock.

#include "support/FakeIcmp.h"
#include "icmp/IcmpPacket.h"
#include "icmp/KtIcmp.h"

#include <QSet>
#include <gtest/gtest.h>

#include <set>

using namespace tarvok;
using namespace tarvok::test;

namespace {

struct Reply {
    int status;
    QString ip;
    quint32 rtt;
    quint8 ttl;
    QString host;
    qint64 at;
};

struct Hop {
    int status;
    int hops;
    QString ip;
    quint32 rtt;
    QString host;
    bool done;
};

class Engine : public ::testing::Test {
protected:
    Engine()
        : net(new FakeTransport(clock)),
          dns(new FakeResolver),
          engine(std::unique_ptr<IcmpTransport>(net), std::unique_ptr<Resolver>(dns), clock)
    {
        QObject::connect(&engine, &TKtICMP::OnReply, [this](int s, const QString& ip, quint32 rtt, quint8 ttl,
                                                            const QString& host) {
            replies.push_back({ s, ip, rtt, ttl, host, clock.monotonicMs() });
        });
        QObject::connect(&engine, &TKtICMP::OnRoute, [this](int s, quint8 h, const QString& ip, quint32 rtt,
                                                            const QString& host, bool done) {
            hops.push_back({ s, h, ip, rtt, host, done });
        });
        QObject::connect(&engine, &TKtICMP::Finished, [this] {
            ++finished;
            finishedAt = clock.monotonicMs();
        });
        engine.Timeout = 1000;
        engine.Delay = 500;
        engine.NumberOfPings = 1;
        engine.ResolveHostName = false;
    }

    ManualClock clock;
    FakeTransport* net;
    FakeResolver* dns;
    TKtICMP engine;
    std::vector<Reply> replies;
    std::vector<Hop> hops;
    int finished = 0;
    qint64 finishedAt = -1;
};

TEST_F(Engine, AnsweredEchoReportsAddressRttTtlAndPausesBeforeFinishing)
{
    engine.Address = " 10.0.0.7 ";
    engine.BlockSize = 100;
    engine.TTL = 32;
    engine.DontFlagment = true;
    net->push(FakeOutcome::reply("10.0.0.7", 61, 12));

    ASSERT_TRUE(engine.Ping());
    EXPECT_TRUE(engine.Busy());
    EXPECT_TRUE(replies.empty()) << "nothing is reported from inside Ping()";

    advance(clock, 5000);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 0);
    EXPECT_EQ(replies[0].ip, "10.0.0.7");
    EXPECT_EQ(replies[0].rtt, 12u);
    EXPECT_EQ(replies[0].ttl, 61);
    EXPECT_EQ(replies[0].host, "");
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(finishedAt, 12 + 500) << "finished after the pause";
    EXPECT_FALSE(engine.Busy());

    ASSERT_EQ(net->sent().size(), 1);
    const Probe& p = net->sent()[0];
    EXPECT_EQ(p.dest, ip("10.0.0.7"));
    EXPECT_EQ(p.ttl, 32);
    EXPECT_TRUE(p.dontFragment);
    EXPECT_EQ(p.payloadSize, 100);
    EXPECT_TRUE(dns->forwardLookups().isEmpty()) << "an address needs no look-up";
}

TEST_F(Engine, BusyEngineRefusesBothOperations)
{
    engine.Address = "10.0.0.1";
    engine.TTL = 5;
    ASSERT_TRUE(engine.Ping());
    EXPECT_FALSE(engine.Ping());
    EXPECT_FALSE(engine.Trace());
    advance(clock, 10000);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(net->sent().size(), 1);
    EXPECT_EQ(replies.size(), 1u);

    ASSERT_TRUE(engine.Trace());
    EXPECT_FALSE(engine.Ping());
    EXPECT_FALSE(engine.Trace());
    advance(clock, 60000);
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(replies.size(), 1u);
    EXPECT_EQ(hops.size(), 5u);
}

TEST_F(Engine, ZeroOrNegativeNumberOfPingsSendsNothingAndFinishes)
{
    engine.Address = "10.0.0.1";
    for (int n : { 0, -3 }) {
        engine.NumberOfPings = n;
        ASSERT_TRUE(engine.Ping());
        settle();
    }
    EXPECT_EQ(finished, 2);
    EXPECT_TRUE(replies.empty());
    EXPECT_TRUE(net->sent().isEmpty());
}

TEST_F(Engine, SeveralEchoesEachFollowedByThePause)
{
    engine.Address = "10.0.0.1";
    engine.NumberOfPings = 3;
    // The second echo is answered by another host only: no answer for a ping.
    net->push({ FakeOutcome::reply("10.0.0.1", 64, 10), FakeOutcome::reply("10.0.0.2", 64, 5),
                FakeOutcome::reply("10.0.0.1", 64, 20) });
    ASSERT_TRUE(engine.Ping());
    advance(clock, 10000);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].at, 10);
    EXPECT_EQ(replies[1].status, 11010);
    EXPECT_EQ(replies[1].ip, "0.0.0.0");
    EXPECT_EQ(replies[1].rtt, 0u);
    EXPECT_EQ(replies[1].at, 10 + 500 + 1000);
    EXPECT_EQ(replies[2].at, 1510 + 500 + 20);
    EXPECT_EQ(finishedAt, 2030 + 500);
    ASSERT_EQ(net->sent().size(), 3);
    EXPECT_EQ(quint16(net->sent()[0].sequence + 1), net->sent()[1].sequence);
    EXPECT_EQ(quint16(net->sent()[1].sequence + 1), net->sent()[2].sequence);
}

TEST(EngineSequence, EachEngineStartsAtARandomSequence)
{
    // Sixteen engines all starting at one number would be a fixed start.
    std::set<quint16> firsts;
    for (int i = 0; i < 16; ++i) {
        ManualClock clock;
        auto* net = new FakeTransport(clock);
        TKtICMP engine(std::unique_ptr<IcmpTransport>(net), std::make_unique<FakeResolver>(), clock);
        engine.Address = "10.0.0.1";
        engine.NumberOfPings = 1;
        engine.ResolveHostName = false;
        net->push({ FakeOutcome::silence() });
        ASSERT_TRUE(engine.Ping());
        advance(clock, 10000);
        ASSERT_EQ(net->sent().size(), 1);
        firsts.insert(net->sent()[0].sequence);
    }
    EXPECT_GT(firsts.size(), 8u);
}

TEST_F(Engine, FailuresAreReportedWithTheAnsweringRouterOrNoAddress)
{
    engine.Address = "10.0.0.1";
    engine.NumberOfPings = 3;
    engine.Delay = 0;
    net->push({ FakeOutcome::error(11003, "10.9.9.1", 4), FakeOutcome::sendError(11009), FakeOutcome::sendError(11002) });
    ASSERT_TRUE(engine.Ping());
    advance(clock, 10000);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].status, 11003);
    EXPECT_EQ(replies[0].ip, "10.9.9.1");
    EXPECT_EQ(replies[1].status, 11009);
    EXPECT_EQ(replies[1].ip, "0.0.0.0");
    EXPECT_EQ(replies[1].rtt, 0u);
    EXPECT_EQ(replies[2].status, 11002);
    EXPECT_EQ(finished, 1);
}

TEST_F(Engine, FirstSendFailingInsidePingIsReportedFromTheEventLoop)
{
    engine.Address = "10.0.0.1";
    net->push(FakeOutcome::sendError(11002));
    ASSERT_TRUE(engine.Ping());
    EXPECT_EQ(net->sent().size(), 1); // a literal address goes out at once
    EXPECT_TRUE(replies.empty());
    advance(clock, 5000);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].status, 11002);
    EXPECT_EQ(replies[0].ip, "0.0.0.0");
    EXPECT_EQ(finished, 1);
}

TEST_F(Engine, UnknownHostIsReportedEveryRoundWithPauses)
{
    engine.Address = "no.such.host";
    engine.NumberOfPings = 3;
    ASSERT_TRUE(engine.Ping());
    advance(clock, 10000);
    ASSERT_EQ(replies.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(replies[i].status, -1);
        EXPECT_EQ(replies[i].ip, "0.0.0.0");
        EXPECT_EQ(replies[i].rtt, 0u);
        EXPECT_EQ(replies[i].ttl, 0);
        EXPECT_EQ(replies[i].at, static_cast<qint64>(i) * 500);
    }
    EXPECT_EQ(finishedAt, 1500);
    EXPECT_EQ(dns->forwardLookups().size(), 3) << "every round tries again";
    EXPECT_TRUE(net->sent().isEmpty());
    EXPECT_EQ(TKtICMP::StatusText(replies[0].status), "Unknown host");
}

TEST_F(Engine, UnresolvableTextsNeedNoLookup)
{
    engine.NumberOfPings = 1;
    engine.Delay = 0;
    // A NUL inside the text ends it early for the C library: the text as a
    // whole names no host, whatever stands before the NUL.
    const QString nul(QChar(u'\0'));
    for (const QString& a : { QString("255.255.255.255"), QString(""), QString("   "), QString(300, 'a'),
                              "127.0.0.1" + nul + "junk", "localhost" + nul + "x" }) {
        engine.Address = a;
        ASSERT_TRUE(engine.Ping());
        advance(clock, 10);
    }
    ASSERT_EQ(replies.size(), 6u);
    for (const auto& r : replies)
        EXPECT_EQ(r.status, -1);
    EXPECT_TRUE(dns->forwardLookups().isEmpty());
    EXPECT_TRUE(net->sent().isEmpty());
}

TEST_F(Engine, HostNames)
{
    dns->addHost("web", "10.1.1.1", "web.example.test");
    dns->addReverse("10.1.1.2", "db.example.test");
    engine.NumberOfPings = 2;
    engine.Delay = 0;
    net->setResponder([](const Probe& p) {
        FakeOutcome o = FakeOutcome::reply("0.0.0.0", 60, 3);
        o.from = p.dest;
        return o;
    });

    // A name: the official name of the forward look-up, resolved once per call.
    engine.Address = "web";
    engine.ResolveHostName = true;
    ASSERT_TRUE(engine.Ping());
    advance(clock, 100);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].ip, "10.1.1.1");
    EXPECT_EQ(replies[0].host, "web.example.test");
    EXPECT_EQ(replies[1].host, "web.example.test");
    EXPECT_EQ(dns->forwardLookups(), QStringList { "web" });

    // An address: its reverse name; none when it has none.
    replies.clear();
    engine.Address = "10.1.1.2";
    ASSERT_TRUE(engine.Ping());
    advance(clock, 100);
    engine.Address = "10.1.1.3";
    ASSERT_TRUE(engine.Ping());
    advance(clock, 100);
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0].host, "db.example.test");
    EXPECT_EQ(replies[2].status, 0);
    EXPECT_EQ(replies[2].host, "");
    EXPECT_EQ(dns->reverseLookups().size(), 2);

    // Not wanted: no reverse look-up, no name even for a name.
    replies.clear();
    engine.ResolveHostName = false;
    engine.Address = "web";
    ASSERT_TRUE(engine.Ping());
    advance(clock, 100);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].host, "");
    EXPECT_EQ(dns->reverseLookups().size(), 2);

    // A look-up that cannot be started counts as a failed one.
    replies.clear();
    dns->setRefuseStart(true);
    engine.Address = "other";
    ASSERT_TRUE(engine.Ping());
    advance(clock, 100);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].status, -1);
    EXPECT_EQ(finished, 5);
}

TEST_F(Engine, CancelDuringThePauseEndsAtOnce)
{
    engine.Address = "10.0.0.1";
    engine.NumberOfPings = 3;
    engine.Delay = 1000;
    net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1", 64, 5); });
    ASSERT_TRUE(engine.Ping());
    advance(clock, 300);
    ASSERT_EQ(replies.size(), 1u);
    engine.Cancel();
    EXPECT_EQ(finished, 0) << "Finished comes from the event loop";
    settle();
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(engine.Busy());
    advance(clock, 10000);
    EXPECT_EQ(replies.size(), 1u);
    EXPECT_EQ(net->sent().size(), 1);
    EXPECT_EQ(finished, 1);
}

TEST_F(Engine, CancelDuringAHangingLookupAbandonsIt)
{
    dns->hang("slow");
    engine.Address = "slow";
    engine.NumberOfPings = 3;
    ASSERT_TRUE(engine.Ping());
    advance(clock, 200);
    EXPECT_TRUE(engine.Busy());
    EXPECT_EQ(dns->outstanding(), 1);
    engine.Cancel();
    settle();
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(dns->outstanding(), 0);
    EXPECT_EQ(dns->cancelCount(), 1);
    advance(clock, 10000);
    EXPECT_TRUE(replies.empty());
    EXPECT_TRUE(net->sent().isEmpty());
}

TEST_F(Engine, CancelDuringAnEchoAbandonsItAndItsLateAnswer)
{
    engine.Address = "10.0.0.1";
    engine.NumberOfPings = 2;
    net->setHonourAbandon(false);
    net->push(FakeOutcome::reply("10.0.0.1", 64, 400));
    ASSERT_TRUE(engine.Ping());
    advance(clock, 100);
    engine.Cancel();
    settle();
    EXPECT_EQ(finished, 1);
    EXPECT_GE(net->abandonCount(), 1);
    advance(clock, 1000);
    EXPECT_TRUE(replies.empty());
}

TEST_F(Engine, CancelFromInsideAHandlerStopsBeforeTheNextEvent)
{
    engine.Address = "10.0.0.1";
    engine.NumberOfPings = 5;
    net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1"); });
    QObject::connect(&engine, &TKtICMP::OnReply, &engine, [this] { engine.Cancel(); });
    ASSERT_TRUE(engine.Ping());
    advance(clock, 10000);
    EXPECT_EQ(replies.size(), 1u);
    EXPECT_EQ(net->sent().size(), 1);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(finishedAt, 1) << "no pause after a stop";
}

TEST_F(Engine, CancelBeforeTheFirstStepAndWhileIdle)
{
    engine.Cancel(); // idle: harmless
    engine.Address = "10.0.0.1";
    ASSERT_TRUE(engine.Ping());
    engine.Cancel();
    advance(clock, 5000);
    EXPECT_EQ(finished, 1);
    // A literal address goes out from inside Ping(); the stop abandons it.
    EXPECT_EQ(net->sent().size(), 1);
    EXPECT_TRUE(replies.empty());

    // The next operation clears the stop.
    ASSERT_TRUE(engine.Ping());
    advance(clock, 5000);
    EXPECT_EQ(replies.size(), 1u);
}

TEST_F(Engine, LateReplyAfterTimeOutIsNotTakenForTheNextEcho)
{
    engine.Address = "10.0.0.1";
    engine.NumberOfPings = 2;
    engine.Delay = 100;
    net->setHonourAbandon(false);
    // The first answer comes after its time-out, while the second echo waits.
    net->push({ FakeOutcome::reply("10.0.0.1", 64, 1300), FakeOutcome::silence() });
    ASSERT_TRUE(engine.Ping());
    advance(clock, 10000);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].status, 11010);
    EXPECT_EQ(replies[1].status, 11010);
    EXPECT_EQ(replies[1].at, 1000 + 100 + 1000);
}

TEST_F(Engine, FinishedHandlerMayStartTheNextOperation)
{
    engine.Address = "10.0.0.1";
    engine.Delay = 0;
    net->setResponder([](const Probe&) { return FakeOutcome::reply("10.0.0.1"); });
    int started = 0;
    QObject::connect(&engine, &TKtICMP::Finished, &engine, [&] {
        if (started < 4 && engine.Ping())
            ++started;
    });
    ASSERT_TRUE(engine.Ping());
    advance(clock, 100);
    EXPECT_EQ(started, 4);
    EXPECT_EQ(replies.size(), 5u);
    EXPECT_EQ(finished, 5);
}

// ---- Trace ---------------------------------------------------------------

class TraceTest : public Engine {
protected:
    TraceTest()
    {
        engine.Address = "10.0.0.99";
        engine.TTL = 30;
    }
    // Routers 10.0.<h>.1 answer "TTL expired" below hop `at`; the destination
    // (reply from `replyFrom`) answers from hop `at` on.
    void routeTo(int at, const char* replyFrom = "10.0.0.99")
    {
        const IpAddress from = ip(replyFrom);
        net->setResponder([at, from](const Probe& p) {
            if (p.ttl < at) {
                const QString router = QStringLiteral("10.0.%1.1").arg(p.ttl);
                return FakeOutcome::error(11013, router.toLatin1().constData(), 2 * p.ttl);
            }
            FakeOutcome o = FakeOutcome::reply("0.0.0.0", 60, 20);
            o.from = from;
            return o;
        });
    }
    void run()
    {
        ASSERT_TRUE(engine.Trace());
        EXPECT_TRUE(hops.empty());
        advance(clock, 1000000);
        EXPECT_EQ(finished, 1);
        EXPECT_FALSE(engine.Busy());
    }
};

TEST_F(TraceTest, DestinationAtHopFive)
{
    routeTo(5);
    engine.Delay = 5000; // no pause between hops
    run();
    ASSERT_EQ(hops.size(), 5u);
    for (int h = 0; h < 4; ++h) {
        EXPECT_EQ(hops[h].status, 0) << h;
        EXPECT_EQ(hops[h].hops, h + 1);
        EXPECT_EQ(hops[h].ip, QStringLiteral("10.0.%1.1").arg(h + 1));
        EXPECT_EQ(hops[h].rtt, static_cast<quint32>(2 * (h + 1)));
        EXPECT_FALSE(hops[h].done);
    }
    EXPECT_EQ(hops[4].status, 0);
    EXPECT_EQ(hops[4].ip, "10.0.0.99");
    EXPECT_EQ(hops[4].rtt, 20u);
    EXPECT_TRUE(hops[4].done);
    EXPECT_EQ(finishedAt, 2 + 4 + 6 + 8 + 20);

    ASSERT_EQ(net->sent().size(), 5);
    for (int h = 0; h < 5; ++h) {
        EXPECT_EQ(net->sent()[h].ttl, h + 1);
        EXPECT_EQ(net->sent()[h].payloadSize, 0);
    }
}

TEST_F(TraceTest, SilentHopIsReportedAndTheTraceGoesOn)
{
    net->push({ FakeOutcome::error(11013, "10.0.1.1"), FakeOutcome::error(11013, "10.0.2.1"), FakeOutcome::silence(),
                FakeOutcome::reply("10.0.0.99") });
    run();
    ASSERT_EQ(hops.size(), 4u);
    EXPECT_EQ(hops[2].status, 11010);
    EXPECT_EQ(hops[2].ip, "0.0.0.0");
    EXPECT_EQ(hops[2].rtt, 0u);
    EXPECT_FALSE(hops[2].done);
    EXPECT_TRUE(hops[3].done);
}

TEST_F(TraceTest, RouterUnreachableEndsTheTrace)
{
    net->push({ FakeOutcome::error(11013, "10.0.1.1"), FakeOutcome::error(11013, "10.0.2.1"),
                FakeOutcome::error(11013, "10.0.3.1"), FakeOutcome::error(11003, "10.0.3.1", 7) });
    run();
    ASSERT_EQ(hops.size(), 4u);
    EXPECT_EQ(hops[3].status, 11003);
    EXPECT_EQ(hops[3].hops, 4);
    EXPECT_EQ(hops[3].ip, "10.0.3.1");
    EXPECT_EQ(hops[3].rtt, 7u);
    EXPECT_TRUE(hops[3].done);
    EXPECT_EQ(net->sent().size(), 4);
}

TEST_F(TraceTest, SendFailureEndsTheTrace)
{
    net->push({ FakeOutcome::error(11013, "10.0.1.1"), FakeOutcome::sendError(11002) });
    run();
    ASSERT_EQ(hops.size(), 2u);
    EXPECT_EQ(hops[1].status, 11002);
    EXPECT_EQ(hops[1].ip, "0.0.0.0");
    EXPECT_TRUE(hops[1].done);
}

TEST_F(TraceTest, AnswerFromAnotherAddressGoesOnToTheLimit)
{
    engine.TTL = 6;
    routeTo(3, "10.0.0.98");
    run();
    ASSERT_EQ(hops.size(), 6u);
    for (int h = 2; h < 6; ++h) {
        EXPECT_EQ(hops[h].status, 0);
        EXPECT_EQ(hops[h].ip, "10.0.0.98");
        EXPECT_EQ(hops[h].done, h == 5);
    }
}

TEST_F(TraceTest, SilenceAtTheLastHopAndTtlOne)
{
    engine.TTL = 3;
    run();
    ASSERT_EQ(hops.size(), 3u);
    EXPECT_EQ(hops[2].status, 11010);
    EXPECT_TRUE(hops[2].done);
    EXPECT_FALSE(hops[1].done);

    hops.clear();
    engine.TTL = 1;
    routeTo(5);
    ASSERT_TRUE(engine.Trace());
    advance(clock, 100000);
    ASSERT_EQ(hops.size(), 1u);
    EXPECT_EQ(hops[0].status, 0);
    EXPECT_EQ(hops[0].ip, "10.0.1.1");
    EXPECT_TRUE(hops[0].done);
}

TEST_F(TraceTest, UnknownHostIsOneFinalReport)
{
    engine.Address = "nowhere";
    run();
    ASSERT_EQ(hops.size(), 1u);
    EXPECT_EQ(hops[0].status, -1);
    EXPECT_EQ(hops[0].hops, 1);
    EXPECT_EQ(hops[0].ip, "0.0.0.0");
    EXPECT_TRUE(hops[0].done);
    EXPECT_TRUE(net->sent().isEmpty());
}

TEST_F(TraceTest, HostNamesOfHops)
{
    routeTo(3);
    dns->addReverse("10.0.1.1", "r1.example.test");
    dns->addReverse("10.0.0.99", "dest.example.test");
    engine.ResolveHostName = true;
    run();
    ASSERT_EQ(hops.size(), 3u);
    EXPECT_EQ(hops[0].host, "r1.example.test");
    EXPECT_EQ(hops[1].host, "");
    EXPECT_EQ(hops[2].host, "dest.example.test");
    EXPECT_EQ(dns->reverseLookups().size(), 3);
}

TEST_F(TraceTest, CancelDuringAHopLookupReportsNothingMore)
{
    routeTo(5);
    dns->hangAddress("10.0.2.1");
    engine.ResolveHostName = true;
    ASSERT_TRUE(engine.Trace());
    advance(clock, 1000);
    EXPECT_EQ(hops.size(), 1u);
    EXPECT_EQ(dns->outstanding(), 1);
    engine.Cancel();
    advance(clock, 100000);
    EXPECT_EQ(hops.size(), 1u);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(dns->outstanding(), 0);
    EXPECT_EQ(net->sent().size(), 2);
}

TEST_F(TraceTest, CancelFromTheRouteHandler)
{
    routeTo(9);
    QObject::connect(&engine, &TKtICMP::OnRoute, &engine, [this](int, quint8 h) {
        if (h == 2)
            engine.Cancel();
    });
    run();
    EXPECT_EQ(hops.size(), 2u);
    EXPECT_EQ(net->sent().size(), 2);
}

// ---- Texts and address forms ----------------------------------------------

TEST(EngineStatic, StatusTexts)
{
    EXPECT_EQ(TKtICMP::StatusText(0), "Success");
    EXPECT_EQ(TKtICMP::StatusText(11003), "Destination host unreachable");
    EXPECT_EQ(TKtICMP::StatusText(11010), "Request timed out");
    EXPECT_EQ(TKtICMP::StatusText(11013), "TTL expired in transit");
    EXPECT_EQ(TKtICMP::StatusText(11018), "Bad Destination");
    EXPECT_EQ(TKtICMP::StatusText(11050), "General failure");
    EXPECT_EQ(TKtICMP::StatusText(11255), "Pending");
    EXPECT_EQ(TKtICMP::StatusText(-1), "Unknown host");
    EXPECT_EQ(TKtICMP::StatusText(12345), "Unknown Error");
    EXPECT_EQ(TKtICMP::StatusText(11023), "Unknown Error");
    EXPECT_EQ(TKtICMP::StatusText(-2), "Unknown Error");
}

TEST(EngineStatic, AddressForms)
{
    for (const char* a : { "192.168.1.1", " 192.168.1.1 ", "\t10.1\r\n", "127.1", "10.1", "0x7f.1", "0", "1.2.3.4 x" })
        EXPECT_TRUE(TKtICMP::IsAddress(QString::fromLatin1(a))) << a;
    for (const char* a : { "", "  ", "255.255.255.255", "host.example", "1.2.3.256", "1..2", "１.２.３.４" })
        EXPECT_FALSE(TKtICMP::IsAddress(QString::fromUtf8(a))) << a;
    EXPECT_FALSE(TKtICMP::IsAddress(QString(250, ' ') + "10.0.0.1" + QString(250, ' ').left(0) + QString(10, 'x')));
    EXPECT_TRUE(TKtICMP::IsAddress(QString(250, ' ') + "10.0.0.1" + QString(250, ' ')))
        << "blanks are trimmed before the length counts";
    EXPECT_FALSE(TKtICMP::IsAddress("10.0.0.1" + QString(250, ' ') + "x"));
    EXPECT_FALSE(TKtICMP::IsAddress("127.0.0.1" + QString(QChar(u'\0')) + "junk"));
}

} // namespace

TEST_F(Engine, AHandlerThatThrowsEndsTheOperationAndTheNextOneRuns)
{
    struct HandlerFailure {};
    engine.Address = "10.0.0.7";
    for (const bool trace : {false, true}) {
        SCOPED_TRACE(trace ? "Trace" : "Ping");
        engine.NumberOfPings = 3;
        net->push({FakeOutcome::reply("10.0.0.7"), FakeOutcome::reply("10.0.0.7")});
        const auto fail = [] { throw HandlerFailure{}; };
        const QMetaObject::Connection throwing = trace ? QObject::connect(&engine, &TKtICMP::OnRoute, fail)
                                                       : QObject::connect(&engine, &TKtICMP::OnReply, fail);
        const int finishedBefore = finished;
        const qsizetype sentBefore = net->sent().size();
        ASSERT_TRUE(trace ? engine.Trace() : engine.Ping());
        EXPECT_THROW(advance(clock, 5000), HandlerFailure);
        QObject::disconnect(throwing);
        advance(clock, 5000);
        EXPECT_EQ(finished, finishedBefore + 1);
        EXPECT_FALSE(engine.Busy());
        EXPECT_EQ(net->sent().size(), sentBefore + 1) << "nothing sent after the throw";

        // The engine takes the next operation.
        engine.NumberOfPings = 1;
        net->push(FakeOutcome::reply("10.0.0.7"));
        ASSERT_TRUE(engine.Ping());
        advance(clock, 5000);
        EXPECT_EQ(finished, finishedBefore + 2);
    }
}

TEST_F(Engine, RoundTripAndTimeOutFollowTheArrivalTimeNotWhenTheAnswerIsRead)
{
    // Time-out 1000 ms, pause 500 ms. An answer stamped on arrival but read
    // late by a busy thread keeps its own round-trip time, and the pause
    // after it counts from its arrival; only an arrival after the time-out
    // is one.
    struct Case {
        qint64 arrivesMs;
        qint64 readLateMs;
        int status;
        quint32 rtt;
        qint64 reportedAt; // clock time of OnReply
        qint64 finishedAt; // clock time of Finished
    };
    const Case cases[] = {
        {300, 100, 0, 300, 400, 800},      // read 100 ms late: the round trip is still 300 ms
        {300, 900, 0, 300, 1000, 1000},    // still unread at the time-out: looked for once more, found
        {999, 5000, 0, 999, 1000, 1499},   // arrived just in time
        {1200, 0, 11010, 0, 1000, 1500},   // arrived after the time-out
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arrivesMs);
        replies.clear();
        FakeOutcome o = FakeOutcome::reply("10.0.0.7", 61, c.arrivesMs);
        o.readLateMs = c.readLateMs;
        net->push(o);
        engine.Address = "10.0.0.7";
        const qint64 start = clock.monotonicMs();
        ASSERT_TRUE(engine.Ping());
        advance(clock, 8000);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].status, c.status);
        EXPECT_EQ(replies[0].rtt, c.rtt);
        EXPECT_EQ(replies[0].ip, c.status == 0 ? QStringLiteral("10.0.0.7") : QStringLiteral("0.0.0.0"));
        EXPECT_EQ(replies[0].at - start, c.reportedAt);
        EXPECT_EQ(finishedAt - start, c.finishedAt);
        EXPECT_FALSE(engine.Busy());
    }
}

TEST_F(Engine, EchoStreamHoldsCapacityAndReportsOnlyFromTheEventLoop)
{
    std::vector<std::pair<qint64, int>> echoes;
    QObject::connect(&engine, &TKtICMP::OnEcho, [&](qint64 tag, int s, const QString&, quint32, quint8) {
        echoes.emplace_back(tag, s);
    });
    net->push({FakeOutcome::silence(), FakeOutcome::sendError(11002), FakeOutcome::reply("10.0.0.3", 64, 5)});
    ASSERT_TRUE(engine.BeginEchoes(3));
    EXPECT_FALSE(engine.Ping()) << "the stream keeps the engine busy";
    EXPECT_TRUE(engine.Echo(1, "10.0.0.1"));
    EXPECT_TRUE(engine.Echo(2, "10.0.0.2"));
    EXPECT_TRUE(engine.Echo(3, "10.0.0.3"));
    EXPECT_FALSE(engine.Echo(4, "10.0.0.4")) << "three wait already";
    EXPECT_TRUE(echoes.empty()) << "a failed send is reported from the event loop";
    settle();
    ASSERT_EQ(echoes.size(), 1u);
    EXPECT_EQ(echoes[0], std::make_pair(qint64(2), 11002));
    EXPECT_TRUE(engine.Echo(4, "10.0.0.4"));
    // Sequences stay unique among the waiting probes.
    QSet<quint16> seqs;
    for (const Probe& p : net->sent())
        seqs.insert(p.sequence);
    EXPECT_EQ(seqs.size(), net->sent().size());
    advance(clock, 1000);
    ASSERT_EQ(echoes.size(), 4u);
    EXPECT_EQ(echoes[1], std::make_pair(qint64(3), 0));
    EXPECT_EQ(echoes[2], std::make_pair(qint64(1), 11010));
    EXPECT_EQ(echoes[3], std::make_pair(qint64(4), 11010));
    EXPECT_EQ(engine.EchoesWaiting(), 0);

    // Ending the stream drops what waits; Cancel ends it with Finished().
    EXPECT_TRUE(engine.Echo(5, "10.0.0.5"));
    engine.EndEchoes();
    EXPECT_FALSE(engine.Busy());
    EXPECT_EQ(net->inFlight(), 0);
    ASSERT_TRUE(engine.BeginEchoes(2));
    EXPECT_TRUE(engine.Echo(6, "10.0.0.6"));
    engine.Cancel();
    advance(clock, 2000);
    EXPECT_EQ(echoes.size(), 4u);
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(engine.Busy());
}

TEST_F(Engine, AnAnswerShowsTheAddressItCameFromAsTheEngineWritesIt)
{
    // The text asked for is reported only when it is how the answering
    // address is written; abbreviated, octal and padded forms are written out.
    struct Case {
        const char* asked;
        const char* from;
        const char* shown;
        int status = 0;
    };
    const Case cases[] = {
        { "10.0.0.7", "10.0.0.7", "10.0.0.7" },
        { " 10.0.0.7\t", "10.0.0.7", "10.0.0.7" },
        { "10.7", "10.0.0.7", "10.0.0.7" },
        { "010.0.0.7", "8.0.0.7", "8.0.0.7" },
        { "10.0.0.7", "10.0.0.1", "10.0.0.1", 11003 }, // a router answered
        { "::1", "::1", "::1" },
    };
    QString streamed;
    QObject::connect(&engine, &TKtICMP::OnEcho,
                     [&](qint64, int, const QString& ip, quint32, quint8) { streamed = ip; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        replies.clear();
        engine.Address = QString::fromLatin1(c.asked);
        const auto outcome = [&] { return c.status ? FakeOutcome::error(c.status, c.from) : FakeOutcome::reply(c.from); };
        net->push(outcome());
        ASSERT_TRUE(engine.Ping());
        advance(clock, 2000);
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0].ip, c.shown);

        net->push(outcome());
        ASSERT_TRUE(engine.BeginEchoes(1));
        ASSERT_TRUE(engine.Echo(1, QString::fromLatin1(c.asked)));
        advance(clock, 2000);
        EXPECT_EQ(streamed, c.shown);
        engine.EndEchoes();
    }
}
