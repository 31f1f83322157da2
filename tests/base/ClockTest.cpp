#include "base/Clock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTest>
#include <gtest/gtest.h>
#include <chrono>
#include <memory>
#include <thread>

using namespace tarvok;

// The system clock's timers and steps, on the real event loop.
TEST(SystemClock, TimersFireOnceAndNeverAfterTheirHandleIsGone)
{
    Clock& clock = Clock::system();
    int fired = 0, cancelled = 0, chained = 0, steps = 0;
    std::unique_ptr<TimerHandle> self;
    std::unique_ptr<TimerHandle> next;
    auto once = clock.singleShot(5, [&] { ++fired; });
    auto gone = clock.singleShot(5, [&] { ++cancelled; });
    gone.reset();
    // A callback that drops its own handle and starts the next timer.
    self = clock.singleShot(1, [&] {
        self.reset();
        next = clock.singleShot(1, [&] { ++chained; });
    });
    auto step = clock.soon([&] { ++steps; });
    EXPECT_EQ(steps, 0) << "never from inside soon()";
    auto dropped = clock.soon([&] { ++cancelled; });
    dropped.reset();

    EXPECT_TRUE(QTest::qWaitFor([&] { return fired == 1 && chained == 1 && steps == 1; }, 2000));
    QTest::qWait(20);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(chained, 1);
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(cancelled, 0);
}

// Short timers wake on their own deadline; those due together fire in the
// order they were started, and one may cancel another that is due too.
TEST(SystemClock, DueTimersFireInOrderAndMayCancelEachOther)
{
    Clock& clock = Clock::system();
    QString order;
    std::unique_ptr<TimerHandle> a, b, c, late, soon, zero;
    // Created in the order of their deadlines, so that however long each
    // creation takes on a busy machine, the deadlines keep that order.
    soon = clock.singleShot(1, [&] {
        order += u's';
        // Started by a callback: it waits for a turn of its own.
        zero = clock.singleShot(0, [&] { order += u'0'; });
    });
    a = clock.singleShot(2, [&] {
        order += u'a';
        c.reset();
    });
    b = clock.singleShot(2, [&] { order += u'b'; });
    c = clock.singleShot(2, [&] { order += u'c'; });
    late = clock.singleShot(30, [&] { order += u'L'; });
    std::this_thread::sleep_for(std::chrono::milliseconds(5)); // busy past all the short deadlines
    EXPECT_TRUE(QTest::qWaitFor([&] { return order.contains(u'L') && order.contains(u'0'); }, 5000));
    // The late timer comes after every shorter one; whether the zero-time
    // timer's own turn comes before it depends on how busy the machine is.
    EXPECT_GT(order.indexOf(u'L'), order.indexOf(u'b'));
    EXPECT_EQ(QString(order).remove(u'L'), u"sab0");
}

TEST(SystemClock, LocalTimeReadsAsTheLocalClock)
{
    const QDateTime before = QDateTime::currentDateTime();
    const QDateTime now = Clock::system().localNow();
    const QDateTime after = QDateTime::currentDateTime();
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
    // Its fields are the local clock's: taken as local time, the same instant.
    const QDateTime fields(now.date(), now.time());
    EXPECT_GE(fields, before);
    EXPECT_LE(fields, after);
}

TEST(ManualClock, StepsRunWithThePostedEventsWhateverTheTime)
{
    ManualClock clock;
    int steps = 0;
    auto step = clock.soon([&] { ++steps; });
    auto dropped = clock.soon([&] { ++steps; });
    dropped.reset();
    EXPECT_EQ(steps, 0);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(steps, 1);
}
