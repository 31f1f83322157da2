#include "history/HistoryRecorder.h"

#include <QDateTime>
#include <QDir>

#include <chrono>
#include <utility>

namespace tarvok {

namespace {
constexpr qint64 kReopenUs = 1'000'000;      // after a failed open
constexpr qint64 kPruneEveryUs = 600'000'000; // a retention pass every ten minutes
constexpr qint64 kMaintainBudgetUs = 20'000;  // per wake-up
constexpr size_t kWakeAt = 20'000;            // echoes that wake the writer early

qint64 steadyUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
} // namespace

HistoryRecorder::HistoryRecorder(QString path, Notice notice) : path_(std::move(path)), notice_(std::move(notice)) {}

HistoryRecorder::~HistoryRecorder()
{
    stop();
}

void HistoryRecorder::start()
{
    if (thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stop_ = false;
    }
    thread_ = std::thread([this] { loop(); });
}

void HistoryRecorder::stop()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void HistoryRecorder::setRetention(int rawDays, int summaryDays)
{
    std::lock_guard lock(mutex_);
    rawDays_ = rawDays;
    summaryDays_ = summaryDays;
    retentionChanged_ = true;
}

void HistoryRecorder::setNowUs(std::function<qint64()> nowUs)
{
    std::lock_guard lock(mutex_);
    nowUs_ = std::move(nowUs);
}

qint64 HistoryRecorder::nowUs() const
{
    std::lock_guard lock(mutex_);
    return nowUs_ ? nowUs_() : QDateTime::currentMSecsSinceEpoch() * 1000;
}

void HistoryRecorder::echoJudged(const JudgedEcho& echo)
{
    if (!enabled_.load(std::memory_order_relaxed))
        return;
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        // A writer stuck inside the file (a hung network folder) holds the
        // rest in memory only up to the same bound as its own backlog.
        if (buffer_.size() >= kMaxPending) {
            const size_t oldest = kMaxPending / 8; // dropped in one go, not one at a time
            buffer_.erase(buffer_.begin(), buffer_.begin() + qsizetype(oldest));
            dropped_.fetch_add(qint64(oldest));
        }
        buffer_.push_back(echo);
        ++appended_;
        wake = buffer_.size() == kWakeAt;
    }
    if (wake)
        wake_.notify_one();
}

bool HistoryRecorder::flush(int timeoutMs)
{
    std::unique_lock lock(mutex_);
    if (!thread_.joinable())
        return buffer_.empty();
    const quint64 target = appended_;
    flushAsked_ = true;
    wake_.notify_one();
    const bool done = handled_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                        [&] { return handledUpTo_ >= target; });
    return done && pendingEmpty_ && handledUpTo_ >= target;
}

void HistoryRecorder::handle(HistoryStore::Fault fault, HistoryStore& store)
{
    using Fault = HistoryStore::Fault;
    switch (fault) {
    case Fault::None:
        faultNoticed_ = false;
        break;
    case Fault::Busy:
        break;
    case Fault::Damaged:
        if (notice_)
            notice_(QStringLiteral("履歴ファイル %1 が壊れていたため %2 に移し、新しい履歴を始めました。")
                        .arg(QDir::toNativeSeparators(path_), QDir::toNativeSeparators(store.brokenPath())));
        faultNoticed_ = false;
        break;
    case Fault::Unwritable:
        if (!faultNoticed_ && notice_)
            notice_(QStringLiteral("履歴ファイル %1 に書き込めません (%2)。書き込めるようになりしだい記録を再開します。")
                        .arg(QDir::toNativeSeparators(path_), store.lastError()));
        faultNoticed_ = true;
        break;
    }
}

void HistoryRecorder::maintain(HistoryStore& store)
{
    const qint64 began = steadyUs();
    const qint64 now = nowUs();
    int rawDays, summaryDays;
    {
        std::lock_guard lock(mutex_);
        rawDays = rawDays_;
        summaryDays = summaryDays_;
        if (std::exchange(retentionChanged_, false))
            pruneMore_ = true;
    }
    if (now >= nextPruneUs_) {
        pruneMore_ = true;
        nextPruneUs_ = now + kPruneEveryUs;
    }
    summaryMore_ = true;
    while (store.isOpen() && (summaryMore_ || pruneMore_) && steadyUs() - began < kMaintainBudgetUs) {
        if (summaryMore_) {
            bool more = false;
            const auto f = store.summarise(now, 4, &more);
            summaryMore_ = f == HistoryStore::Fault::None && more;
            if (f != HistoryStore::Fault::None) {
                handle(f, store);
                return;
            }
        }
        if (pruneMore_) {
            bool more = false;
            const auto f = store.prune(now, rawDays, summaryDays, 2000, &more);
            pruneMore_ = f == HistoryStore::Fault::None && more;
            if (f != HistoryStore::Fault::None) {
                handle(f, store);
                return;
            }
        }
    }
}

void HistoryRecorder::loop()
{
    HistoryStore store;
    std::vector<JudgedEcho> pending;
    std::vector<JudgedEcho> taken;
    for (;;) {
        bool stopping = false;
        quint64 takenUpTo = 0;
        {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(intervalMs_.load()),
                           [&] { return stop_ || flushAsked_ || buffer_.size() >= kWakeAt; });
            taken.swap(buffer_);
            takenUpTo = appended_;
            flushAsked_ = false;
            stopping = stop_;
        }
        if (pending.empty())
            pending.swap(taken);
        else
            pending.insert(pending.end(), std::make_move_iterator(taken.begin()), std::make_move_iterator(taken.end()));
        taken.clear();

        const qint64 now = steadyUs();
        // The file is made when there is something to write, not before.
        if (!store.isOpen() && !pending.empty() && (now >= nextOpenUs_ || stopping)) {
            const auto f = store.open(path_);
            if (f != HistoryStore::Fault::None)
                handle(f, store);
            if (!store.isOpen())
                nextOpenUs_ = now + kReopenUs;
        }
        if (store.isOpen() && !pending.empty()) {
            auto f = store.write(pending);
            if (f == HistoryStore::Fault::Damaged) {
                handle(f, store);
                f = store.isOpen() ? store.write(pending) : HistoryStore::Fault::Unwritable;
            }
            handle(f, store);
            // After an I/O error a connection may stay unusable: start afresh.
            if (f == HistoryStore::Fault::Unwritable)
                store.close();
            if (f == HistoryStore::Fault::None) {
                written_.fetch_add(qint64(pending.size()));
                pending.clear();
            }
        }
        if (pending.size() > kMaxPending) {
            const size_t extra = pending.size() - kMaxPending;
            pending.erase(pending.begin(), pending.begin() + qsizetype(extra));
            dropped_.fetch_add(qint64(extra));
        }
        if (store.isOpen() && pending.empty() && !stopping)
            maintain(store);
        {
            std::lock_guard lock(mutex_);
            handledUpTo_ = takenUpTo;
            pendingEmpty_ = pending.empty();
        }
        handled_.notify_all();
        if (stopping)
            break;
    }
}

} // namespace tarvok
