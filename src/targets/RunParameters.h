#pragma once
// The run parameters of a target list, held by the controls of the tab "環境"
// and stored beside the target file.

namespace tarvok {

struct RunParameters {
    int PingCount = 3;        // 1..100000
    int PingWait = 1000;      // ms, 1..100000
    bool Sorted = true;       // true: order A-A-B-B (chkCycleToTerm); false: A-B-A-B
    int TimeOut = 1000;       // ms, 1..100000
    int BlockSize = 64;       // bytes, 1..4096
    int TimeToLive = 255;     // 1..255
    bool Parmanent = false;   // periodic execution
    int Interval = 5;         // minutes, 0..10000
    int MaxHops = 20;         // 1..255
    bool ResolveHostName = true;

    bool operator==(const RunParameters&) const = default;
};

} // namespace tarvok
