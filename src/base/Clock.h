#pragma once
// Time source of the program. Everything that waits, times out or stamps a
// result takes its time from a Clock, so that tests can run minutes of
// program time in milliseconds with a ManualClock.

#include <QDateTime>
#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace tarvok {

// A pending one-shot timer; destroying the handle cancels it.
class TimerHandle {
public:
    virtual ~TimerHandle() = default;
};

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds on a monotonic scale (never jumps, 64 bits: never wraps).
    virtual qint64 monotonicMs() const = 0;
    // The same scale in microseconds (a clock that keeps whole milliseconds
    // gives those).
    virtual qint64 monotonicUs() const { return monotonicMs() * 1000; }
    // Local wall-clock time, for the texts shown and logged: date() and
    // time() read as the local clock (the value may carry the zone's offset
    // from UTC rather than the zone itself).
    virtual QDateTime localNow() const = 0;
    // Runs fn once, about ms milliseconds from now, on the calling thread's
    // event loop. The callback never runs after the handle is destroyed.
    [[nodiscard]] virtual std::unique_ptr<TimerHandle> singleShot(qint64 ms, std::function<void()> fn) = 0;
    // As singleShot, in microseconds; a clock that keeps whole milliseconds
    // rounds up to them.
    [[nodiscard]] virtual std::unique_ptr<TimerHandle> singleShotUs(qint64 us, std::function<void()> fn);
    // Runs fn once from the calling thread's event loop, as soon as it gets
    // there; never from inside this call. The callback never runs after the
    // handle is destroyed. (The system clock takes a zero-time timer: no
    // event is posted, no wake-up written. A ManualClock posts it, so that it
    // runs with the posted events, whatever the clock's time.)
    [[nodiscard]] virtual std::unique_ptr<TimerHandle> soon(std::function<void()> fn);

    // The real clock (steady clock, QTimer on the event loop).
    static Clock& system();
    // Lets the calling thread's timers wake on time instead of up to 50 us
    // late (the kernel's default timer slack), so that a run of short pauses
    // (PingWait 1 ms) is not stretched. Called once by the user-interface
    // thread.
    static void usePreciseWakeups();
};

// A clock for tests: time stands still until advance() moves it; due timers
// fire in deadline order (timers started by a firing callback fire too when
// their deadline is within the advanced span).
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)));
    ~ManualClock() override;
    qint64 monotonicMs() const override { return now_; }
    QDateTime localNow() const override { return wallStart_.addMSecs(now_); }
    std::unique_ptr<TimerHandle> singleShot(qint64 ms, std::function<void()> fn) override;

    void advance(qint64 ms);
    // Number of timers waiting.
    int pendingTimers() const;
    // Deadline of the next timer, or -1 when none waits.
    qint64 nextDeadline() const;

private:
    struct Entry;
    class Handle;
    qint64 now_ = 0;
    QDateTime wallStart_;
    quint64 nextSeq_ = 0;
    std::vector<std::shared_ptr<Entry>> entries_;
};

} // namespace tarvok
