#pragma once
// RunController: the ping command and its run. It owns the TargetList, the run
// schedule, the per-target state, the result and statistics models and the
// run state (busy, break and waiting flags, current target), and drives the
// engine one echo at a time on the event loop.
//
// Binding (the main window does this):
//   - construct with the engine, the window as RunView, the RunHooks, the
//     Preferences record and the clock; the controller connects the engine's
//     OnReply to KtICMP1Reply and Finished to its own step function itself;
//   - mnuPing / btnPing / pmnPing -> mnuPingClick(); mnuBreak / btnBreak /
//     pmnBreak -> mnuBreakClick(); mnuClear / btnClear -> mnuClearClick() (the
//     window also clears its trace tree and disables the save items);
//   - ListView1 shows resultModel(), ListView2 shows statModel(); their header
//     clicks -> ListView1ColumnClick(section) / ListView2ColumnClick(section)
//     (do not enable the views' own sorting);
//   - the close sequence calls StopForClose() (break flag only; the echo in
//     flight completes, and the run ends after it);
//   - the 統計 menu: ToukeiMenuEnabling(Busy(), statModel().rowCount(),
//     selected rows) and SelectionFor(action, selected targets) -> the target
//     indices to select; map them to rows with statModel().rowOfTarget().
//
// A run never blocks: mnuPingClick() starts it and returns; the run ends
// later with runFinished(). Every step of a run happens in this order:
// preparation (busy cursor, empty status, SetIdleControls(false), statistics
// rebuilt, tab "Ping 結果", engine configured, RunHooks::RunStarting, sorting
// blocked), then per schedule entry: "ping to <address> ..." in the status
// bar, one echo, its reply (KtICMP1Reply), the engine's pause, the target's
// statistics row refreshed; after a cycle "終了しました。" and
// SetIdleControls(true), or with periodic execution the waiting phase
// ("定期実行待機中。", the resets, Interval minutes) and the next cycle.
//
// With MaxEchoesInFlight N above 1 a cycle runs the engine's echo stream
// instead: entry k goes out ("ping to <address> ..." in the status bar) once
// PingWait has passed since entry k-1 went out, fewer than N echoes wait, no
// echo of its target waits, and PingWait has passed since its target's
// previous echo ended. Echoes end in any order, each after its own TimeOut at
// the latest; an ended echo is judged (reply handler, statistics row) once
// every earlier entry has been judged, so rows, logs, statistics and alerts
// come in schedule order, with the time the echo ended. A break abandons every
// waiting echo at once; the close sequence sends nothing more and lets the
// waiting echoes end. The cycle ends when every entry has been judged.

#include "icmp/KtIcmp.h"
#include "monitor/LatencyHistory.h"
#include "monitor/Statistics.h"
#include "monitor/StatModel.h"
#include "monitor/TargetState.h"
#include "run/ResultModel.h"
#include "run/EchoObserver.h"
#include "run/RunSchedule.h"
#include "run/RunView.h"
#include "store/Preferences.h"
#include "targets/TargetList.h"

#include <QObject>
#include <exception>
#include <memory>
#include <vector>

namespace tarvok {

class Clock;
class TimerHandle;

class RunController : public QObject {
    Q_OBJECT
public:
    // hooks may be null (no alerts, no log). All references must outlive the
    // controller.
    RunController(TKtICMP& engine, RunView& view, RunHooks* hooks, const Preferences& prefs, Clock& clock,
                  QObject* parent = nullptr);
    ~RunController() override;

    // --- Commands -------------------------------------------------------
    // The ping command: parses the editor lines into the TargetList, builds the
    // schedule and starts a run. Does nothing while the engine or a run is
    // busy. With no target: "対象アドレスが１件もありません。", tab 対象,
    // commandModeCleared(), no run.
    void mnuPingClick();
    // Expands the TargetList into the schedule (PingCount and order read from
    // the view now). Also for runs that fill the TargetList themselves.
    void BuildRunSchedule();
    // Prepares and starts a run over the current schedule (not empty). Returns
    // once the run has started; runFinished() follows.
    void ExecutePingRun();
    // The break command: cancels the engine, sets the break flag,
    // "終了しました。", commandModeCleared(), SetIdleControls(true). A run ends
    // when its echo in flight has ended; a run in its waiting phase at once.
    void mnuBreakClick();
    // The close sequence during a run: sets the break flag only (the echo in
    // flight and its pause complete, its reply is not recorded).
    void StopForClose();
    // Empties the result and statistics lists (not while a run is busy). The
    // TargetState records stay.
    void mnuClearClick();
    // Header clicks. Ignored while sorting of that list is blocked by a run.
    void ListView1ColumnClick(int column);
    void ListView2ColumnClick(int column);

    // --- Engine events (connected by the constructor) --------------------
    void KtICMP1Reply(int Status, const QString& IPAddress, quint32 RTT, quint8 TTL, const QString& HostName);
    // One echo of the stream (MaxEchoesInFlight above 1): Tag is its entry.
    void KtICMP1Echo(qint64 Tag, int Status, const QString& IPAddress, quint32 RTT, quint8 TTL);

    // --- Statistics ------------------------------------------------------
    // Fresh TargetState records and statistics rows for every target.
    void RebuildStatistics();
    // Rewrites the statistics row of one target from its TargetState.
    void RefreshStatRow(int targetIndex);

    enum class SelectAction { OKAddress, NGAddress, AllOKAddress, AllNGAddress, Reverse };
    // Target indices to select after a selection action; `selectedTargets` is
    // the current selection (used by Reverse only).
    std::vector<int> SelectionFor(SelectAction action, const std::vector<int>& selectedTargets) const;

