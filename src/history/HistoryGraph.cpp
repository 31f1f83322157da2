#include "history/HistoryGraph.h"

#include "base/MulDiv.h"

#include <algorithm>

namespace tarvok {

namespace {

enum class Level { Raw, Minutes, Hours };

// The buckets of one series. Its rows come in time order (the coarser
// levels' before the finer ones'), so the medians of one column at a time
// are kept.
class Columns {
public:
    Columns(const HistoryGraphRequest& r, std::vector<LatencyBucket>& out)
        : from_(r.fromUs), span_(quint64(r.toUs - r.fromUs)), columns_(r.columns), out_(out)
    {
        out_.assign(size_t(columns_), LatencyBucket{});
    }

    void add(qint64 timeUs, const HistorySummary& s)
    {
        if (timeUs < from_ || quint64(timeUs - from_) >= span_ || s.echoes <= 0)
            return;
        const int col = int(mulDivFloor(quint64(timeUs - from_), quint64(columns_), span_));
        if (col != column_) {
            finish();
            column_ = col;
        }
        LatencyBucket& b = out_[size_t(col)];
        const bool first = b.answered() == 0;
        b.echoes += quint32(s.echoes);
        b.lost += quint32(s.lost);
        b.slow += quint32(s.slow);
        const int answered = s.echoes - s.lost;
        if (answered <= 0 || s.minUs < 0)
            return;
        const double lo = double(s.minUs) / 1000.0, hi = double(s.maxUs) / 1000.0;
        b.minMs = first ? lo : std::min(b.minMs, lo);
        b.maxMs = first ? hi : std::max(b.maxMs, hi);
        medians_.emplace_back(s.medianUs, answered);
    }

    void add(const HistoryStore::Point& p)
    {
        HistorySummary one;
        one.echoes = 1;
        one.lost = p.rttUs < 0 ? 1 : 0;
        one.slow = p.slow ? 1 : 0;
        one.minUs = one.medianUs = one.maxUs = p.rttUs;
        add(p.timeUs, one);
    }

    // The median of the current column: of the medians of its rows, weighted
    // by the answered echoes behind each.
    void finish()
    {
        if (medians_.empty())
            return;
        std::sort(medians_.begin(), medians_.end());
        qint64 total = 0, seen = 0;
        for (const auto& w : medians_)
            total += w.second;
        for (const auto& w : medians_) {
            seen += w.second;
            if (2 * seen >= total) {
                out_[size_t(column_)].medianMs = double(w.first) / 1000.0;
                break;
            }
        }
        medians_.clear();
    }

private:
    qint64 from_;
    quint64 span_;
    int columns_;
    std::vector<LatencyBucket>& out_;
    int column_ = -1;
    std::vector<std::pair<qint64, int>> medians_;
};

Level levelFor(qint64 spanUs)
{
    if (spanUs <= HistoryGraph::kRawSpanUs)
        return Level::Raw;
    return spanUs <= HistoryGraph::kMinuteSpanUs ? Level::Minutes : Level::Hours;
}

void addSummaries(const HistoryStore& store, const HistorySeries& s, qint64 fromUs, qint64 toUs, bool hours,
                  Columns& columns)
{
    if (toUs <= fromUs)
        return;
    for (const HistorySummary& row : store.summaries(s.target, s.comment, fromUs, toUs, hours))
        columns.add(row.startUs, row);
}

// Fills [fromUs, toUs) from `level`, and from the finer levels where it has
// not been summarised yet.
void cover(const HistoryStore& store, const std::vector<HistorySeries>& series, qint64 fromUs, qint64 toUs,
           Level level, std::vector<Columns>& columns)
{
    if (toUs <= fromUs)
        return;
    if (level == Level::Raw) {
        for (const auto& [index, point] : store.echoes(series, fromUs, toUs))
            columns[size_t(index)].add(point);
        return;
    }
    const bool hours = level == Level::Hours;
    const qint64 until = store.summarisedUntilUs(hours);
    const qint64 summarisedTo = std::min(toUs, until);
    for (size_t i = 0; i < series.size() && summarisedTo > fromUs; ++i) {
        if (hours) {
            addSummaries(store, series[i], fromUs, summarisedTo, true, columns[i]);
            continue;
        }
        // Minutes live as long as the raw echoes: before the first one left,
        // the hours stand in.
        const auto minutes = store.summaries(series[i].target, series[i].comment, fromUs, summarisedTo, false);
        const qint64 firstMinute = minutes.empty() ? summarisedTo : minutes.front().startUs;
        addSummaries(store, series[i], fromUs, firstMinute / HistoryStore::kHourUs * HistoryStore::kHourUs, true,
                     columns[i]);
        for (const HistorySummary& row : minutes)
            columns[i].add(row.startUs, row);
    }
    cover(store, series, std::max(fromUs, until), toUs, hours ? Level::Minutes : Level::Raw, columns);
}

} // namespace

HistoryGraphResult HistoryGraph::read(const HistoryStore& store, const HistoryGraphRequest& request)
{
    HistoryGraphResult result;
    result.request = request;
    result.series = request.series.empty() ? store.recentSeries(kDefaultSeries) : request.series;
    result.rows.resize(result.series.size());
    result.ok = store.isOpen();
    if (!result.ok || request.columns <= 0 || request.toUs <= request.fromUs)
        return result;
    std::vector<Columns> columns;
    columns.reserve(result.series.size());
    for (auto& row : result.rows)
        columns.emplace_back(request, row);
    cover(store, result.series, request.fromUs, request.toUs, levelFor(request.toUs - request.fromUs), columns);
    for (Columns& c : columns)
        c.finish();
    return result;
}

HistoryGraphLoader::HistoryGraphLoader(QString path, QObject* parent)
    : QObject(parent), path_(std::move(path)), thread_([this] { loop(); })
{
}

HistoryGraphLoader::~HistoryGraphLoader()
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void HistoryGraphLoader::request(HistoryGraphRequest request)
{
    {
        std::lock_guard lock(mutex_);
        pending_ = std::move(request);
    }
    wake_.notify_one();
}

void HistoryGraphLoader::loop()
{
    HistoryStore store;
    for (;;) {
        HistoryGraphRequest next;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || pending_.has_value(); });
            if (stop_)
                return;
            next = std::move(*pending_);
            pending_.reset();
        }
        // The file may appear, or be replaced, between requests.
        if (store.isOpen() && store.dataVersion() < 0)
            store.close();
        if (!store.isOpen())
            store.open(path_, true);
        auto result = std::make_shared<HistoryGraphResult>(HistoryGraph::read(store, next));
        if (!result->ok)
            store.close(); // tried again with the next request
        QMetaObject::invokeMethod(this, [this, result] { emit loaded(result); }, Qt::QueuedConnection);
    }
}

} // namespace tarvok
