#include "run/RunController.h"

#include "base/Clock.h"
#include "base/Texts.h"
#include "monitor/AlertResets.h"
#include "run/ReplyEvaluation.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <stdexcept>
#include <exception>

namespace tarvok {

namespace {
constexpr qint64 MsPerMinute = 60000;
// The allocation hint of a run never asks for more than this many new rows.
constexpr qint64 MaxReserveRows = 1'000'000;

int clampTo(int value, int lo, int hi)
{
    return std::clamp(value, lo, hi);
}
} // namespace

RunController::RunController(TKtICMP& engine, RunView& view, RunHooks* hooks, const Preferences& prefs,
                             Clock& clock, QObject* parent)
    : QObject(parent), engine_(engine), view_(view), hooks_(hooks), prefs_(prefs), clock_(clock)
{
    if (!hooks_) {
        defaultHooks_ = std::make_unique<RunHooks>();
        hooks_ = defaultHooks_.get();
    }
    connect(&engine_, &TKtICMP::OnReply, this, &RunController::KtICMP1Reply);
    connect(&engine_, &TKtICMP::Finished, this, &RunController::onEngineFinished);
    connect(&engine_, &TKtICMP::OnEcho, this, &RunController::KtICMP1Echo);
}

RunController::~RunController() = default;

void RunController::failRunUnexpected()
{
    failRun(texts::UnexpectedError());
}

void RunController::post(void (RunController::*step)())
{
    const quint64 gen = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, gen, step] {
            if (gen != generation_)
                return; // the run this step belonged to has ended
            guarded([&] { (this->*step)(); });
        },
        Qt::QueuedConnection);
}

// --- Commands ------------------------------------------------------------

void RunController::mnuPingClick()
{
    // The engine is idle during the waiting phase of a periodic run: the run's
    // own busy flag keeps a second run from starting then.
    if (engine_.Busy() || busy_)
        return;
    ParseTargetList(view_.targetLines(), targets_);
    BuildRunSchedule();
    if (schedule_.isEmpty()) {
        view_.setStatusText(texts::NoTargetAddress());
        view_.showTab(MainTab::Memo);
        emit commandModeCleared();
        return;
    }
    ExecutePingRun();
}

void RunController::BuildRunSchedule()
{
    schedule_.build(targets_, view_.orderTermToCycle(), [this] { return view_.pingCount(); });
}

void RunController::ExecutePingRun()
{
    if (busy_ || engine_.Busy() || schedule_.isEmpty())
        return;
    SetBusy(true);
    running_ = true;
    phase_ = Phase::Between;
    ++generation_;
    guarded([this] {
        view_.setBusyCursor(true);
        view_.setStatusText(QString());
        view_.setIdleControls(false);
        RebuildStatistics();
        view_.showTab(MainTab::PingReport);

        // Values typed but not confirmed are read as typed; the engine gets
        // them brought into the fields' ranges.
        engine_.ResolveHostName = false;
        engine_.Timeout = clampTo(view_.timeOut(), 1, 100000);
        engine_.BlockSize = clampTo(view_.blockSize(), 1, 4096);
        engine_.TTL = static_cast<quint8>(clampTo(view_.timeToLive(), 1, 255));
        engine_.Delay = clampTo(view_.pingWait(), 0, 100000);
        engine_.DontFlagment = prefs_.DontFlagment;
        engine_.PreferIPv6 = prefs_.PreferIPv6;
        engine_.NumberOfPings = 1;
        maxInFlight_ = std::clamp(prefs_.MaxEchoesInFlight, 1, 1024);
        pingWait_ = engine_.Delay;
        if (maxInFlight_ > 1) {
            const size_t least = std::bit_ceil(static_cast<size_t>(maxInFlight_) * 2);
            if (ring_.size() < least)
                ring_.resize(least);
            targetWaiting_.assign(states_.size(), 0);
            targetFreeAt_.assign(states_.size(), std::numeric_limits<qint64>::min());
            paceReady_ = true;
            paceDueUs_ = -1;
        }

        hooks_->RunStarting();
        resultSortBlocked_ = prefs_.AutoDelete;
        statSortBlocked_ = true;
        view_.setBusyCursor(false);
        emit runStarted();
        notifyObservers([](EchoObserver& o) { o.runStarted(); });
        PingRunLoop();
    });
}