    // --- State -----------------------------------------------------------
    // The busy flag: a ping run is in progress, waiting phases included (or
    // another kind of run has set it with SetBusy).
    bool Busy() const { return busy_; }
    bool BreakFlag() const { return break_; }
    bool Waiting() const { return waiting_; }
    // True between cycles of a periodic run.
    bool InWaitingPhase() const { return phase_ == Phase::WaitingPhase; }
    // Other kinds of runs (route traces) share the busy and break flags.
    void SetBusy(bool busy)
    {
        if (busy_ == busy)
            return;
        busy_ = busy;
        emit busyChanged(busy);
    }
    void SetBreakFlag(bool on) { break_ = on; }

    int CurrentIndex() const { return currentIndex_; }
    // Echoes judged ＮＧ since the controller was made, over all runs.
    int NgEchoes() const { return ngEchoes_; }

    // Header-click sorting is allowed now (the window may grey its headers).
    bool ResultSortAllowed() const { return !resultSortBlocked_; }
    bool StatSortAllowed() const { return !statSortBlocked_; }

    TargetList& targetList() { return targets_; }
    const TargetList& targetList() const { return targets_; }
    const RunSchedule& schedule() const { return schedule_; }
    const std::vector<TargetState>& targetStates() const { return states_; }
    std::vector<TargetState>& targetStates() { return states_; }
    ResultModel& resultModel() { return results_; }
    StatModel& statModel() { return stats_; }
    // Every judged echo of the current run, for the latency graph: begun
    // afresh with the statistics, emptied by mnuClearClick().
    const LatencyHistory& latencyHistory() const { return history_; }
    const ListSortMemory& resultSortMemory() const { return resultSort_; }

    // Listeners of the judged echoes (see EchoObserver.h); each must outlive
    // the controller or be removed first. Adding one twice has no effect.
    void addEchoObserver(EchoObserver* observer);
    void removeEchoObserver(EchoObserver* observer);
    const ListSortMemory& statSortMemory() const { return statSort_; }

signals:
    // commandMode (quit after the run) must be cleared: the run had no target,
    // or it was broken.
    void commandModeCleared();
    // A ping run has started (after its preparation).
    void runStarted();
    // A ping run has ended, however; broken: by the break command, the close
    // sequence or an error.
    void runFinished(bool broken);
    // A failure inside a run ended it; the window reports the message.
    void runError(const QString& message);
    // The busy flag was set or cleared (commands that are refused while busy
    // follow it).
    void busyChanged(bool busy);

private:
    enum class Phase { Idle, Between, Sending, Stalled, WaitingPhase, Streaming };

    void PingRunLoop();
    void startCycle();
    void nextEntry();
    void onEngineFinished();
    void onBreakNoticed();
    void afterEcho();
    void endCycle();
    void armWait();
    void onWaitDue();
    void finishRun();
    void failRun(const QString& message);
    void TrimResultList();
    // Judges an echo of the current target that ended at endedMs (monotonic).
    void recordEcho(int Status, const QString& IPAddress, quint32 RTT, qint64 endedMs, qint64 rttUs);
    // The echo stream of a cycle (MaxEchoesInFlight above 1).
    void startStreamCycle();
    void pumpStream();
    void sendStream();
    void judgeStream();
    void endStreamCycle();
    void growStreamRing();
    void post(void (RunController::*step)());
    template <typename F> void notifyObservers(F&& f);
    template <typename F> void guarded(F&& f);
    void failRunUnexpected(); // an exception that is no std::exception

    TKtICMP& engine_;
    RunView& view_;
    RunHooks* hooks_;
    std::unique_ptr<RunHooks> defaultHooks_;
    const Preferences& prefs_;
    Clock& clock_;

    TargetList targets_;
    RunSchedule schedule_;
    std::vector<TargetState> states_;
    ResultModel results_;
    StatModel stats_;
    LatencyHistory history_;
    ListSortMemory resultSort_;
    ListSortMemory statSort_;

    bool busy_ = false;
    bool break_ = false;
    bool waiting_ = false;
    bool resultSortBlocked_ = false;
    bool statSortBlocked_ = false;
    QString currentAddress_;
    QString currentComment_;
    int currentIndex_ = -1;
    int ngEchoes_ = 0;

    Phase phase_ = Phase::Idle;
    bool running_ = false; // a ping run of this controller is in progress
    qint64 entry_ = 0;
    qint64 deadline_ = 0;
    std::unique_ptr<TimerHandle> waitTimer_;
    std::vector<EchoObserver*> observers_;
    quint64 generation_ = 0; // invalidates queued steps of an ended run

    // The echo stream. Entries [judged_, sent_) of the cycle sit in a ring
    // that only grows (to the most entries ever ended ahead of an earlier
    // one): nothing is allocated per echo.
    struct StreamEcho {
        QString ipAddress;
        qint64 endedMs = 0;
        qint64 rttUs = -1;
        quint32 rtt = 0;
        int status = 0;
        int targetIndex = -1;
        bool ended = false;
    };
    int maxInFlight_ = 1;  // taken at the start of a run
    int pingWait_ = 0;     // ms, as the engine's Delay
    std::vector<StreamEcho> ring_;
    qint64 sent_ = 0;
    qint64 judged_ = 0;
    std::vector<char> targetWaiting_;
    std::vector<qint64> targetFreeAt_; // ms: PingWait after its last echo ended
    bool paceReady_ = true;
    qint64 paceDueUs_ = -1; // when the send being paced is due, -1: none yet
    std::unique_ptr<TimerHandle> paceTimer_;
    std::unique_ptr<TimerHandle> targetTimer_;
};

// Runs f; an exception ends the run with its message.
template <typename F>
inline void RunController::guarded(F&& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        failRun(QString::fromUtf8(e.what()));
    } catch (...) {
        failRunUnexpected();
    }
}

} // namespace tarvok
