#include "run/TraceRunController.h"

#include "base/Texts.h"
#include "run/RunController.h"
#include "targets/TargetList.h"

#include <algorithm>
#include <exception>

namespace tarvok {

namespace {
const QString kRootText = QStringLiteral("TraceRoute");
} // namespace

QString TraceHopLine(int Status, int Hops, const QString& IPAddress, quint32 RTT, const QString& HostName,
                     bool resolveHostName)
{
    QString line = QStringLiteral("#%1 ").arg(Hops, 3, 10, QLatin1Char('0'));
    if (Status != 0)
        return line + TKtICMP::StatusText(Status);
    line += QString::number(RTT).rightJustified(7, QLatin1Char(' '));
    line += QStringLiteral("ms  ");
    if (resolveHostName) {
        line += HostName.isEmpty() ? IPAddress : HostName;
        line += QStringLiteral(" [") + IPAddress + QLatin1Char(']');
    } else {
        line += IPAddress;
    }
    return line;
}

TraceRunController::TraceRunController(TKtICMP& engine, RunController& run, RunView& view,
                                       const Preferences& prefs, QObject* parent)
    : QObject(parent), engine_(engine), run_(run), view_(view), prefs_(prefs)
{
    tree_.setObjectName(QStringLiteral("TraceTreeModel"));
    connect(&engine_, &TKtICMP::OnRoute, this, &TraceRunController::KtICMP1Route);
    connect(&engine_, &TKtICMP::Finished, this, &TraceRunController::onEngineFinished);
}

TraceRunController::~TraceRunController()
{
    if (Running()) {
        // Going away during a trace: the engine stops reporting to a gone
        // handler, and the shared busy flag does not stay set.
        engine_.Cancel();
        run_.SetBusy(false);
    }
}

void TraceRunController::post(void (TraceRunController::*step)())
{
    const quint64 gen = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, gen, step] {
            if (gen != generation_)
                return; // the run this step belonged to has ended
            try {
                (this->*step)();
            } catch (const std::exception& e) {
                failRun(QString::fromUtf8(e.what()));
            } catch (...) {
                failRun(texts::UnexpectedError());
            }
        },
        Qt::QueuedConnection);
}

// --- Commands ------------------------------------------------------------

void TraceRunController::mnuTraceRouteClick()
{
    if (engine_.Busy() || run_.Busy())
        return;
    BuildTraceTree();
    if (run_.targetList().isEmpty())
        return;
    RunTraceRoute();
}

void TraceRunController::BuildTraceTree()
{
    if (run_.Busy())
        return;
    ParseTargetList(view_.targetLines(), run_.targetList());
    BuildTraceSkeleton();
}

void TraceRunController::BuildTraceSkeleton()
{
    if (run_.Busy())
        return;
    tree_.build(kRootText, run_.targetList().addresses());
    emit expandRequested(tree_.rootIndex(), true);
}

void TraceRunController::ClearTree()
{
    if (run_.Busy())
        return;
    tree_.clear();
}

void TraceRunController::RunTraceRoute()
{
    if (Running() || run_.Busy() || engine_.Busy() || run_.targetList().isEmpty())
        return;
    // Hops are attached by position: the tree must hold exactly one target
    // node per entry, in list order.
    const QStringList addresses = run_.targetList().addresses();
    bool matches = tree_.hasRoot() && tree_.targetCount() == addresses.size();
    for (int i = 0; matches && i < addresses.size(); ++i)
        matches = tree_.targetText(i) == addresses.at(i) && tree_.hopCount(i) == 0;
    if (!matches)
        BuildTraceSkeleton();

    run_.SetBusy(true);
    phase_ = Phase::Between;
    addresses_ = addresses;
    traceIndex_ = -1;
    ++generation_;
    try {
        view_.setIdleControls(false);
        run_.SetBreakFlag(false);
        engine_.Timeout = std::clamp(view_.timeOut(), 1, 100000);
        engine_.TTL = static_cast<quint8>(std::clamp(view_.maxHops(), 1, 255));
        engine_.ResolveHostName = view_.resolveHostName();
        engine_.DontFlagment = prefs_.DontFlagment;
        engine_.PreferIPv6 = prefs_.PreferIPv6;
        engine_.RoutePause = PaceMs;
        view_.showTab(MainTab::TraceRoute);
        nextTarget();
    } catch (const std::exception& e) {
        failRun(QString::fromUtf8(e.what()));
    } catch (...) {
        failRun(texts::UnexpectedError());
    }
}

void TraceRunController::StopForClose()
{
    if (!Running())
        return;
    run_.SetBreakFlag(true);
    if (phase_ == Phase::Tracing)
        engine_.Cancel(); // Finished follows and ends the run
}

// --- The run ---------------------------------------------------------------

void TraceRunController::nextTarget()
{
    const int next = traceIndex_ + 1;
    if (run_.BreakFlag() || next >= addresses_.size()) {
        finishRun();
        return;
    }
    const QString& address = addresses_.at(next);
    engine_.Address = address;
    traceIndex_ = next;
    view_.setStatusText(QStringLiteral("TraceRoute to ") + address + QStringLiteral(" ..."));
    tree_.setTargetIcon(traceIndex_, TraceTreeModel::TargetTracingIcon);
    phase_ = Phase::Tracing;
    if (!engine_.Trace()) {
        // Only a foreign operation on the engine can refuse the trace.
        phase_ = Phase::Between;
        failRun(texts::EngineBusy());
    }
}

void TraceRunController::KtICMP1Route(int Status, quint8 Hops, const QString& IPAddress, quint32 RTT,
                                      const QString& HostName, bool Done)
{
    if (phase_ != Phase::Tracing || run_.BreakFlag())
        return;
    const QString line = TraceHopLine(Status, Hops, IPAddress, RTT, HostName, view_.resolveHostName());
    view_.setStatusText(line);
    tree_.appendHop(traceIndex_, line,
                    Status == 0 ? TraceTreeModel::HopAnsweredIcon : TraceTreeModel::HopFailedIcon);
    if (Hops == 1)
        emit expandRequested(tree_.targetIndex(traceIndex_), false);
    if (Done)
        tree_.setTargetIcon(traceIndex_, TraceTreeModel::TargetDoneIcon);
}

void TraceRunController::onEngineFinished()
{
    if (phase_ != Phase::Tracing)
        return; // not a trace of ours (an echo of the ping run)
    // After the last report, or after a break (the flag is set then and the
    // next step ends the run).
    phase_ = Phase::Between;
    post(&TraceRunController::nextTarget);
}

void TraceRunController::finishRun()
{
    const bool broken = run_.BreakFlag();
    phase_ = Phase::Idle;
    ++generation_;
    try {
        view_.setStatusText(texts::RunEnded());
        view_.setIdleControls(true);
    } catch (...) {
        // The run is over either way.
    }
    run_.SetBusy(false);
    emit runFinished(broken);
}

void TraceRunController::failRun(const QString& message)
{
    if (Running()) {
        if (phase_ == Phase::Tracing && engine_.Busy())
            engine_.Cancel();
        run_.SetBreakFlag(true);
        finishRun();
    }
    emit runError(message);
}

} // namespace tarvok
