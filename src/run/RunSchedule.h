#pragma once
// The run schedule: the echoes of one cycle of a ping run, in order. Entry k
// is the k-th echo of every cycle: a target address, its comment and its
// target index. Held compactly (the targets once, plus how they repeat), so a
// large PingCount over many targets costs no memory per echo.

#include "targets/TargetList.h"

#include <QString>
#include <functional>
#include <vector>

namespace tarvok {

struct ScheduleEntry {
    QString address;
    QString comment;
    int targetIndex = -1;
};

class RunSchedule {
public:
    qint64 size() const { return size_; }
    bool isEmpty() const { return size_ == 0; }
    ScheduleEntry at(qint64 k) const;
    int targetIndexAt(qint64 k) const;
    void clear();

    // Builds the schedule from `targets`. termToCycle (order A-B-A-B): PingCount
    // is read once and the whole list repeated that many times; otherwise (order
    // A-A-B-B) PingCount is read once per target and each target repeated that
    // many times. A PingCount of 0 or less contributes nothing.
    void build(const TargetList& targets, bool termToCycle, const std::function<int()>& pingCount);

private:
    QStringList addresses_;
    QStringList comments_;
    bool termToCycle_ = false;
    qint64 size_ = 0;
    // A-A-B-B: starts_[i] = first entry of target i; starts_[n] = size_.
    std::vector<qint64> starts_;
};

} // namespace tarvok
