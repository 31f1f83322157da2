// The engine on the real event loop and clock, and the system resolver on
// names that the hosts file answers (no packet leaves the machine).

#include "icmp/KtIcmp.h"
#include "icmp/LookupPool.h"
#include "icmp/SystemResolver.h"
#include "support/FakeIcmp.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <vector>

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

// Every look-up of the shared pool has run or been dropped, and what they
// posted back has been delivered.
bool lookupsSettled()
{
    const bool idle = QTest::qWaitFor(
        [] { return LookupPool::shared().busy() == 0 && LookupPool::shared().queued() == 0; }, 10'000);
    QCoreApplication::sendPostedEvents();
    return idle;
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
    EXPECT_EQ(spy[0][2].value<IpAddress>(), ip("127.0.0.1")) << "IPv4 first, though localhost has ::1 too";
    EXPECT_FALSE(spy[0][3].toString().isEmpty());

    const quint64 rev = resolver.lookupAddress(ip("127.0.0.1"));
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(spy[1][0].toULongLong(), rev);
    EXPECT_TRUE(spy[1][1].toBool());
    EXPECT_FALSE(spy[1][3].toString().isEmpty());

    // A cancelled request never reports, whether it had started or not.
    const quint64 cancelled = resolver.lookupName("localhost");
    resolver.cancel(cancelled);
    const quint64 after = resolver.lookupName("localhost");
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(spy[2][0].toULongLong(), after);
    ASSERT_TRUE(lookupsSettled());
    EXPECT_EQ(spy.count(), 3);
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
    ASSERT_TRUE(lookupsSettled()); // the worker finished into nothing
    EXPECT_EQ(reported, 0);
}

TEST(LookupPoolTest, BoundedWorkersAndCancelledJobsNeverRun)
{
    LookupPool pool(2);
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    std::atomic<int> ran {0};
    auto blocking = [&] {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return release; });
        ++ran;
    };
    std::vector<LookupPool::Cancel> marks;
    for (int i = 0; i < 5; ++i) {
        marks.push_back(std::make_shared<std::atomic<bool>>(false));
        ASSERT_TRUE(pool.submit(blocking, marks.back()));
    }
    // Two workers hang in their jobs; the rest wait, and no thread is added.
    ASSERT_TRUE(QTest::qWaitFor([&] { return pool.busy() == 2; }, 5000));
    EXPECT_EQ(pool.threads(), 2);
    EXPECT_EQ(pool.queued(), 3);
    marks[3]->store(true);
    marks[4]->store(true);
    {
        std::lock_guard lock(m);
        release = true;
    }
    cv.notify_all();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pool.busy() == 0 && pool.queued() == 0; }, 5000));
    EXPECT_EQ(ran.load(), 3);
}

} // namespace
