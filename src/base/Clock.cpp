#include "base/Clock.h"

#include <QTimer>
#include <algorithm>
#include <chrono>
#include <sys/prctl.h>

namespace tarvok {

namespace {

class QtTimerHandle final : public TimerHandle {
public:
    QtTimerHandle(qint64 ms, std::function<void()> fn) : fn_(std::move(fn))
    {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto f = fn_; // the callback may destroy this handle
            f();
        });
        timer_.start(static_cast<int>(std::clamp<qint64>(ms, 0, std::numeric_limits<int>::max())));
    }

private:
    QTimer timer_;
    std::function<void()> fn_;
};

class SystemClock final : public Clock {
public:
    qint64 monotonicMs() const override
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    }
    QDateTime localNow() const override { return QDateTime::currentDateTime(); }
    std::unique_ptr<TimerHandle> singleShot(qint64 ms, std::function<void()> fn) override
    {
        return std::make_unique<QtTimerHandle>(ms, std::move(fn));
    }
};

} // namespace

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
