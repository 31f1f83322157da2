// HistoryStore: the minute and hour summaries.

#include "history/HistoryStore.h"

#include "history/HistorySql.h"

#include <algorithm>
#include <map>

namespace tarvok {

using namespace historysql;

qint64 HistoryStore::metaValue(const char* key, qint64 fallback)
{
    sqlite3_stmt* st = prepare("SELECT value FROM meta WHERE key = ?1");
    if (!st)
        return fallback;
    Use u(st);
    sqlite3_bind_text(st, 1, key, -1, SQLITE_STATIC);
    return sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : fallback;
}

bool HistoryStore::setMeta(const char* key, qint64 value)
{
    sqlite3_stmt* st = prepare("INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)");
    if (!st)
        return false;
    Use u(st);
    sqlite3_bind_text(st, 1, key, -1, SQLITE_STATIC);
    sqlite3_bind_int64(st, 2, value);
    return sqlite3_step(st) == SQLITE_DONE;
}

void HistoryStore::summariseInto(std::vector<qint64>& rtts, HistorySummary& out)
{
    if (rtts.empty())
        return;
    std::sort(rtts.begin(), rtts.end());
    const size_t n = rtts.size();
    out.minUs = rtts.front();
    out.maxUs = rtts.back();
    out.medianUs = n % 2 ? rtts[n / 2] : (rtts[n / 2 - 1] + rtts[n / 2]) / 2;
    // Nearest rank.
    const size_t rank = (n * 95 + 99) / 100;
    out.p95Us = rtts[std::max<size_t>(rank, 1) - 1];
}

// The period of the first raw row at or after the start of `period`; -1
// when there is none, -2 when the statement cannot be made (lastRc_).
qint64 HistoryStore::firstRowPeriod(qint64 period, qint64 periodUs)
{
    sqlite3_stmt* st = prepare("SELECT min(time_us) FROM raw WHERE time_us >= ?1");
    if (!st)
        return -2;
    Use u(st);
    sqlite3_bind_int64(st, 1, period * periodUs);
    if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 0) != SQLITE_NULL)
        return sqlite3_column_int64(st, 0) / periodUs;
    return -1;
}

HistoryStore::Fault HistoryStore::summariseTable(bool hours, qint64 nowUs, int maxPeriods, bool* more)
{
    const SummaryTable& table = summaryTable(hours);
    // Periods [next, due) are due: those that ended a grace ago.
    const qint64 due = (nowUs - kSummaryGraceUs) / table.periodUs;
    qint64 next = metaValue(table.metaKey, -1);
    if (next < 0) {
        next = firstRowPeriod(0, table.periodUs);
        if (next == -2)
            return fail(lastRc_);
        if (next < 0)
            return Fault::None; // nothing recorded yet
    }
    for (int done = 0; next < due; ++done) {
        if (done >= maxPeriods) {
            if (more)
                *more = true;
            return Fault::None;
        }
        // Skip empty stretches at once.
        const qint64 found = firstRowPeriod(next, table.periodUs);
        if (found == -2)
            return fail(lastRc_);
        if (found < 0 || found >= due) {
            next = due;
            break;
        }
        next = found;
        if (const Fault f = summarisePeriod(hours, next); f != Fault::None)
            return f;
        ++next;
    }
    // Remember the skipped stretch too.
    if (next != metaValue(table.metaKey, -1)) {
        int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return fail(rc);
        // Another process may have gone further meanwhile.
        if (next > metaValue(table.metaKey, -1) && !setMeta(table.metaKey, next))
            return fail(lastRc_);
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return fail(rc);
    }
    return Fault::None;
}

// Summarises one period of every target that has echoes in it, in one
// transaction with the mark of the periods done.
HistoryStore::Fault HistoryStore::summarisePeriod(bool hours, qint64 period)
{
    const SummaryTable& table = summaryTable(hours);
    std::map<int, std::pair<HistorySummary, std::vector<qint64>>> perTarget;
    sqlite3_stmt* rows = prepare("SELECT target_id, rtt_us, flags FROM raw WHERE time_us >= ?1 AND time_us < ?2");
    if (!rows)
        return fail(lastRc_);
    {
        Use u(rows);
        sqlite3_bind_int64(rows, 1, period * table.periodUs);
        sqlite3_bind_int64(rows, 2, (period + 1) * table.periodUs);
        int rc;
        while ((rc = sqlite3_step(rows)) == SQLITE_ROW) {
            auto& [sum, rtts] = perTarget[sqlite3_column_int(rows, 0)];
            ++sum.echoes;
            if (sqlite3_column_type(rows, 1) == SQLITE_NULL)
                ++sum.lost;
            else
                rtts.push_back(sqlite3_column_int64(rows, 1));
            if (sqlite3_column_int64(rows, 2) & 1)
                ++sum.slow;
        }
        if (rc != SQLITE_DONE)
            return fail(rc);
    }
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return fail(rc);
    sqlite3_stmt* put = prepare(table.insert);
    if (!put)
        return fail(lastRc_);
    for (auto& [tid, entry] : perTarget) {
        auto& [sum, rtts] = entry;
        summariseInto(rtts, sum);
        Use u(put);
        sqlite3_bind_int(put, 1, tid);
        sqlite3_bind_int64(put, 2, period);
        sqlite3_bind_int(put, 3, sum.echoes);
        sqlite3_bind_int(put, 4, sum.lost);
        sqlite3_bind_int(put, 5, sum.slow);
        const qint64 values[] = {sum.minUs, sum.medianUs, sum.maxUs, sum.p95Us};
        for (int i = 0; i < 4; ++i) {
            if (values[i] < 0)
                sqlite3_bind_null(put, 6 + i);
            else
                sqlite3_bind_int64(put, 6 + i, values[i]);
        }
        rc = sqlite3_step(put);
        if (rc != SQLITE_DONE)
            return fail(rc);
    }
    if (!setMeta(table.metaKey, period + 1))
        return fail(lastRc_);
    rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? Fault::None : fail(rc);
}

HistoryStore::Fault HistoryStore::summarise(qint64 nowUs, int maxPeriods, bool* more)
{
    if (!db_ || readOnly_)
        return Fault::Unwritable;
    if (more)
        *more = false;
    Fault f = summariseTable(false, nowUs, maxPeriods, more);
    if (f == Fault::None)
        f = summariseTable(true, nowUs, maxPeriods, more);
    return f;
}

qint64 HistoryStore::summarisedUntilUs(bool hours) const
{
    sqlite3_stmt* st = prepare("SELECT value FROM meta WHERE key = ?1");
    if (!st)
        return -1;
    Use u(st);
    const SummaryTable& table = summaryTable(hours);
    sqlite3_bind_text(st, 1, table.metaKey, -1, SQLITE_STATIC);
    if (sqlite3_step(st) != SQLITE_ROW)
        return -1;
    return sqlite3_column_int64(st, 0) * table.periodUs;
}

} // namespace tarvok
