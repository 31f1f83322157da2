#include "base/Clock.h"

#include <QSocketNotifier>
#include <QTimerEvent>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <sys/prctl.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>
#include <utility>

namespace tarvok {

namespace {

// The system clock's timers. Each thread keeps its timers in two queues,
// each with one alarm for the earliest deadline, so that starting and
// cancelling a timer (the engine does both for every echo) costs no timer of
// the event loop and no object of its own. Timers of one deadline fire in the
// order they were started; a timer started by a callback waits for the next
// turn of the event loop.
class DeadlineQueue : public QObject {
public:
    struct Entry {
        qint64 deadlineNs = 0;
        quint64 seq = 0;
        std::function<void()> fn;
        bool pending = false;
    };

    static qint64 nowNs()
    {
        timespec t {};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
    }

    void start(qint64 ns, Entry* entry)
    {
        entry->deadlineNs = nowNs() + std::max<qint64>(ns, 0);
        entry->seq = nextSeq_++;
        entry->pending = true;
        live_.push_back(entry);
        if (entry->deadlineNs < armedNs_) {
            armedNs_ = entry->deadlineNs;
            setAlarm(entry->deadlineNs);
        }
    }

    // The alarm stays set: when it rings with nothing due, it is set for the
    // next deadline.
    void stop(Entry* entry)
    {
        entry->pending = false;
        std::erase(live_, entry);
    }

protected:
    static constexpr qint64 kNever = std::numeric_limits<qint64>::max();

    // Rings (calls ring()) from the event loop at or after deadlineNs,
    // replacing the alarm set before.
    virtual void setAlarm(qint64 deadlineNs) = 0;

    void ring()
    {
        armedNs_ = kNever;
        const qint64 now = nowNs();
        const quint64 startedBefore = nextSeq_;
        for (;;) {
            // Callbacks may stop other timers: look again after each.
            Entry* due = nullptr;
            for (Entry* e : live_)
                if (e->deadlineNs <= now && e->seq < startedBefore &&
                    (!due || e->deadlineNs < due->deadlineNs || (e->deadlineNs == due->deadlineNs && e->seq < due->seq)))
                    due = e;
            if (!due)
                break;
            stop(due);
            // The callback may destroy the handle that owns the entry.
            auto fn = std::move(due->fn);
            fn();
        }
        qint64 next = kNever;
        for (const Entry* e : live_)
            next = std::min(next, e->deadlineNs);
        if (next < armedNs_) {
            armedNs_ = next;
            setAlarm(next);
        }
    }

    bool armed() const { return armedNs_ != kNever; }

private:
    qint64 armedNs_ = kNever;
    quint64 nextSeq_ = 0;
    std::vector<Entry*> live_; // a handful: the engine's, the pacer's, a run's wait
};

// Timers of 20 ms and more, and steps: the alarm is a timer of the event loop,
// which wakes on whole milliseconds.
class TimerHub final : public DeadlineQueue {
public:
    static TimerHub& ofThisThread()
    {
        thread_local TimerHub hub;
        return hub;
    }

protected:
    void setAlarm(qint64 deadlineNs) override
    {
        if (id_ != 0)
            killTimer(std::exchange(id_, 0));
        if (deadlineNs == kNever)
            return;
        const qint64 waitNs = std::max<qint64>(0, deadlineNs - nowNs());
        const qint64 ms = std::min<qint64>((waitNs + 999'999) / 1'000'000, std::numeric_limits<int>::max());
        id_ = startTimer(static_cast<int>(ms), Qt::PreciseTimer);
    }

    void timerEvent(QTimerEvent* event) override
    {
        if (event->timerId() != id_)
            return;
        killTimer(std::exchange(id_, 0));
        ring();
    }

private:
    int id_ = 0;
};

// Short timers (pauses between echoes): Qt's event loop sleeps whole
// milliseconds counted from when it goes to sleep, so a 1 ms pause started
// before an echo's handlers ran would end 1 ms after they had finished. The
// alarm here is a timerfd, set to the nanosecond and watched by the event
// loop.
class PreciseHub final : public DeadlineQueue {
public:
    // The thread's hub, or none where no timerfd can be had.
    static PreciseHub* ofThisThread()
    {
        thread_local std::unique_ptr<PreciseHub> hub = [] {
            const int fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
            return fd >= 0 ? std::unique_ptr<PreciseHub>(new PreciseHub(fd)) : nullptr;
        }();
        return hub.get();
    }

    ~PreciseHub() override
    {
        delete notifier_;
        ::close(fd_);
    }

protected:
    void setAlarm(qint64 deadlineNs) override
    {
        if (deadlineNs == kNever) {
            notifier_->setEnabled(false);
            return;
        }
        itimerspec when {};
        const qint64 at = std::max<qint64>(deadlineNs, 1); // zero would disarm
        when.it_value.tv_sec = at / 1'000'000'000;
        when.it_value.tv_nsec = at % 1'000'000'000;
        timerfd_settime(fd_, TFD_TIMER_ABSTIME, &when, nullptr); // also clears an expiry not yet read
        notifier_->setEnabled(true);
    }

private:
    explicit PreciseHub(int fd) : fd_(fd), notifier_(new QSocketNotifier(fd, QSocketNotifier::Read))
    {
        notifier_->setEnabled(false);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            // A timer started meanwhile set the alarm again, which clears the
            // expiry: the notifier stays on (turning it off and on costs the
            // event loop more than the ring). With nothing left it idles
            // until set again.
            ring();
            if (!armed())
                notifier_->setEnabled(false);
        });
    }

