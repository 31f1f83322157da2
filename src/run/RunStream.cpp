#include "run/RunController.h"

#include "base/Clock.h"
#include "base/Texts.h"
#include "run/ReplyEvaluation.h"

#include <stdexcept>

// The echo stream: with MaxEchoesInFlight above 1, a cycle keeps up to that many
// echoes waiting at once. Echoes go out in the schedule's order, paced by
// PingWait, never two at once to one target; their ends come back in any
// order and are judged in the order they were sent.

namespace tarvok {

void RunController::startStreamCycle()
{
    phase_ = Phase::Streaming;
    sent_ = 0;
    judged_ = 0;
    if (!engine_.BeginEchoes(maxInFlight_)) {
        failRun(texts::EngineBusy());
        return;
    }
    pumpStream();
}

void RunController::growStreamRing()
{
    std::vector<StreamEcho> bigger(ring_.size() * 2);
    const size_t oldMask = ring_.size() - 1;
    const size_t newMask = bigger.size() - 1;
    for (qint64 k = judged_; k < sent_; ++k)
        bigger[static_cast<size_t>(k) & newMask] = std::move(ring_[static_cast<size_t>(k) & oldMask]);
    ring_.swap(bigger);
}

// Up to this PingWait the stream's answers are read at its steps, not as
// they arrive: one wake-up per send instead of two, and an answer waits at
// most one PingWait to be judged. Its round trip is the kernel's arrival
// stamp, but on some routed paths the kernel stamps a packet only when it is
// read: the wait is kept as short as a busy event loop's own delay.
constexpr int kReadAnswersAtStepsUpToMs = 1;

void RunController::pumpStream()
{
    sendStream();
    // Held only while the next step is due: a stream that waits for a free
    // place, a target or its last echoes is woken by the answers.
    engine_.HoldAnswers(running_ && phase_ == Phase::Streaming && !break_ && !paceReady_
                        && pingWait_ <= kReadAnswersAtStepsUpToMs);
}

void RunController::sendStream()
{
    while (running_ && phase_ == Phase::Streaming && !break_ && sent_ < schedule_.size()) {
        if (!paceReady_ || engine_.EchoesWaiting() >= maxInFlight_)
            return; // the pause's timer or an ending echo comes back here
        const int t = schedule_.targetIndexAt(sent_);
        if (t < 0 || t >= static_cast<int>(targetWaiting_.size()))
            throw std::runtime_error("schedule entry without a target");
        if (targetWaiting_[static_cast<size_t>(t)])
            return; // its echo's end comes back here
        const qint64 now = clock_.monotonicMs();
        const qint64 freeAt = targetFreeAt_[static_cast<size_t>(t)];
        if (now < freeAt) {
            const quint64 gen = generation_;
            targetTimer_ = clock_.singleShot(freeAt - now, [this, gen] {
                if (gen == generation_)
                    guarded([this] { pumpStream(); });
            });
            return;
        }
        if (static_cast<size_t>(sent_ - judged_) >= ring_.size())
            growStreamRing();
        const qint64 k = sent_;
        const ScheduleEntry e = schedule_.at(k);
        StreamEcho& echo = ring_[static_cast<size_t>(k) & (ring_.size() - 1)];
        echo.ended = false;
        echo.targetIndex = t;
        targetWaiting_[static_cast<size_t>(t)] = 1;
        currentAddress_ = e.address;
        currentComment_ = e.comment;
        currentIndex_ = t;
        waiting_ = true;
        view_.setStatusText(PingingText(e.address));
        ++sent_;
        if (!engine_.Echo(k, e.address)) {
            failRun(texts::EngineBusy());
            return;
        }
        if (pingWait_ > 0) {
            // Sends keep to a grid of PingWait steps: a wake-up that came a
            // little late (timers do, by tens of microseconds) is made up by
            // the next step, so a long run keeps one send per PingWait. A send
            // that waited a whole step or more (for a free slot, for its
            // target) starts the grid afresh: nothing is ever sent in a burst.
            const qint64 stepUs = qint64(pingWait_) * 1000;
            const qint64 nowUs = clock_.monotonicUs();
            paceDueUs_ = paceDueUs_ >= 0 && nowUs - paceDueUs_ < stepUs ? paceDueUs_ + stepUs : nowUs + stepUs;
            paceReady_ = false;
            const quint64 gen = generation_;
            paceTimer_ = clock_.singleShotUs(paceDueUs_ - nowUs, [this, gen] {
                paceReady_ = true;
                if (gen == generation_)
                    guarded([this] {
                        engine_.ReadAnswers(); // their handlers may send already
                        pumpStream();
                    });
            });
        }
    }
}

void RunController::KtICMP1Echo(qint64 Tag, int Status, const QString& IPAddress, quint32 RTT, quint8 TTL)
{
    (void)TTL;
    if (!running_ || phase_ != Phase::Streaming || Tag < judged_ || Tag >= sent_)
        return;
    guarded([&] {
        const qint64 now = clock_.monotonicMs();
        StreamEcho& echo = ring_[static_cast<size_t>(Tag) & (ring_.size() - 1)];
        echo.ended = true;
        echo.status = Status;
        echo.ipAddress = IPAddress;
        echo.rtt = RTT;
        echo.rttUs = Status == 0 ? engine_.LastRoundTripUs() : -1;
        echo.endedMs = now;
        const auto t = static_cast<size_t>(echo.targetIndex);
        targetWaiting_[t] = 0;
        targetFreeAt_[t] = now + pingWait_;
        waiting_ = engine_.EchoesWaiting() > 0;
        if (break_) {
            // The close sequence: nothing more is recorded; the run ends when
            // the last waiting echo has.
            if (engine_.EchoesWaiting() == 0)
                post(&RunController::onBreakNoticed);
            return;
        }
        judgeStream();
        if (running_ && phase_ == Phase::Streaming && !break_) {
            if (judged_ == schedule_.size())
                endStreamCycle();
            else
                pumpStream();
        }
    });
}

void RunController::judgeStream()
{
    const size_t mask = ring_.size() - 1;
    // The log lines of the echoes judged in one go are written together.
    // Released at the end, where a failed write may throw like any other;
    // an exception out of the judging lets them go without a second one.
    struct LogHold {
        RunHooks* hooks;
        bool held = true;
        explicit LogHold(RunHooks* h) : hooks(h) { hooks->HoldLogLines(true); }
        void release()
        {
            held = false;
            hooks->HoldLogLines(false);
        }
        ~LogHold()
        {
            if (!held)
                return;
            try {
                hooks->HoldLogLines(false);
            } catch (...) {
            }
        }
    } hold(hooks_);
    while (judged_ < sent_ && running_ && !break_) {
        StreamEcho& echo = ring_[static_cast<size_t>(judged_) & mask];
        if (!echo.ended)
            break;
        const ScheduleEntry e = schedule_.at(judged_);
        currentAddress_ = e.address;
        currentComment_ = e.comment;
        currentIndex_ = e.targetIndex;
        ++judged_;
        recordEcho(echo.status, echo.ipAddress, echo.rtt, echo.endedMs, echo.rttUs);
        RefreshStatRow(currentIndex_);
    }
    hold.release();
}

void RunController::endStreamCycle()
{
    // The pause after the cycle's last send still runs: a next cycle that
    // follows at once keeps PingWait after it.
    targetTimer_.reset();
    engine_.EndEchoes();
    waiting_ = false;
    phase_ = Phase::Between;
    endCycle();
}

} // namespace tarvok
