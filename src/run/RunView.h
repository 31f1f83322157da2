#pragma once
// What the run controller needs of the main window: the editor lines, the run
// parameter controls (read at the moment of the call, as typed), and the few
// effects a run has on the window. The main window implements it; tests use a
// fake.

#include <QString>
#include <QStringList>

namespace tarvok {

struct TargetState;

// Pages of the main window, in tab order.
enum class MainTab { Memo = 0, Option = 1, PingReport = 2, Statistics = 3, TraceRoute = 4, Graph = 5 };

class RunView {
public:
    virtual ~RunView() = default;

    virtual QStringList targetLines() const = 0;

    // Spin-field semantics: the integer in the text, or the field's minimum
    // when the text is not an integer; not clamped.
    virtual int pingCount() const = 0;
    virtual int pingWait() const = 0;
    virtual int timeOut() const = 0;
    virtual int blockSize() const = 0;
    virtual int timeToLive() const = 0;
    virtual int interval() const = 0;
    virtual int maxHops() const = 0;
    virtual bool orderTermToCycle() const = 0; // chkTermToCycle checked (A-B-A-B)
    virtual bool periodic() const = 0;         // chkInterval checked
    virtual bool resolveHostName() const = 0;

    virtual void setStatusText(const QString& text) = 0; // status-bar panel 0
    virtual void setIdleControls(bool idle) = 0;
    virtual void showTab(MainTab tab) = 0;
    virtual void setBusyCursor(bool busy) = 0;
    // A result row was appended at the end of the (unsorted) list.
    virtual void resultAppended() {}
};

// Points at which other subsystems act during a ping run. Default: nothing.
class RunHooks {
public:
    virtual ~RunHooks() = default;
    // Once per judged echo, before LastResult, NGCount and Failures are
    // updated for it; may set state.NGNotified.
    virtual void ApplyAlertRules(TargetState& state, const QString& dateTime, const QString& target,
                                 const QString& comment, const QString& message, bool isNG)
    {
        (void)state, (void)dateTime, (void)target, (void)comment, (void)message, (void)isNG;
    }
    // Once per judged echo, after the result row has been filled.
    virtual void WriteLogLine(const QString& line) { (void)line; }
    // Around the echoes judged in one go: their lines may be written
    // together when the hold ends.
    virtual void HoldLogLines(bool hold) { (void)hold; }
    // Run start (after the engine is configured): NG indication cleared, tray
    // frames back to normal, blinking as BlinkTrayIcon says.
    virtual void RunStarting() {}
    // Run end, however it ended: tray blinking off.
    virtual void RunEnded() {}
};

} // namespace tarvok
