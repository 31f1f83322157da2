#pragma once
// HistoryGraph: the latency graph's columns read from the history file, and
// the worker thread that reads them so that the window never waits for the
// disk.
//
// Which rows a range reads, by its span:
//   up to kRawSpanUs      the raw echoes
//   up to kMinuteSpanUs   the minute summaries (hours where the minutes are
//                         already gone, raw echoes after the last minute
//                         summarised)
//   longer                the hour summaries (minutes, then raw echoes,
//                         after the last hour summarised)
// so a range of days reads summaries, never its raw rows; only the few
// minutes the summaries have not reached yet come from the raw table.
//
// A column of several summaries takes their extremes, losses and slow replies
// exactly; its median is the median of their medians weighted by their
// answered echoes. Round trips keep the file's microseconds (fractions of a
// millisecond in the bucket).

#include "history/HistoryStore.h"
#include "monitor/LatencyHistory.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tarvok {

struct HistoryGraphRequest {
    // Empty: the targets most recently recorded (at most kDefaultSeries).
    std::vector<HistorySeries> series;
    qint64 fromUs = 0;
    qint64 toUs = 0;
    int columns = 0;
    bool operator==(const HistoryGraphRequest&) const = default;
};

struct HistoryGraphResult {
    HistoryGraphRequest request;
    std::vector<HistorySeries> series; // as drawn (the defaults filled in)
    std::vector<std::vector<LatencyBucket>> rows; // per series, `columns` buckets
    bool ok = false; // false: the file could not be read
};

class HistoryGraph {
public:
    static constexpr qint64 kRawSpanUs = 3 * HistoryStore::kHourUs;
    static constexpr qint64 kMinuteSpanUs = 8 * 24 * HistoryStore::kHourUs;
    static constexpr int kDefaultSeries = 16;

    // Reads the columns of every series of `request` from `store`.
    static HistoryGraphResult read(const HistoryStore& store, const HistoryGraphRequest& request);
};

// Reads on a thread of its own through a read-only connection; the newest
// request wins (one still waiting is replaced). Results come back through
// loaded() on the thread that owns the loader.
class HistoryGraphLoader : public QObject {
    Q_OBJECT
public:
    explicit HistoryGraphLoader(QString path, QObject* parent = nullptr);
    ~HistoryGraphLoader() override;

    QString path() const { return path_; }
    void request(HistoryGraphRequest request);

signals:
    void loaded(std::shared_ptr<const HistoryGraphResult> result);

private:
    void loop();

    const QString path_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::optional<HistoryGraphRequest> pending_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace tarvok
