#pragma once
// Per-target memory of one ping run, indexed by target index.

#include <QtGlobal>

namespace tarvok {

enum class LastResult : int { OK = 0, NG = 1, None = 99 };

struct TargetState {
    static constexpr int NoTime = 999999;
    int Attempts = 0;
    int Failures = 0;
    int NGCount = 0;
    bool NGNotified = false;
    tarvok::LastResult LastResult = tarvok::LastResult::None;
    int MinTime = NoTime;
    int MaxTime = NoTime;
    qint64 TotalTime = 0;
};

} // namespace tarvok
