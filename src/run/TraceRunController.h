#pragma once
// TraceRunController: the route trace command and its run. It traces the
// route to every target of the TargetList in turn with the engine's Trace
// and shows the hops in the trace tree (TraceTreeModel): one root, one node
// per target (row = target index), one node per hop report.
//
// It shares the run state of the ping run: the TargetList, and the busy and
// break flags of the RunController. So the ping command refuses to start
// during a trace, the trace command during a ping run, and the break command
// (RunController::mnuBreakClick: engine cancelled, break flag, "終了しました。",
// idle state) ends a trace too.
//
// Binding (the main window does this):
//   - construct with the engine, the RunController, the window as RunView,
//     the Preferences record; the controller connects the engine's OnRoute to
//     KtICMP1Route and its Finished itself. The break command needs nothing
//     more: it cancels the engine (the trace ends with Finished) and sets the
//     break flag (a next target does not start);
//   - mnuTraceRoute / btnTraceRoute (F6) -> mnuTraceRouteClick();
//   - TreeView1 shows treeModel(); expandRequested(index, recursive) ->
//     expand that node (and everything below it when recursive);
//   - the clear command -> ClearTree(); the close sequence -> StopForClose().
//
// A run never blocks: RunTraceRoute() starts it and returns; runFinished()
// follows. Its steps, in this order:
//   start: busy flag set, SetIdleControls(false), break flag cleared, engine
//     configured (Timeout, TTL := MaxHops, ResolveHostName, DontFlagment, and
//     a pause of PaceMs after each hop report), tab "TraceRoute";
//   per target, first to last, while the break flag is clear:
//     "TraceRoute to <address> ..." in the status bar, the target's node
//     icon 9, the engine's Trace; per hop report (KtICMP1Route): the hop line
//     in the status bar, the hop node appended, the target's node expanded at
//     hop 1, and with Done icon 0; the engine
//     then waits PaceMs (the window stays live) before its next probe or its
//     end; the next target starts when the engine has finished;
//   end (last target, or a break): "終了しました。", SetIdleControls(true),
//     busy flag cleared, runFinished(). A broken target keeps icon 9, later
//     ones keep icon 8.
//
// Of the run parameters a trace reads only TimeOut, MaxHops and
// ResolveHostName (and the DontFlagment preference); the ping run sets the
// engine again for itself.

#include "icmp/KtIcmp.h"
#include "run/RunView.h"
#include "run/TraceTreeModel.h"
#include "store/Preferences.h"

#include <QObject>
#include <QStringList>

namespace tarvok {

class RunController;

// The text of one hop report in the tree and the status bar: "#" and the hop
// number zero-padded to three digits and a blank; then either the status
// text of a failed hop, or the round-trip time right-aligned in seven
// characters, "ms  ", and the host name (the address when there is none)
// with the address in brackets when names are resolved, the address alone
// when not.
QString TraceHopLine(int Status, int Hops, const QString& IPAddress, quint32 RTT, const QString& HostName,
                     bool resolveHostName);

class TraceRunController : public QObject {
    Q_OBJECT
public:
    // The pause after each hop report before the trace goes on.
    static constexpr int PaceMs = 500;

    // All references must outlive the controller.
    TraceRunController(TKtICMP& engine, RunController& run, RunView& view, const Preferences& prefs,
                       QObject* parent = nullptr);
    ~TraceRunController() override;

    // --- Commands -------------------------------------------------------
    // The trace command: nothing while the engine or a run is busy; otherwise
    // BuildTraceTree, and RunTraceRoute unless the TargetList is empty (then
    // the tree shows only its root; status bar and tab stay as they are).
    void mnuTraceRouteClick();
    // Parses the editor into the TargetList and builds the tree skeleton.
    void BuildTraceTree();
    // The tree skeleton of the current TargetList, without parsing the
    // editor (runs over a chosen subset of targets fill the TargetList
    // themselves): the root "TraceRoute" and one waiting node per target,
    // the root expanded. Not while a run is busy.
    void BuildTraceSkeleton();
    // Traces every target of the TargetList into the skeleton. Does nothing
    // while the engine or a run is busy or when the TargetList is empty; a
    // skeleton that does not match the TargetList is built afresh first.
    void RunTraceRoute();
    // The close sequence: the trace ends now (the hop in flight is
    // abandoned), nothing more is shown.
    void StopForClose();
    // The clear command: the tree is emptied (not while a run is busy).
    void ClearTree();

    // --- Engine events (connected by the constructor) --------------------
    void KtICMP1Route(int Status, quint8 Hops, const QString& IPAddress, quint32 RTT, const QString& HostName,
                      bool Done);

    // --- State -----------------------------------------------------------
    // A trace run of this controller is in progress.
    bool Running() const { return phase_ != Phase::Idle; }
    TraceTreeModel& treeModel() { return tree_; }
    const TraceTreeModel& treeModel() const { return tree_; }
    // The tree has nodes (the trace report has something to save).
    bool HasTree() const { return tree_.rowCount() > 0; }

signals:
    void expandRequested(const QModelIndex& index, bool recursive);
    // The run has ended; broken: by the break command or the close sequence.
    void runFinished(bool broken);
    // A failure ended the run; the window reports the message.
    void runError(const QString& message);

private:
    enum class Phase { Idle, Tracing, Between };

    void nextTarget();
    void onEngineFinished();
    void finishRun();
    void failRun(const QString& message);
    void post(void (TraceRunController::*step)());

    TKtICMP& engine_;
    RunController& run_;
    RunView& view_;
    const Preferences& prefs_;
    TraceTreeModel tree_;

    Phase phase_ = Phase::Idle;
    QStringList addresses_; // the targets of the run in progress
    int traceIndex_ = -1; // position in the TargetList of the target being traced
    quint64 generation_ = 0; // invalidates queued steps of an ended run
};

} // namespace tarvok
