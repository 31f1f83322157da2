// HistoryStore: the queries of the window and of the benchmark.

#include "history/HistoryStore.h"

#include "history/HistorySql.h"

#include <algorithm>

namespace tarvok {

using namespace historysql;

std::vector<HistoryOutage> HistoryStore::outages(qint64 fromUs, qint64 toUs) const
{
    std::vector<HistoryOutage> out;
    // The names are few: read them once, by id (ids count from 0), instead
    // of joining every row.
    std::vector<std::pair<QString, QString>> targets;
    std::vector<QString> reasons;
    sqlite3_stmt* names = prepare("SELECT id, target, comment FROM targets");
    sqlite3_stmt* texts = prepare("SELECT id, text FROM statuses");
    sqlite3_stmt* last = prepare("SELECT max(id) - min(id) + 1 FROM ledger");
    // Ongoing outages (few) through the partial index: left to itself, the
    // planner takes the covering index for its order and walks the whole
    // ledger to find them. Then the finished ones newest first, straight
    // from the covering index.
    sqlite3_stmt* ongoing = prepare("SELECT target_id, start_us, end_us, lost, status_id FROM ledger"
                                    " INDEXED BY ledger_open WHERE end_us IS NULL AND start_us < ?2"
                                    " ORDER BY start_us DESC, id DESC");
    sqlite3_stmt* ended = prepare("SELECT target_id, start_us, end_us, lost, status_id FROM ledger"
                                  " WHERE start_us < ?2 AND end_us >= ?1 ORDER BY start_us DESC");
    if (!names || !texts || !last || !ongoing || !ended)
        return out;
    auto put = [](auto& list, qint64 id, auto value) {
        if (id < 0 || id > (1 << 24))
            return;
        if (list.size() <= size_t(id))
            list.resize(size_t(id) + 1);
        list[size_t(id)] = std::move(value);
    };
    {
        Use u(names);
        while (sqlite3_step(names) == SQLITE_ROW)
            put(targets, sqlite3_column_int64(names, 0), std::pair{columnText(names, 1), columnText(names, 2)});
    }
    {
        Use u(texts);
        while (sqlite3_step(texts) == SQLITE_ROW)
            put(reasons, sqlite3_column_int64(texts, 0), columnText(texts, 1));
    }
    {
        // About as many rows as the ledger holds: one allocation.
        Use u(last);
        if (sqlite3_step(last) == SQLITE_ROW)
            out.reserve(size_t(std::clamp<qint64>(sqlite3_column_int64(last, 0), 0, 1 << 20)));
    }
    for (sqlite3_stmt* st : {ongoing, ended}) {
        Use u(st);
        sqlite3_bind_int64(st, 1, fromUs);
        sqlite3_bind_int64(st, 2, toUs);
        while (sqlite3_step(st) == SQLITE_ROW) {
            HistoryOutage& o = out.emplace_back();
            if (const qint64 tid = sqlite3_column_int64(st, 0); tid >= 0 && size_t(tid) < targets.size()) {
                o.target = targets[size_t(tid)].first;
                o.comment = targets[size_t(tid)].second;
            }
            o.startUs = sqlite3_column_int64(st, 1);
            o.endUs = columnOr(st, 2, -1);
            o.lost = sqlite3_column_int64(st, 3);
            if (const qint64 sid = sqlite3_column_int64(st, 4); sid >= 0 && size_t(sid) < reasons.size())
                o.reason = reasons[size_t(sid)];
        }
    }
    return out;
}

std::vector<HistoryStore::Point> HistoryStore::echoes(const QString& target, const QString& comment, qint64 fromUs,
                                                      qint64 toUs) const
{
    std::vector<Point> out;
    for (const auto& [series, point] : echoes({{target, comment}}, fromUs, toUs))
        out.push_back(point);
    return out;
}

std::vector<std::pair<int, HistoryStore::Point>> HistoryStore::echoes(const std::vector<HistorySeries>& series,
                                                                      qint64 fromUs, qint64 toUs) const
{
    std::vector<std::pair<int, Point>> out;
    // The ids of every series first; then the time range (the key) once,
    // keeping the rows of those ids.
    sqlite3_stmt* ids = prepare("SELECT id FROM targets WHERE target = ?1 AND comment = ?2");
    sqlite3_stmt* st = prepare("SELECT time_us, target_id, rtt_us, flags FROM raw WHERE time_us >= ?1 AND time_us < ?2");
    if (!ids || !st)
        return out;
    QHash<qint64, int> seriesOf;
    for (size_t i = 0; i < series.size(); ++i) {
        Use u(ids);
        bindText(ids, 1, series[i].target);
        bindText(ids, 2, series[i].comment);
        while (sqlite3_step(ids) == SQLITE_ROW)
            seriesOf.insert(sqlite3_column_int64(ids, 0), int(i));
    }
    if (seriesOf.isEmpty())
        return out;
    Use u(st);
    sqlite3_bind_int64(st, 1, fromUs);
    sqlite3_bind_int64(st, 2, toUs);
    while (sqlite3_step(st) == SQLITE_ROW) {
        const auto it = seriesOf.constFind(sqlite3_column_int64(st, 1));
        if (it == seriesOf.constEnd())
            continue;
        out.push_back({*it, {sqlite3_column_int64(st, 0), columnOr(st, 2, -1), (sqlite3_column_int64(st, 3) & 1) != 0}});
    }
    return out;
}

std::vector<HistorySummary> HistoryStore::summaries(const QString& target, const QString& comment, qint64 fromUs,
                                                    qint64 toUs, bool hours) const
{
    std::vector<HistorySummary> out;
    const qint64 period = summaryTable(hours).periodUs;
    sqlite3_stmt* ids = prepare("SELECT id FROM targets WHERE target = ?1 AND comment = ?2");
    sqlite3_stmt* st = prepare(summaryTable(hours).select);
    if (!ids || !st)
        return out;
    std::vector<qint64> targetIds;
    {
        Use u(ids);
        bindText(ids, 1, target);
        bindText(ids, 2, comment);
        while (sqlite3_step(ids) == SQLITE_ROW)
            targetIds.push_back(sqlite3_column_int64(ids, 0));
    }
    for (const qint64 id : targetIds) {
        Use u(st);
        sqlite3_bind_int64(st, 1, fromUs / period);
        sqlite3_bind_int64(st, 2, (toUs + period - 1) / period);
        sqlite3_bind_int64(st, 3, id);
        while (sqlite3_step(st) == SQLITE_ROW) {
            HistorySummary s;
            s.startUs = sqlite3_column_int64(st, 0) * period;
            s.echoes = sqlite3_column_int(st, 1);
            s.lost = sqlite3_column_int(st, 2);
            s.slow = sqlite3_column_int(st, 3);
            s.minUs = columnOr(st, 4, -1);
            s.medianUs = columnOr(st, 5, -1);
            s.maxUs = columnOr(st, 6, -1);
            s.p95Us = columnOr(st, 7, -1);
            out.push_back(s);
        }
    }
    // Rows of one target under several addresses, in time order.
    if (targetIds.size() > 1)
        std::stable_sort(out.begin(), out.end(),
                         [](const HistorySummary& a, const HistorySummary& b) { return a.startUs < b.startUs; });
    return out;
}

std::vector<HistorySeries> HistoryStore::recentSeries(int limit) const
{
    std::vector<HistorySeries> out;
    sqlite3_stmt* st = prepare("SELECT target, comment FROM targets GROUP BY target, comment"
                               " ORDER BY max(id) DESC LIMIT ?1");
    if (!st)
        return out;
    Use u(st);
    sqlite3_bind_int(st, 1, limit);
    while (sqlite3_step(st) == SQLITE_ROW)
        out.push_back({columnText(st, 0), columnText(st, 1)});
    return out;
}

} // namespace tarvok
