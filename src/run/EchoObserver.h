#pragma once
// EchoObserver: read-only listeners of a ping run's judged echoes, for the
// subsystems that keep their own account of a run beside the result list
// (the lasting history, the metrics endpoint). The run controller calls them
// in schedule order, once per judged echo, after the result row, the alert
// rules, the statistics and the log line; observers must not throw and must
// not call back into the run.

#include <QString>
#include <QtGlobal>

namespace tarvok {

struct JudgedEcho {
    qint64 timeUs = 0;      // when it was judged: UTC, microseconds since the epoch
    int targetIndex = -1;   // place of the target in the run's target list
    QString target;         // the target as written in the list
    QString comment;
    QString address;        // the answering or probed address; empty when none
    int status = 0;         // the engine's status code (0: echo reply)
    QString statusText;     // the engine's text for it
    qint64 rttUs = -1;      // round trip in microseconds; -1 without a reply
    bool ng = false;        // judged NG (as the alert rules see it: failed, or slow when checked)
    bool slow = false;      // answered at or above the slow threshold
};

class EchoObserver {
public:
    virtual ~EchoObserver() = default;
    // A ping run has started (after its preparation); passes count from 1.
    virtual void runStarted() {}
    virtual void echoJudged(const JudgedEcho& echo) = 0;
    // A pass over the schedule has ended (every echo of it judged).
    virtual void passEnded() {}
    // The run has ended, however it ended.
    virtual void runEnded() {}
};

} // namespace tarvok
