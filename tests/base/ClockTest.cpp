#include "base/Clock.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

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