    int fd_;
    QSocketNotifier* notifier_;
};

// Below this a timer is short enough for a millisecond of rounding to matter.
constexpr qint64 kPreciseBelowNs = 20'000'000;
// Longer waits are cut to this (about 24 days), as the event loop's timers are.
constexpr qint64 kMaxMs = std::numeric_limits<int>::max();

class QueueTimerHandle final : public TimerHandle {
public:
    QueueTimerHandle(qint64 ns, std::function<void()> fn)
    {
        if (ns > 0 && ns < kPreciseBelowNs)
            queue_ = PreciseHub::ofThisThread();
        if (!queue_)
            queue_ = &TimerHub::ofThisThread();
        entry_.fn = std::move(fn);
        queue_->start(ns, &entry_);
    }
    ~QueueTimerHandle() override
    {
        if (entry_.pending)
            queue_->stop(&entry_);
    }

private:
    DeadlineQueue* queue_ = nullptr;
    DeadlineQueue::Entry entry_;
};

class PostedHandle final : public TimerHandle {
public:
    explicit PostedHandle(std::shared_ptr<bool> alive) : alive_(std::move(alive)) {}
    ~PostedHandle() override { *alive_ = false; }

private:
    std::shared_ptr<bool> alive_;
};

class SystemClock final : public Clock {
public:
    qint64 monotonicMs() const override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    qint64 monotonicUs() const override
    {
        using namespace std::chrono;
        return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    }
    QDateTime localNow() const override
    {
        // The local time with the zone's offset of this instant, from the C
        // library: QDateTime::currentDateTime() reads the zone file's status
        // on every call, and every judged echo asks for the time. A change of
        // the system's zone is picked up within a minute.
        // The offset changes only on whole seconds: each thread asks for it
        // once a second.
        timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        thread_local qint64 offsetSecond = std::numeric_limits<qint64>::min();
        thread_local int offset = 0;
        if (now.tv_sec != offsetSecond) {
            static std::atomic<qint64> zoneCheckedMinute { -1 };
            if (const qint64 minute = now.tv_sec / 60; zoneCheckedMinute.exchange(minute) != minute)
                tzset();
            tm local {};
            const time_t secs = now.tv_sec;
            if (!localtime_r(&secs, &local))
                return QDateTime::currentDateTime();
            offset = int(local.tm_gmtoff);
            offsetSecond = now.tv_sec;
        }
        return QDateTime::fromMSecsSinceEpoch(qint64(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000,
                                              Qt::OffsetFromUTC, offset);
    }
    std::unique_ptr<TimerHandle> singleShot(qint64 ms, std::function<void()> fn) override
    {
        return std::make_unique<QueueTimerHandle>(std::clamp<qint64>(ms, 0, kMaxMs) * 1'000'000, std::move(fn));
    }
    std::unique_ptr<TimerHandle> singleShotUs(qint64 us, std::function<void()> fn) override
    {
        return std::make_unique<QueueTimerHandle>(std::clamp<qint64>(us, 0, kMaxMs * 1000) * 1000, std::move(fn));
    }
    std::unique_ptr<TimerHandle> soon(std::function<void()> fn) override
    {
        return std::make_unique<QueueTimerHandle>(0, std::move(fn));
    }
};

} // namespace

std::unique_ptr<TimerHandle> Clock::singleShotUs(qint64 us, std::function<void()> fn)
{
    return singleShot((std::max<qint64>(us, 0) + 999) / 1000, std::move(fn));
}

std::unique_ptr<TimerHandle> Clock::soon(std::function<void()> fn)
{
    auto alive = std::make_shared<bool>(true);
    QMetaObject::invokeMethod(
        &TimerHub::ofThisThread(),
        [alive, fn = std::move(fn)] {
            if (!*alive)
                return;
            *alive = false;
            fn();
        },
        Qt::QueuedConnection);
    return std::make_unique<PostedHandle>(std::move(alive));
}

Clock& Clock::system()
{
    static SystemClock clock;
    return clock;
}

void Clock::usePreciseWakeups()
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

struct ManualClock::Entry {
    qint64 deadline;
    quint64 seq;
    std::function<void()> fn;
    bool live = true;
};

class ManualClock::Handle final : public TimerHandle {
public:
    explicit Handle(std::shared_ptr<Entry> e) : e_(std::move(e)) {}
    ~Handle() override { e_->live = false; }

private:
    std::shared_ptr<Entry> e_;
};

ManualClock::ManualClock(QDateTime start) : wallStart_(std::move(start)) {}
ManualClock::~ManualClock() = default;

std::unique_ptr<TimerHandle> ManualClock::singleShot(qint64 ms, std::function<void()> fn)
{
    auto e = std::make_shared<Entry>(Entry{now_ + std::max<qint64>(ms, 0), nextSeq_++, std::move(fn)});
    entries_.push_back(e);
    return std::make_unique<Handle>(e);
}

void ManualClock::advance(qint64 ms)
{
    const qint64 target = now_ + std::max<qint64>(ms, 0);
    for (;;) {
        std::erase_if(entries_, [](const auto& e) { return !e->live; });
        auto it = std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
            return a->deadline != b->deadline ? a->deadline < b->deadline : a->seq < b->seq;
        });
        if (it == entries_.end() || (*it)->deadline > target)
            break;
        auto e = *it;
        entries_.erase(it);
        now_ = std::max(now_, e->deadline);
        e->live = false;
        auto fn = std::move(e->fn);
        fn();
    }
    now_ = target;
}

int ManualClock::pendingTimers() const
{
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(), [](const auto& e) { return e->live; }));
}

qint64 ManualClock::nextDeadline() const
{
    qint64 best = -1;
    for (const auto& e : entries_)
        if (e->live && (best < 0 || e->deadline < best))
            best = e->deadline;
    return best;
}

} // namespace tarvok
