#pragma once
// LatencyHistory: every echo of the current ping run, per target, kept
// compactly for the latency graph, and its aggregation into time buckets
// (one bucket per pixel column when drawing).
//
// Storage: per target a list of chunks; an echo takes 6 bytes (the time in
// milliseconds after its chunk's start, and a 16-bit code for the round-trip
// time or the loss). Chunks grow from 16 to 1024 echoes, so little is wasted
// for targets with few echoes and nothing is copied as a target's history
// grows. Round-trip times are exact up to 32767 ms and kept in 4 ms steps
// above that (the engine's time-out tops out at 100 s).
//
// Aggregation walks the echoes of the range asked for, except that a bucket
// that holds whole blocks of 64 echoes takes each block's summary: its
// minimum, maximum and losses are exact, its median is then the median of the
// block medians weighted by their answered echoes (close to the true median;
// exact for buckets of fewer than 64 echoes), and it counts at least one slow
// echo for a block whose longest reply is slow.
//
// Times are milliseconds since the run began (the monotonic clock at
// reset()); the wall-clock start turns them into the times shown.
//
// Lifecycle: reset() at every ping-run start (the statistics are rebuilt
// then too), record() once per judged echo, clear() with 結果のクリア.

#include <QDateTime>
#include <QStringList>
#include <QtGlobal>

#include <cstddef>
#include <memory>
#include <vector>

namespace tarvok {

// What one bucket of one target holds.
struct LatencyBucket {
    quint32 echoes = 0; // judged echoes in the bucket
    quint32 lost = 0;   // of them without a reply (failed or unresolvable)
    quint32 slow = 0;   // answered at or above the slow threshold
    double minMs = 0;   // the following three only when answered() > 0
    double maxMs = 0;
    double medianMs = 0; // of the answered echoes; the mean of the middle two for an even count

    quint32 answered() const { return echoes - lost; }
    bool empty() const { return echoes == 0; }
};

class LatencyHistory {
public:
    LatencyHistory();
    ~LatencyHistory();
    LatencyHistory(const LatencyHistory&) = delete;
    LatencyHistory& operator=(const LatencyHistory&) = delete;

    // A new run over these targets (parallel lists, target index = position),
    // begun at wall-clock `start` and monotonic `startMonoMs`. Drops every
    // echo of the previous run.
    void reset(const QStringList& addresses, const QStringList& comments, const QDateTime& start,
               qint64 startMonoMs);
    // Drops every echo and every target.
    void clear();

    // One judged echo of `target` at monotonic time `monoMs`. Times before
    // the target's previous echo are taken as that echo's time (the clock is
    // monotonic; the history stays sorted). An unknown target is ignored.
    void record(int target, qint64 monoMs, bool answered, quint32 rttMs);

    int targetCount() const { return static_cast<int>(series_.size()); }
    QString address(int target) const;
    QString comment(int target) const;
    QDateTime start() const { return start_; }
    // Time of the newest echo of any target, or -1 when there is none.
    qint64 lastMs() const { return lastMs_; }
    qint64 echoCount() const { return echoes_; }
    qint64 echoCount(int target) const;
    // Changes with every record(), reset() and clear().
    quint64 revision() const { return revision_; }
    // Heap and object bytes held for the echoes and the per-target records.
    std::size_t memoryBytes() const;

    // Splits [fromMs, toMs) into `columns` buckets and fills `out` (resized
    // to `columns`) with the echoes of `target` in each. An echo at time t
    // belongs to bucket floor((t - fromMs) * columns / (toMs - fromMs)), so
    // bucket i starts at fromMs + ceil(i * span / columns). Answered echoes
    // with a round-trip time of `slowFromMs` or more count as slow
    // (slowFromMs <= 0: none). An unknown target, an empty span or no
    // columns give empty buckets.
    void aggregate(int target, qint64 fromMs, qint64 toMs, int columns, qint64 slowFromMs,
                   std::vector<LatencyBucket>& out) const;

    // The 16-bit form of a round-trip time and back (exposed for tests).
    static quint16 encodeRtt(quint32 rttMs);
    static quint32 decodeRtt(quint16 code);
    static constexpr quint16 kLost = 0xFFFF;

private:
    struct Chunk {
        qint64 baseMs = 0; // time of the chunk's first echo
        quint32 size = 0;
        quint32 capacity = 0;
        std::unique_ptr<quint32[]> offsets; // ms after baseMs
        std::unique_ptr<quint16[]> codes;   // encodeRtt() or kLost
    };
    // A summary of 64 consecutive echoes of one target: a bucket that holds a
    // whole block takes it as one, so a wide time range costs its blocks,
    // not its echoes.
    struct Block {
        qint64 firstMs = 0;
        qint64 lastMs = 0;
        quint16 minCode = 0, maxCode = 0, medianCode = 0;
        quint8 lost = 0;
    };
    static constexpr int kBlock = 64;
    struct Series;
    class Walk;
    Block summarise(const Series& s) const;
    struct Series {
        std::vector<Chunk> chunks;
        std::vector<Block> blocks; // of echoes 0-63, 64-127, ...
        qint64 count = 0;
        qint64 lastMs = -1;
    };

    std::vector<Series> series_;
    QStringList addresses_;
    QStringList comments_;
    QDateTime start_;
    qint64 startMono_ = 0;
    qint64 lastMs_ = -1;
    qint64 echoes_ = 0;
    quint64 revision_ = 0;
    mutable std::vector<quint32> scratch_; // answered times of one bucket, for its median
    mutable std::vector<std::pair<quint32, quint32>> weighted_; // block medians and their weights
};

} // namespace tarvok
