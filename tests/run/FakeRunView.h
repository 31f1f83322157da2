#pragma once
// A RunView and RunHooks that record what a run does to the window.

#include "monitor/TargetState.h"
#include "run/RunView.h"

#include <QStringList>
#include <functional>
#include <vector>

namespace tarvok::test {

class FakeRunView : public RunView {
public:
    QStringList lines;
    int count = 1;
    int wait = 1000;
    int timeout = 1000;
    int block = 64;
    int ttl = 255;
    int intervalMinutes = 5;
    bool termToCycle = false;
    bool isPeriodic = false;
    int hops = 20;
    bool resolve = true;
    int pingCountReads = 0;
    int intervalReads = 0;

    QStringList statusTexts;            // every text put into panel 0, in order
    std::vector<bool> idleCalls;        // SetIdleControls arguments, in order
    std::vector<MainTab> tabs;
    std::vector<bool> cursorCalls;
    int appended = 0;
    QStringList events;                 // status texts and other effects, interleaved

    QStringList targetLines() const override { return lines; }
    int pingCount() const override { ++const_cast<FakeRunView*>(this)->pingCountReads; return count; }
    int pingWait() const override { return wait; }
    int timeOut() const override { return timeout; }
    int blockSize() const override { return block; }
    int timeToLive() const override { return ttl; }
    int interval() const override { ++const_cast<FakeRunView*>(this)->intervalReads; return intervalMinutes; }
    int maxHops() const override { return hops; }
    bool orderTermToCycle() const override { return termToCycle; }
    bool periodic() const override { return isPeriodic; }
    bool resolveHostName() const override { return resolve; }

    void setStatusText(const QString& text) override
    {
        statusTexts.append(text);
        events.append(QStringLiteral("status:") + text);
    }
    void setIdleControls(bool idle) override
    {
        idleCalls.push_back(idle);
        events.append(idle ? QStringLiteral("idle") : QStringLiteral("running"));
    }
    void showTab(MainTab tab) override
    {
        tabs.push_back(tab);
        events.append(QStringLiteral("tab:%1").arg(static_cast<int>(tab)));
    }
    void setBusyCursor(bool busy) override
    {
        cursorCalls.push_back(busy);
        events.append(busy ? QStringLiteral("cursor:busy") : QStringLiteral("cursor:default"));
    }
    void resultAppended() override { ++appended; }
    QString status() const { return statusTexts.isEmpty() ? QString() : statusTexts.last(); }
};

class RecordingHooks : public RunHooks {
public:
    struct AlertCall {
        QString dateTime, target, comment, message;
        bool isNG;
        TargetState before;
    };
    std::vector<AlertCall> alerts;
    QStringList logLines;
    int started = 0;
    int ended = 0;
    std::function<void()> onAlert;

    void ApplyAlertRules(TargetState& state, const QString& dateTime, const QString& target,
                         const QString& comment, const QString& message, bool isNG) override
    {
        alerts.push_back({dateTime, target, comment, message, isNG, state});
        if (onAlert)
            onAlert();
    }
    void WriteLogLine(const QString& line) override
    {
        logLines.append(line);
        if (logHold > 0)
            ++logBursts.back();
    }
    // Lines written under each outermost hold.
    int logHold = 0;
    std::vector<int> logBursts;
    void HoldLogLines(bool hold) override
    {
        if (hold && logHold++ == 0)
            logBursts.push_back(0);
        if (!hold)
            --logHold;
    }
    void RunStarting() override { ++started; }
    void RunEnded() override { ++ended; }
};

} // namespace tarvok::test