void RunController::mnuBreakClick()
{
    engine_.Cancel();
    break_ = true;
    view_.setStatusText(texts::RunEnded());
    emit commandModeCleared();
    view_.setIdleControls(true);
    if (running_ && (phase_ == Phase::WaitingPhase || phase_ == Phase::Stalled || phase_ == Phase::Streaming))
        post(&RunController::onBreakNoticed);
}

void RunController::StopForClose()
{
    break_ = true;
    engine_.HoldAnswers(false);
    // A stream sends nothing more; its waiting echoes end on their own.
    if (running_ && (phase_ == Phase::WaitingPhase || phase_ == Phase::Stalled
                     || (phase_ == Phase::Streaming && engine_.EchoesWaiting() == 0)))
        post(&RunController::onBreakNoticed);
}

void RunController::mnuClearClick()
{
    if (busy_)
        return;
    results_.clear();
    stats_.clear();
    history_.clear();
}

void RunController::ListView1ColumnClick(int column)
{
    if (resultSortBlocked_)
        return;
    const bool ascending = resultSort_.click(column);
    results_.sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void RunController::ListView2ColumnClick(int column)
{
    if (statSortBlocked_)
        return;
    const bool ascending = statSort_.click(column);
    stats_.sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

// --- The run ---------------------------------------------------------------

void RunController::PingRunLoop()
{
    break_ = false;
    qint64 hint = results_.rowCount() + schedule_.size();
    if (prefs_.AutoDelete)
        hint = std::min<qint64>(hint, std::max<qint64>(prefs_.AutoDeleteCount, 0) + 1);
    results_.reserve(std::min<qint64>(hint, results_.rowCount() + MaxReserveRows));
    startCycle();
}

void RunController::startCycle()
{
    entry_ = 0;
    if (maxInFlight_ > 1) {
        startStreamCycle();
        return;
    }
    nextEntry();
}

void RunController::nextEntry()
{
    if (break_ || entry_ >= schedule_.size()) {
        endCycle();
        return;
    }
    const ScheduleEntry e = schedule_.at(entry_);
    currentAddress_ = e.address;
    currentComment_ = e.comment;
    currentIndex_ = e.targetIndex;
    waiting_ = true;
    view_.setStatusText(PingingText(e.address));
    engine_.Address = e.address;
    phase_ = Phase::Sending;
    if (!engine_.Ping()) {
        // Only a foreign operation on the engine can refuse the echo.
        failRun(texts::EngineBusy());
    }
}

void RunController::onEngineFinished()
{
    if (!running_ || phase_ != Phase::Sending)
        return; // not our echo (a route trace, or a run already ended)
    if (waiting_ && !break_) {
        // The echo ended without a recorded reply: hold on until a break.
        phase_ = Phase::Stalled;
        return;
    }
    phase_ = Phase::Between;
    // The engine is idle and done with this echo: the next one starts from
    // here (its send still comes from the event loop).
    guarded([this] { afterEcho(); });
}

void RunController::onBreakNoticed()
{
    if (!running_)
        return;
    if (phase_ == Phase::WaitingPhase) {
        // The break command (or the close sequence) has already set the status
        // text and the idle state.
        waitTimer_.reset();
        finishRun();
    } else if (phase_ == Phase::Stalled) {
        phase_ = Phase::Between;
        afterEcho();
    } else if (phase_ == Phase::Streaming) {
        // The entry the run was waiting on has its statistics row refreshed,
        // as an interrupted echo has.
        if (judged_ < sent_)
            RefreshStatRow(ring_[static_cast<size_t>(judged_) & (ring_.size() - 1)].targetIndex);
        endStreamCycle();
    }
}

void RunController::afterEcho()
{
    waiting_ = false;
    RefreshStatRow(currentIndex_);
    ++entry_;
    nextEntry();
}

void RunController::endCycle()
{
    if (!break_)
        notifyObservers([](EchoObserver& o) { o.passEnded(); });
    if (break_ || !view_.periodic()) {
        view_.setStatusText(texts::RunEnded());
        view_.setIdleControls(true);
        finishRun();
        return;
    }
    phase_ = Phase::WaitingPhase;
    view_.setStatusText(QStringLiteral("定期実行待機中。"));
    const qint64 waitStart = clock_.monotonicMs();
    if (prefs_.ResetOKFlag)
        ResetOKFlags(states_, prefs_.OKCheckBefore);
    if (prefs_.ResetNGFlag)
        ResetNGFlags(states_);
    // 64-bit monotonic milliseconds: the deadline never wraps and never passes
    // early. A negative interval (typed, unconfirmed) waits not at all.
    deadline_ = waitStart + std::max<qint64>(view_.interval(), 0) * MsPerMinute;
    armWait();
}

void RunController::armWait()
{
    const qint64 remaining = deadline_ - clock_.monotonicMs();
    if (remaining <= 0) {
        waitTimer_.reset();
        post(&RunController::onWaitDue);
        return;
    }
    const quint64 gen = generation_;
    // The callback only posts the step: the timer handle is released outside
    // its own callback.
    waitTimer_ = clock_.singleShot(remaining, [this, gen] {
        if (gen == generation_)
            post(&RunController::onWaitDue);
    });
}

void RunController::onWaitDue()
{
    if (!running_ || phase_ != Phase::WaitingPhase)
        return;
    if (break_) {
        waitTimer_.reset();
        finishRun();
        return;
    }
    if (clock_.monotonicMs() < deadline_) {
        armWait();
        return;
    }
    waitTimer_.reset();
    phase_ = Phase::Between;
    startCycle();
}

void RunController::finishRun()
{
    const bool broken = break_;
    phase_ = Phase::Idle;
    running_ = false;
    waiting_ = false;
    waitTimer_.reset();
    paceTimer_.reset();
    targetTimer_.reset();
    paceReady_ = true;
    paceDueUs_ = -1;
    engine_.EndEchoes();
    ++generation_;
    try {
        hooks_->RunEnded();
    } catch (...) {
        // The run is over either way; the tray is the hooks' business.
    }
    notifyObservers([](EchoObserver& o) { o.runEnded(); });
    resultSortBlocked_ = false;
    statSortBlocked_ = false;
    SetBusy(false);
    emit runFinished(broken);
}

void RunController::failRun(const QString& message)
{
    if (!running_) {
        emit runError(message);
        return;
    }
    if (engine_.Busy())
        engine_.Cancel();
    break_ = true;
    try {
        view_.setBusyCursor(false);
        view_.setIdleControls(true);
    } catch (...) {
    }
    emit runError(message);
    finishRun();
}

// --- Reply evaluation ------------------------------------------------------

void RunController::KtICMP1Reply(int Status, const QString& IPAddress, quint32 RTT, quint8 TTL,
                                 const QString& HostName)
{
    (void)TTL, (void)HostName;
    if (break_)
        return;
    if (!running_ || phase_ != Phase::Sending)
        return;
    if (currentIndex_ < 0 || currentIndex_ >= static_cast<int>(states_.size()))
        return;
    guarded([&] {
        recordEcho(Status, IPAddress, RTT, clock_.monotonicMs(), Status == 0 ? engine_.LastRoundTripUs() : -1);
        waiting_ = false;
    });
}

void RunController::recordEcho(int Status, const QString& IPAddress, quint32 RTT, qint64 endedMs, qint64 rttUs)
{
    const qint64 ago = clock_.monotonicMs() - endedMs;
    const QDateTime now = ago > 0 ? clock_.localNow().addMSecs(-ago) : clock_.localNow();
    const QString dateTime = FormatDateTime(now);
    const Judgement j = JudgeReply(currentAddress_, Status, IPAddress, RTT, prefs_, &TKtICMP::StatusText);
    view_.setStatusText(j.statusBar);
    TargetState& state = states_[static_cast<size_t>(currentIndex_)];
    CountAttempt(state);
    if (j.isNG)
        ++ngEchoes_;
    results_.append(now, currentAddress_, currentComment_, Status, IPAddress, RTT, currentIndex_);
    hooks_->ApplyAlertRules(state, dateTime, currentAddress_, currentComment_, j.message, j.isNG);
    RecordJudgement(state, j, RTT, prefs_);
    history_.record(currentIndex_, endedMs, Status == 0, RTT);
    view_.resultAppended();
    hooks_->WriteLogLine(BuildLogLine(j.result, dateTime, currentAddress_, j.ipAddress, j.statusInfo,
                                      currentComment_));
    TrimResultList();
    if (!observers_.empty()) {
        JudgedEcho echo;
        echo.timeUs = now.toMSecsSinceEpoch() * 1000;
        echo.targetIndex = currentIndex_;
        echo.target = currentAddress_;
        echo.comment = currentComment_;
        echo.address = j.ipAddress;
        echo.status = Status;
        echo.statusText = TKtICMP::StatusText(Status);
        echo.rttUs = rttUs;
        echo.ng = j.isNG;
        echo.slow = j.slow;
        notifyObservers([&](EchoObserver& o) { o.echoJudged(echo); });
    }
}

void RunController::addEchoObserver(EchoObserver* observer)
{
    if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void RunController::removeEchoObserver(EchoObserver* observer)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

template <typename F>
void RunController::notifyObservers(F&& f)
{
    // Observers keep their own account beside the run: one that fails must
    // not end the run or keep the others from hearing of the echo.
    for (EchoObserver* o : observers_) {
        try {
            f(*o);
        } catch (...) {
        }
    }
}

void RunController::TrimResultList()
{
    if (!prefs_.AutoDelete)
        return;
    // The oldest rows go, also when the operator has sorted the list since.
    const int limit = std::max(prefs_.AutoDeleteCount, 0);
    if (results_.rowCount() > limit)
        results_.removeOldest(results_.rowCount() - limit);
}

// --- Statistics ------------------------------------------------------------

void RunController::RebuildStatistics()
{
    states_.assign(static_cast<size_t>(targets_.count()), TargetState{});
    stats_.rebuild(targets_.addresses(), targets_.comments());
    history_.reset(targets_.addresses(), targets_.comments(), clock_.localNow(), clock_.monotonicMs());
}

void RunController::RefreshStatRow(int targetIndex)
{
    if (targetIndex < 0 || targetIndex >= static_cast<int>(states_.size()))
        return;
    stats_.refresh(targetIndex, StatCounters::of(states_[static_cast<size_t>(targetIndex)]));
}

std::vector<int> RunController::SelectionFor(SelectAction action, const std::vector<int>& selectedTargets) const
{
    std::vector<bool> pick;
    switch (action) {
    case SelectAction::OKAddress: pick = SelectOKAddress(states_); break;
    case SelectAction::NGAddress: pick = SelectNGAddress(states_); break;
    case SelectAction::AllOKAddress: pick = SelectAllOKAddress(states_); break;
    case SelectAction::AllNGAddress: pick = SelectAllNGAddress(states_); break;
    case SelectAction::Reverse: {
        std::vector<bool> selected(states_.size());
        for (int t : selectedTargets)
            if (t >= 0 && t < static_cast<int>(selected.size()))
                selected[static_cast<size_t>(t)] = true;
        pick = ReverseSelect(selected);
        break;
    }
    }
    std::vector<int> out;
    for (size_t i = 0; i < pick.size(); ++i)
        if (pick[i] && stats_.rowOfTarget(static_cast<int>(i)) >= 0)
            out.push_back(static_cast<int>(i));
    return out;
}

} // namespace tarvok
