// The engine on the real event loop and clock, and the system resolver on
// names that the hosts file answers (no packet leaves the machine).

#include "icmp/KtIcmp.h"
#include "icmp/SystemResolver.h"
#include "support/FakeIcmp.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <ctime>

using namespace tarvok;
using namespace tarvok::test;

namespace {

TEST(EngineOnSystemClock, WaitingForATimeOutUsesNoCpu)
{
    auto* net = new FakeTransport(Clock::system());
    TKtICMP engine(std::unique_ptr<IcmpTransport>(net), std::make_unique<FakeResolver>(), Clock::system());
    engine.Address = "10.0.0.1";
    engine.Timeout = 300;
    engine.Delay = 100;
    engine.NumberOfPings = 1;
    QSignalSpy replies(&engine, &TKtICMP::OnReply);
    QSignalSpy finished(&engine, &TKtICMP::Finished);

    const std::clock_t cpu0 = std::clock();
    QElapsedTimer wall;
    wall.start();
    ASSERT_TRUE(engine.Ping());
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 5000));
    const qint64 elapsed = wall.elapsed();
    const double cpuMs = double(std::clock() - cpu0) * 1000.0 / CLOCKS_PER_SEC;

    ASSERT_EQ(replies.count(), 1);
    EXPECT_EQ(replies[0][0].toInt(), 11010);
    EXPECT_GE(elapsed, 400);
    EXPECT_LT(cpuMs, 60.0) << "the wait must sleep, not poll";
}

// Only when the hosts file answers for localhost, so that no look-up goes
// out to a name server.
bool hostsFileKnowsLocalhost()
{
    QFile hosts("/etc/hosts"), nss("/etc/nsswitch.conf");
    if (!hosts.open(QIODevice::ReadOnly) || !nss.open(QIODevice::ReadOnly))
        return false;
    const QString h = QString::fromLatin1(hosts.readAll());
    const QString n = QString::fromLatin1(nss.readAll());
    return h.contains(QRegularExpression(R"(^\s*127\.0\.0\.1\s+(\S+\s+)*localhost(\s|$))",
                                         QRegularExpression::MultilineOption))
           && n.contains(QRegularExpression(R"(^hosts:\s*files\b)", QRegularExpression::MultilineOption));
}

TEST(SystemResolverTest, LocalhostBothWaysAndCancel)
{
    if (!hostsFileKnowsLocalhost())
        GTEST_SKIP() << "localhost is not in the hosts file";
    SystemResolver resolver;
    QSignalSpy spy(&resolver, &Resolver::finished);

    const quint64 fwd = resolver.lookupName("localhost");
    ASSERT_NE(fwd, 0u);
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(spy[0][0].toULongLong(), fwd);
    EXPECT_TRUE(spy[0][1].toBool());
    EXPECT_EQ(spy[0][2].toUInt(), ip("127.0.0.1"));
    EXPECT_FALSE(spy[0][3].toString().isEmpty());

    const quint64 rev = resolver.lookupAddress(ip("127.0.0.1"));
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(spy[1][0].toULongLong(), rev);
    EXPECT_TRUE(spy[1][1].toBool());
    EXPECT_FALSE(spy[1][3].toString().isEmpty());

    // A cancelled request never reports, even when it completes.
    const quint64 cancelled = resolver.lookupName("localhost");
    resolver.cancel(cancelled);
    QTest::qWait(300);
    EXPECT_EQ(spy.count(), 2);
}

TEST(SystemResolverTest, DestroyedWithARequestRunning)
{
    if (!hostsFileKnowsLocalhost())
        GTEST_SKIP() << "localhost is not in the hosts file";
    int reported = 0;
    {
        SystemResolver resolver;
        QObject::connect(&resolver, &Resolver::finished, [&] { ++reported; });
        resolver.lookupName("localhost");
    }
    QTest::qWait(300); // the worker finishes into nothing
    EXPECT_EQ(reported, 0);
}

} // namespace
