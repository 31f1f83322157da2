#pragma once
// HistoryRecorder: records the judged echoes of every ping run into the
// history file without ever making the run wait for the disk.
//
// Order of steps:
//  1. echoJudged() (the run's thread) copies the echo into a buffer under a
//     lock; nothing else happens there.
//  2. A writer thread of its own (which opens the file, creating it, with the
//     first echoes to write) wakes at least every flush interval
//     (default 250 ms), takes the buffer and writes it in one transaction.
//  3. After a write it summarises the minutes and hours that have ended and
//     removes old rows, each in small steps within a few milliseconds, so
//     another process waits for this one no longer than one short
//     transaction.
//  4. stop() (and the destructor) writes what is left and ends the thread.
//
// Faults: a full disk, a read-only file or folder keep the echoes in memory
// (up to kMaxPending, the oldest dropped beyond) and retry every interval;
// the notice callback hears of it once until a write succeeds again. A
// damaged file is set aside and a new one begun (one notice). A file held by
// another process past the busy time-out is retried silently. The notice
// callback runs on the writer thread.

#include "history/HistoryStore.h"
#include "run/EchoObserver.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tarvok {

class HistoryRecorder final : public EchoObserver {
public:
    using Notice = std::function<void(const QString&)>;
    static constexpr size_t kMaxPending = 500'000;

    HistoryRecorder(QString path, Notice notice);
    ~HistoryRecorder() override;

    // Starts the writer thread (opening the file is its first step).
    void start();
    // Writes what is buffered and ends the writer thread.
    void stop();
    bool running() const { return thread_.joinable(); }

    void setRetention(int rawDays, int summaryDays);
    // Off: echoes are ignored.
    void setEnabled(bool on) { enabled_.store(on); }
    bool enabled() const { return enabled_.load(); }
    // For tests: the wake interval and the clock of retention and summaries.
    void setFlushIntervalMs(int ms) { intervalMs_.store(ms); }
    void setNowUs(std::function<qint64()> nowUs);

    void echoJudged(const JudgedEcho& echo) override;

    // Waits until every echo handed over before the call has been written
    // or has failed to be. True when nothing waits unwritten.
    bool flush(int timeoutMs = 10'000);

    QString path() const { return path_; }
    qint64 written() const { return written_.load(); }
    qint64 dropped() const { return dropped_.load(); }

private:
    void loop();
    void handle(HistoryStore::Fault fault, HistoryStore& store);
    void maintain(HistoryStore& store);
    qint64 nowUs() const;

    const QString path_;
    Notice notice_;
    std::atomic<bool> enabled_{true};
    std::atomic<int> intervalMs_{250};
    std::atomic<qint64> written_{0};
    std::atomic<qint64> dropped_{0};

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable handled_;
    std::vector<JudgedEcho> buffer_;
    quint64 appended_ = 0;   // echoes handed over
    quint64 handledUpTo_ = 0; // of them written or failed
    bool pendingEmpty_ = true;
    bool stop_ = false;
    bool flushAsked_ = false;
    int rawDays_ = 14;
    int summaryDays_ = 400;
    std::function<qint64()> nowUs_;
    std::thread thread_;

    // Writer thread only.
    bool faultNoticed_ = false;
    qint64 nextOpenUs_ = 0;
    qint64 nextPruneUs_ = 0;
    bool pruneMore_ = true;          // writer thread only
    bool retentionChanged_ = false;  // under mutex_
    bool summaryMore_ = true;
};

} // namespace tarvok
