// HistoryStore: retention in small steps.

#include "history/HistoryStore.h"

#include "history/HistorySql.h"

#include <algorithm>

namespace tarvok {

using namespace historysql;

HistoryStore::Fault HistoryStore::prune(qint64 nowUs, int rawDays, int summaryDays, int maxRows, bool* more)
{
    if (!db_ || readOnly_)
        return Fault::Unwritable;
    constexpr qint64 kDayUs = 86'400'000'000;
    const qint64 rawCut = nowUs - qint64(std::max(rawDays, 1)) * kDayUs;
    const qint64 sumCut = nowUs - qint64(std::max(summaryDays, 1)) * kDayUs;
    bool left = false;
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return fail(rc);

    // Raw rows are ordered by time: one step over all targets. Summaries are
    // ordered by target: one target's old rows per step, in turn. Minutes
    // live as long as the raw echoes, hours as long as the summaries.
    rc = pruneStep("SELECT time_us FROM raw WHERE time_us < ?2 ORDER BY time_us LIMIT 1 OFFSET ?3",
                   "DELETE FROM raw WHERE time_us < ?2", -1, rawCut, maxRows, &left);
    if (rc != SQLITE_OK)
        return fail(rc);
    sqlite3_stmt* nextTarget = prepare("SELECT min(id) FROM targets WHERE id >= ?1");
    if (!nextTarget)
        return fail(lastRc_);
    qint64 tid = -1;
    {
        Use u(nextTarget);
        sqlite3_bind_int64(nextTarget, 1, pruneTarget_);
        if (sqlite3_step(nextTarget) == SQLITE_ROW && sqlite3_column_type(nextTarget, 0) != SQLITE_NULL)
            tid = sqlite3_column_int64(nextTarget, 0);
    }
    if (tid >= 0) {
        bool targetLeft = false;
        for (const auto& [table, cut] : {std::pair{&kMinutes, rawCut / kMinuteUs}, std::pair{&kHours, sumCut / kHourUs}}) {
            rc = pruneStep(table->edge, table->del, tid, cut, maxRows, &targetLeft);
            if (rc != SQLITE_OK)
                return fail(rc);
        }
        if (!targetLeft)
            pruneTarget_ = tid + 1;
        left = true; // the remaining targets (the last call finds none and starts over)
    } else {
        pruneTarget_ = 0;
    }
    // Finished outages go with the summaries.
    {
        sqlite3_stmt* del = prepare("DELETE FROM ledger WHERE id IN (SELECT id FROM ledger WHERE end_us IS NOT NULL"
                                    " AND end_us < ?1 LIMIT ?2)");
        if (!del)
            return fail(lastRc_);
        Use u(del);
        sqlite3_bind_int64(del, 1, sumCut);
        sqlite3_bind_int(del, 2, maxRows);
        rc = sqlite3_step(del);
        if (rc != SQLITE_DONE)
            return fail(rc);
        if (sqlite3_changes(db_) >= maxRows)
            left = true;
    }
    rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return fail(rc);
    if (more)
        *more = left;
    return Fault::None;
}

// Deletes the rows before `cut` (of one target; the raw rows' statements
// ignore it), ending the step at the maxRows-th old row. *left: old rows
// remain. SQLITE_OK, or the failing result code.
int HistoryStore::pruneStep(const char* edgeSql, const char* delSql, qint64 tid, qint64 cut, int maxRows,
                            bool* left)
{
    sqlite3_stmt* edge = prepare(edgeSql);
    sqlite3_stmt* del = prepare(delSql);
    if (!edge || !del)
        return lastRc_;
    qint64 until = cut;
    {
        Use u(edge);
        sqlite3_bind_int64(edge, 1, tid);
        sqlite3_bind_int64(edge, 2, cut);
        sqlite3_bind_int(edge, 3, maxRows);
        const int rc = sqlite3_step(edge);
        if (rc == SQLITE_ROW) {
            until = sqlite3_column_int64(edge, 0);
            *left = true;
        } else if (rc != SQLITE_DONE) {
            return rc;
        }
    }
    Use u(del);
    sqlite3_bind_int64(del, 1, tid);
    sqlite3_bind_int64(del, 2, until);
    const int rc = sqlite3_step(del);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

} // namespace tarvok

