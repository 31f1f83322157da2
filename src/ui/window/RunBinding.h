#pragma once
// RunBinding: the main window as the run controllers see it. It reads the
// target lines and the run parameters page, shows status texts, switches the
// controls and the tabs through the window, and passes the run's hooks on:
// alerts and the tray to the window's AlertCenter, log lines to whoever
// listens for them.

#include "run/RunView.h"

#include <QString>
#include <functional>

namespace tarvok {

class TTarvokMain;

class RunBinding : public RunView, public RunHooks {
public:
    explicit RunBinding(TTarvokMain& window) : w_(window) {}

    // Every judged echo's log line (the program's window writes the log).
    std::function<void(const QString&)> onLogLine;
    std::function<void(bool)> onLogHold;

    // --- RunView ------------------------------------------------------------
    QStringList targetLines() const override;
    int pingCount() const override;
    int pingWait() const override;
    int timeOut() const override;
    int blockSize() const override;
    int timeToLive() const override;
    int interval() const override;
    int maxHops() const override;
    bool orderTermToCycle() const override;
    bool periodic() const override;
    bool resolveHostName() const override;
    void setStatusText(const QString& text) override;
    void setIdleControls(bool idle) override;
    void showTab(MainTab tab) override;
    void setBusyCursor(bool busy) override;
    void resultAppended() override;

    // --- RunHooks -----------------------------------------------------------
    void ApplyAlertRules(TargetState& state, const QString& dateTime, const QString& target,
                         const QString& comment, const QString& message, bool isNG) override;
    void WriteLogLine(const QString& line) override;
    void HoldLogLines(bool hold) override;
    void RunStarting() override;
    void RunEnded() override;

private:
    TTarvokMain& w_;
};

} // namespace tarvok
