#include "run/ClockTicker.h"

#include "icmp/LookupPool.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

#include <QFile>
#include <QTemporaryDir>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarvok;

namespace {

// A look-up that blocks until released and counts how many run at once.
struct GatedLookup {
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    std::atomic<int> calls{0};
    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
    QString answer = "192.0.2.7";

    ClockTicker::Lookup fn()
    {
        return [this] {
            ++calls;
            const int now = ++running;
            int seen = maxRunning.load();
            while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
            }
            QString result;
            {
                std::unique_lock lock(m);
                cv.wait(lock, [this] { return open; });
                result = answer;
            }
            --running; // the last touch of this object
            return result;
        };
    }
    void release()
    {
        std::lock_guard lock(m);
        open = true;
        cv.notify_all();
    }
};

} // namespace

TEST(ClockTicker, ClockFormat)
{
    EXPECT_EQ(ClockTicker::formatClock(QDateTime(QDate(2026, 1, 5), QTime(7, 3, 59))), "2026/01/05 07:03");
    EXPECT_EQ(ClockTicker::formatClock(QDateTime(QDate(999, 12, 31), QTime(23, 59))), "0999/12/31 23:59");
}

TEST(ClockTicker, TicksEveryTwoSecondsAndDeliversTheAddress)
{
    ManualClock clock(QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)));
    ClockTicker ticker(clock, [] { return QStringLiteral("198.18.0.2"); });
    QSignalSpy clockSpy(&ticker, &ClockTicker::clockText);
    QSignalSpy addrSpy(&ticker, &ClockTicker::localAddress);

    ticker.start();
    clock.advance(1999);
    EXPECT_EQ(clockSpy.count(), 0);
    clock.advance(1);
    ASSERT_EQ(clockSpy.count(), 1);
    EXPECT_EQ(clockSpy.at(0).at(0).toString(), "2026/12/07 09:30");
    // The address arrives later, by a queued call on this thread.
    EXPECT_EQ(addrSpy.count(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return addrSpy.count() == 1; }, 5000));
    EXPECT_EQ(addrSpy.at(0).at(0).toString(), "198.18.0.2");

    clock.advance(58000); // 29 more ticks; the minute changes
    EXPECT_EQ(clockSpy.count(), 30);
    EXPECT_EQ(clockSpy.last().at(0).toString(), "2026/12/07 09:31");

    ticker.stop();
    clock.advance(10000);
    EXPECT_EQ(clockSpy.count(), 30);
    EXPECT_EQ(clock.pendingTimers(), 0);
}

TEST(ClockTicker, SlowLookupNeverPilesUp)
{
    ManualClock clock;
    GatedLookup gate;
    ClockTicker ticker(clock, gate.fn());
    QSignalSpy clockSpy(&ticker, &ClockTicker::clockText);
    QSignalSpy addrSpy(&ticker, &ClockTicker::localAddress);

    ticker.tickNow();
    ticker.start();
    for (int i = 0; i < 5; ++i) {
        clock.advance(2000);
        QCoreApplication::processEvents();
    }
    // The clock kept ticking while the one look-up hangs.
    EXPECT_EQ(clockSpy.count(), 6);
    EXPECT_TRUE(ticker.lookupPending());
    ASSERT_TRUE(QTest::qWaitFor([&] { return gate.calls.load() >= 1; }, 5000));
    QTest::qWait(20);
    EXPECT_EQ(gate.calls.load(), 1);
    EXPECT_EQ(addrSpy.count(), 0);

    gate.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return addrSpy.count() == 1; }, 5000));
    EXPECT_FALSE(ticker.lookupPending());
    clock.advance(2000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return addrSpy.count() == 2; }, 5000));
    EXPECT_EQ(gate.calls.load(), 2);
    EXPECT_EQ(gate.maxRunning.load(), 1);
}

TEST(ClockTicker, FailuresKeepOrClearTheAddressAsTheyShould)
{
    ManualClock clock;
    int call = 0;
    std::mutex m;
    ClockTicker ticker(clock, [&]() -> QString {
        std::lock_guard lock(m);
        if (++call == 1)
            return {}; // the name does not resolve: the panel is emptied
        throw std::runtime_error("resolver broke"); // swallowed: the panel keeps its text
    });
    QSignalSpy addrSpy(&ticker, &ClockTicker::localAddress);

    ticker.tickNow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return addrSpy.count() == 1; }, 5000));
    EXPECT_EQ(addrSpy.at(0).at(0).toString(), QString());

    ticker.tickNow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ticker.lookupPending(); }, 5000));
    EXPECT_EQ(addrSpy.count(), 1);
}

TEST(ClockTicker, DestroyedWhileALookupRuns)
{
    GatedLookup gate;
    ManualClock clock;
    {
        ClockTicker ticker(clock, gate.fn());
        ticker.tickNow();
        ASSERT_TRUE(QTest::qWaitFor([&] { return gate.calls.load() == 1; }, 5000));
    }
    // The worker finishes after its ticker is gone and posts nothing: no
    // queued call reaches anything once it has returned.
    struct MetaCallCounter : QObject {
        int calls = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::MetaCall)
                ++calls;
            return false;
        }
    } counter;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::instance()->installEventFilter(&counter);
    gate.release();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return LookupPool::shared().busy() == 0 && LookupPool::shared().queued() == 0; }, 5000));
    QCoreApplication::sendPostedEvents();
    QCoreApplication::instance()->removeEventFilter(&counter);
    EXPECT_EQ(counter.calls, 0);
}

// The machine's own address is the last one in the order the resolver gives
// (here /etc/hosts, in a mount and host-name namespace of a child process),
// not in the order getaddrinfo would sort them (loopback first).
TEST(LocalAddress, LastAddressInTheResolversOrder)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a private /etc/hosts";
    QTemporaryDir dir;
    const QByteArray hosts = QFile::encodeName(dir.filePath("hosts"));
    const QByteArray name(70, 'h'); // longer than 64 bytes: only 64 count
    QFile f(QString::fromLocal8Bit(hosts));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("198.18.0.7 " + name.left(64) + "\n198.18.0.9 " + name.left(64) + "\n127.0.0.9 " + name.left(64) + "\n");
    f.close();

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(out[0]);
        if (::unshare(CLONE_NEWNS | CLONE_NEWUTS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount(hosts.constData(), "/etc/hosts", nullptr, MS_BIND, nullptr) != 0
            || ::sethostname(name.constData(), 64) != 0)
            ::_exit(2);
        const QByteArray got = LookupLocalIPv4Address().toLatin1();
        const bool written = ::write(out[1], got.constData(), size_t(got.size())) == got.size();
        ::_exit(written ? 0 : 3);
    }
    ::close(out[1]);
    char buf[64] = {};
    const ssize_t n = ::read(out[0], buf, sizeof buf - 1);
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "no mount namespace here";
    EXPECT_EQ(QByteArray(buf, n > 0 ? int(n) : 0), QByteArray("127.0.0.9"));
}
