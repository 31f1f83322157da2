// HistoryStore: the batches of echoes and the outage ledger they keep.

#include "history/HistoryStore.h"

#include "history/HistorySql.h"
#include "run/EchoObserver.h"

#include <algorithm>

namespace tarvok {

using namespace historysql;

namespace {

// Runs `find` (a SELECT of the id) or `add` (an INSERT of one row, which
// OR IGNORE may leave out) with the values of `bind`: the row's id, kNoRow
// when there was none or none was added, -1 on failure with *rc. An added
// row's id is read back from the connection: RETURNING would make SQLite
// gather the result in a table of its own, several times the insert's cost.
constexpr int kNoRow = -2;

template <typename Bind>
int findRow(sqlite3_stmt* find, Bind bind, int* rc)
{
    Use u(find);
    bind(find);
    *rc = sqlite3_step(find);
    if (*rc == SQLITE_ROW)
        return sqlite3_column_int(find, 0);
    return *rc == SQLITE_DONE ? kNoRow : -1;
}

template <typename Bind>
int addRow(sqlite3* db, sqlite3_stmt* add, Bind bind, int* rc)
{
    Use u(add);
    bind(add);
    *rc = sqlite3_step(add);
    if (*rc != SQLITE_DONE)
        return -1;
    return sqlite3_changes(db) == 1 ? int(sqlite3_last_insert_rowid(db)) : kNoRow;
}

} // namespace

int HistoryStore::statusId(int code, const QString& text)
{
    for (size_t i = 0; i < recentStatuses_.size(); ++i) {
        if (recentStatuses_[i].id >= 0 && recentStatuses_[i].code == code && recentStatuses_[i].text == text) {
            std::rotate(recentStatuses_.begin(), recentStatuses_.begin() + i, recentStatuses_.begin() + i + 1);
            return recentStatuses_.front().id;
        }
    }
    const int id = lookUpStatusId(code, text);
    if (id >= 0) {
        std::rotate(recentStatuses_.begin(), recentStatuses_.end() - 1, recentStatuses_.end());
        recentStatuses_.front() = {code, text, id};
    }
    return id;
}

int HistoryStore::lookUpStatusId(int code, const QString& text)
{
    const QString key = QString::number(code) + QChar(0x1f) + text;
    auto it = statusIds_.constFind(key);
    if (it != statusIds_.constEnd())
        return *it;
    // Ids from 0: the commonest status (the reply) takes no byte in a row.
    sqlite3_stmt* find = prepare("SELECT id FROM statuses WHERE code = ?1 AND text = ?2");
    sqlite3_stmt* add = prepare(
        "INSERT INTO statuses(id, code, text) VALUES((SELECT coalesce(max(id) + 1, 0) FROM statuses), ?1, ?2)");
    if (!find || !add)
        return -1;
    int rc = SQLITE_OK;
    const auto bind = [&](sqlite3_stmt* st) {
        sqlite3_bind_int(st, 1, code);
        bindText(st, 2, text);
    };
    int id = findRow(find, bind, &rc);
    if (id == kNoRow)
        id = addRow(db_, add, bind, &rc);
    if (id < 0)
        return lastRc_ = rc, -1;
    statusIds_.insert(key, id);
    return id;
}

int HistoryStore::targetId(const JudgedEcho& e)
{
    const QString key = e.target + QChar(0x1f) + e.comment + QChar(0x1f) + e.address;
    auto it = targetIds_.constFind(key);
    if (it != targetIds_.constEnd())
        return *it;
    sqlite3_stmt* find = prepare("SELECT id FROM targets WHERE target = ?1 AND comment = ?2 AND address = ?3");
    sqlite3_stmt* add = prepare("INSERT OR IGNORE INTO targets(id, target, comment, address) VALUES(?4, ?1, ?2, ?3)");
    if (!find || !add)
        return -1;
    int rc = SQLITE_OK;
    // No other process adds a target inside this write's transaction: the
    // next id is asked of the file once per transaction.
    if (nextTargetId_ < 0) {
        sqlite3_stmt* next = prepare("SELECT coalesce(max(id) + 1, 0) FROM targets");
        if (!next)
            return -1;
        Use u(next);
        if ((rc = sqlite3_step(next)) != SQLITE_ROW)
            return lastRc_ = rc, -1;
        nextTargetId_ = sqlite3_column_int(next, 0);
    }
    // Every target of the file is known once the ids are loaded: a new one is
    // added straight away (and looked up after all should another process
    // have added it since).
    const auto bind = [&](sqlite3_stmt* st) {
        bindText(st, 1, e.target);
        bindText(st, 2, e.comment);
        bindText(st, 3, e.address);
        if (st == add)
            sqlite3_bind_int(st, 4, nextTargetId_);
    };
    int id = idsLoaded_ ? addRow(db_, add, bind, &rc) : findRow(find, bind, &rc);
    if (id == kNoRow)
        id = idsLoaded_ ? findRow(find, bind, &rc) : addRow(db_, add, bind, &rc);
    if (id < 0)
        return lastRc_ = rc, -1;
    if (id == nextTargetId_)
        ++nextTargetId_;
    targetIds_.insert(key, id);
    return id;
}

// The target id of an echo, through the cache of the batch's target indices,
// and the key of its series in the ledger.
int HistoryStore::batchTargetId(const JudgedEcho& e, QString* series)
{
    if (e.targetIndex < 0 || e.targetIndex >= 65536) {
        *series = seriesKey(e.target, e.comment);
        return targetId(e);
    }
    if (lastByIndex_.size() <= size_t(e.targetIndex))
        lastByIndex_.resize(size_t(e.targetIndex) + 1);
    CachedTarget& cached = lastByIndex_[size_t(e.targetIndex)];
    if (cached.id < 0 || cached.target != e.target || cached.comment != e.comment || cached.address != e.address)
        cached = {e.target, e.comment, e.address, seriesKey(e.target, e.comment), targetId(e)};
    *series = cached.series;
    return cached.id;
}

HistoryStore::Fault HistoryStore::write(const std::vector<JudgedEcho>& echoes)
{
    if (!db_ || readOnly_)
        return Fault::Unwritable;
    if (echoes.empty())
        return Fault::None;
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return fail(rc);
    nextTargetId_ = -1;
    if (!idsLoaded_ && (rc = loadIds()) != SQLITE_OK)
        return fail(rc);
    sqlite3_stmt* ins = prepare("INSERT OR IGNORE INTO raw(time_us, target_id, rtt_us, flags) VALUES(?1, ?2, ?3, ?4)");
    sqlite3_stmt* addLost = prepare("UPDATE ledger SET lost = lost + ?2 WHERE id = ?1");
    if (!ins || !addLost)
        return fail(lastRc_);

    // Losses of an outage that goes on are added once per batch.
    std::map<qint64, qint64> lostSoFar;
    qint64 earliestUs = echoes.front().timeUs;
    QString series;
    for (const JudgedEcho& e : echoes) {
        earliestUs = std::min(earliestUs, e.timeUs);
        const int tid = batchTargetId(e, &series);
        const int sid = statusId(e.status, e.statusText);
        if (tid < 0 || sid < 0)
            return fail(lastRc_);
        sqlite3_bind_int64(ins, 1, e.timeUs);
        sqlite3_bind_int(ins, 2, tid);
        if (e.rttUs >= 0)
            sqlite3_bind_int64(ins, 3, e.rttUs);
        else
            sqlite3_bind_null(ins, 3);
        sqlite3_bind_int64(ins, 4, qint64(sid) * 4 + (e.ng ? 2 : 0) + (e.slow ? 1 : 0));
        // Two echoes of one target in one microsecond (two processes on one
        // folder, a clock stepped back): the later one moves on by a
        // microsecond until it has a place of its own, never dropped.
        for (qint64 timeUs = e.timeUs;;) {
            rc = sqlite3_step(ins);
            sqlite3_reset(ins);
            if (rc != SQLITE_DONE || sqlite3_changes(db_) > 0 || timeUs - e.timeUs >= 1'000'000)
                break;
            sqlite3_bind_int64(ins, 1, ++timeUs);
        }
        if (rc != SQLITE_DONE)
            return fail(rc);
        rc = keepLedger(e, series, tid, sid, lostSoFar);
        if (rc != SQLITE_OK)
            return fail(rc);
    }
    for (const auto& [id, n] : lostSoFar) {
        sqlite3_bind_int64(addLost, 1, id);
        sqlite3_bind_int64(addLost, 2, n);
        rc = sqlite3_step(addLost);
        sqlite3_reset(addLost);
        if (rc != SQLITE_DONE)
            return fail(rc);
    }
    // Echoes judged late (behind a long time-out while many wait, or a slow
    // name look-up) may fall into periods already summarised: those are
    // summarised again.
    for (const historysql::SummaryTable* table : {&historysql::kMinutes, &historysql::kHours}) {
        const qint64 period = earliestUs / table->periodUs;
        if (metaValue(table->metaKey, -1) > period && !setMeta(table->metaKey, period))
            return fail(lastRc_);
    }
    rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return fail(rc);
    return Fault::None;
}

// Reads every target's id and every open outage into the maps, so that the
// first echoes of a large list ask the file nothing for targets it has never
// seen. Within the batch's transaction. SQLITE_OK, or the failing code.
int HistoryStore::loadIds()
{
    sqlite3_stmt* targets = prepare("SELECT id, target, comment, address FROM targets");
    sqlite3_stmt* outages =
        prepare("SELECT t.target, t.comment, l.id FROM ledger l JOIN targets t ON t.id = l.target_id"
                " WHERE l.end_us IS NULL ORDER BY l.start_us");
    if (!targets || !outages)
        return lastRc_;
    int rc = SQLITE_OK;
    {
        Use u(targets);
        while ((rc = sqlite3_step(targets)) == SQLITE_ROW)
            targetIds_.insert(columnText(targets, 1) + QChar(0x1f) + columnText(targets, 2) + QChar(0x1f)
                                  + columnText(targets, 3),
                              sqlite3_column_int(targets, 0));
    }
    if (rc != SQLITE_DONE)
        return rc;
    {
        Use u(outages);
        // The latest open outage of a series wins, as when looked up alone.
        while ((rc = sqlite3_step(outages)) == SQLITE_ROW)
            openOutage_.insert(seriesKey(columnText(outages, 0), columnText(outages, 1)),
                               sqlite3_column_int64(outages, 2));
    }
    if (rc != SQLITE_DONE)
        return rc;
    idsLoaded_ = true;
    return SQLITE_OK;
}

// The ledger: an NG echo after an OK one (or the first one) opens an outage,
// the next OK echo closes it. SQLITE_OK, or the failing result code.
int HistoryStore::keepLedger(const JudgedEcho& e, const QString& series, int tid, int sid,
                             std::map<qint64, qint64>& lostSoFar)
{
    auto open = openOutage_.find(series);
    if (open == openOutage_.end() && idsLoaded_)
        open = openOutage_.insert(series, 0); // new since the load: no outage open
    if (open == openOutage_.end()) {
        sqlite3_stmt* findOpen = prepare("SELECT l.id FROM ledger l JOIN targets t ON t.id = l.target_id"
                                         " WHERE l.end_us IS NULL AND t.target = ?1 AND t.comment = ?2"
                                         " ORDER BY l.start_us DESC LIMIT 1");
        if (!findOpen)
            return lastRc_;
        Use u(findOpen);
        bindText(findOpen, 1, e.target);
        bindText(findOpen, 2, e.comment);
        const int rc = sqlite3_step(findOpen);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            return rc;
        open = openOutage_.insert(series, rc == SQLITE_ROW ? sqlite3_column_int64(findOpen, 0) : 0);
    }
    const bool lost = e.rttUs < 0;
    if (e.ng && *open != 0) {
        if (lost)
            ++lostSoFar[*open];
        return SQLITE_OK;
    }
    if (!e.ng && *open == 0)
        return SQLITE_OK;
    sqlite3_stmt* st = e.ng ? prepare("INSERT INTO ledger(target_id, start_us, end_us, lost, status_id)"
                                      " VALUES(?1, ?2, NULL, ?3, ?4)")
                            : prepare("UPDATE ledger SET end_us = ?2, lost = lost + ?3 WHERE id = ?1");
    if (!st)
        return lastRc_;
    Use u(st);
    if (e.ng) {
        sqlite3_bind_int(st, 1, tid);
        sqlite3_bind_int64(st, 2, e.timeUs);
        sqlite3_bind_int(st, 3, lost ? 1 : 0);
        sqlite3_bind_int(st, 4, sid);
    } else {
        const auto extra = lostSoFar.find(*open);
        sqlite3_bind_int64(st, 1, *open);
        sqlite3_bind_int64(st, 2, e.timeUs);
        sqlite3_bind_int64(st, 3, extra == lostSoFar.end() ? 0 : extra->second);
        if (extra != lostSoFar.end())
            lostSoFar.erase(extra);
    }
    const int rc = sqlite3_step(st);
    if (rc != SQLITE_DONE)
        return rc;
    *open = e.ng ? sqlite3_last_insert_rowid(db_) : 0;
    return SQLITE_OK;
}

} // namespace tarvok
