#include "history/HistoryStore.h"

#include "run/EchoObserver.h"

#include <QDateTime>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <map>

namespace tarvok {

namespace {

constexpr int kBusyTimeoutMs = 5000;

// Schema of each version, applied in turn from the file's version up.
const char* const kMigrations[] = {
    // 0 -> 1
    "CREATE TABLE meta(key TEXT PRIMARY KEY, value INTEGER) WITHOUT ROWID;"
    "CREATE TABLE targets(id INTEGER PRIMARY KEY, target TEXT NOT NULL, comment TEXT NOT NULL,"
    " address TEXT NOT NULL, UNIQUE(target, comment, address));"
    "CREATE TABLE statuses(id INTEGER PRIMARY KEY, code INTEGER NOT NULL, text TEXT NOT NULL, UNIQUE(code, text));"
    "CREATE TABLE raw(time_us INTEGER NOT NULL, target_id INTEGER NOT NULL, rtt_us INTEGER,"
    " flags INTEGER NOT NULL, PRIMARY KEY(time_us, target_id)) WITHOUT ROWID;"
    "CREATE TABLE minutes(target_id INTEGER NOT NULL, start INTEGER NOT NULL, echoes INTEGER NOT NULL,"
    " lost INTEGER NOT NULL, slow INTEGER NOT NULL, min_us INTEGER, median_us INTEGER, max_us INTEGER,"
    " p95_us INTEGER, PRIMARY KEY(target_id, start)) WITHOUT ROWID;"
    "CREATE TABLE hours(target_id INTEGER NOT NULL, start INTEGER NOT NULL, echoes INTEGER NOT NULL,"
    " lost INTEGER NOT NULL, slow INTEGER NOT NULL, min_us INTEGER, median_us INTEGER, max_us INTEGER,"
    " p95_us INTEGER, PRIMARY KEY(target_id, start)) WITHOUT ROWID;"
    "CREATE TABLE ledger(id INTEGER PRIMARY KEY, target_id INTEGER NOT NULL, start_us INTEGER NOT NULL,"
    " end_us INTEGER, lost INTEGER NOT NULL, status_id INTEGER NOT NULL);"
    "CREATE INDEX ledger_open ON ledger(target_id) WHERE end_us IS NULL;"
    "CREATE INDEX ledger_start ON ledger(start_us, end_us, target_id, lost, status_id);"
    "CREATE VIEW echoes AS SELECT r.time_us AS time_us, t.target AS target, t.comment AS comment,"
    " t.address AS address, s.code AS status, s.text AS status_text, r.rtt_us AS rtt_us,"
    " (r.flags >> 1) & 1 AS ng, r.flags & 1 AS slow"
    " FROM raw r JOIN targets t ON t.id = r.target_id JOIN statuses s ON s.id = r.flags >> 2;"
    "CREATE VIEW outages AS SELECT t.target AS target, t.comment AS comment, l.start_us AS start_us,"
    " l.end_us AS end_us, l.lost AS echoes_lost, s.text AS first_status_text"
    " FROM ledger l JOIN targets t ON t.id = l.target_id JOIN statuses s ON s.id = l.status_id;",
};
constexpr int kMigrationCount = int(sizeof kMigrations / sizeof kMigrations[0]);
static_assert(kMigrationCount == HistoryStore::kSchemaVersion);

bool isDamage(int rc)
{
    rc &= 0xff;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
}

bool isBusy(int rc)
{
    rc &= 0xff;
    return rc == SQLITE_BUSY || rc == SQLITE_LOCKED;
}

QString seriesKey(const QString& target, const QString& comment)
{
    return target + QChar(0x1f) + comment;
}

void bindText(sqlite3_stmt* st, int i, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(st, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

QString columnText(sqlite3_stmt* st, int i)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)), sqlite3_column_bytes(st, i));
}

qint64 columnOr(sqlite3_stmt* st, int i, qint64 fallback)
{
    return sqlite3_column_type(st, i) == SQLITE_NULL ? fallback : sqlite3_column_int64(st, i);
}

// Resets a cached statement when it goes out of scope.
struct Use {
    sqlite3_stmt* st;
    explicit Use(sqlite3_stmt* s) : st(s) {}
    ~Use()
    {
        if (st) {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
    }
};

} // namespace

HistoryStore::HistoryStore() = default;

HistoryStore::~HistoryStore()
{
    close();
}

void HistoryStore::forgetCaches()
{
    for (auto& [sql, st] : stmts_)
        sqlite3_finalize(st);
    stmts_.clear();
    targetIds_.clear();
    statusIds_.clear();
    openOutage_.clear();
    lastByIndex_.clear();
}

void HistoryStore::close()
{
    forgetCaches();
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

sqlite3_stmt* HistoryStore::prepare(const char* sql) const
{
    if (!db_)
        return nullptr;
    auto it = stmts_.find(sql);
    if (it != stmts_.end())
        return it->second;
    sqlite3_stmt* st = nullptr;
    if (const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr); rc != SQLITE_OK) {
        lastRc_ = rc;
        lastError_ = QString::fromUtf8(sqlite3_errmsg(db_));
        return nullptr;
    }
    stmts_.emplace(sql, st);
    return st;
}

bool HistoryStore::exec(const char* sql)
{
    char* msg = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &msg);
    if (rc != SQLITE_OK) {
        lastError_ = QString::fromUtf8(msg ? msg : sqlite3_errstr(rc));
        sqlite3_free(msg);
        return false;
    }
    return true;
}

HistoryStore::Fault HistoryStore::fail(int rc)
{
    if (db_) {
        lastError_ = QString::fromUtf8(sqlite3_errmsg(db_));
        if (sqlite3_get_autocommit(db_) == 0)
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    } else {
        lastError_ = QString::fromUtf8(sqlite3_errstr(rc));
    }
    // What this connection believed about ids and outages may not have been
    // committed.
    targetIds_.clear();
    statusIds_.clear();
    openOutage_.clear();
    lastByIndex_.clear();
    if (isDamage(rc) && !readOnly_)
        return setAside();
    if (isBusy(rc))
        return Fault::Busy;
    return Fault::Unwritable;
}

HistoryStore::Fault HistoryStore::open(const QString& path, bool readOnly)
{
    close();
    path_ = path;
    readOnly_ = readOnly;
    brokenPath_.clear();
    return openFile(readOnly);
}

HistoryStore::Fault HistoryStore::openFile(bool readOnly)
{
    const int flags = readOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    int rc = sqlite3_open_v2(QFile::encodeName(path_).constData(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        lastError_ = db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(db_);
        db_ = nullptr;
        return isDamage(rc) && !readOnly ? setAside() : Fault::Unwritable;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    if (readOnly) {
        // Reading the schema tells a damaged or foreign file at once.
        sqlite3_stmt* st = prepare("PRAGMA user_version");
        if (!st)
            return fail(lastRc_);
        Use u(st);
        rc = sqlite3_step(st);
        if (rc != SQLITE_ROW) {
            const Fault f = fail(rc);
            close();
            return f;
        }
        return Fault::None;
    }
    // WAL survives a killed process with every committed batch; NORMAL
    // synchronisation loses nothing committed unless the machine itself stops.
    sqlite3_stmt* wal = nullptr;
    rc = sqlite3_prepare_v2(db_, "PRAGMA journal_mode=WAL", -1, &wal, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(wal);
    sqlite3_finalize(wal);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        const Fault f = fail(rc);
        if (f != Fault::Damaged)
            close();
        return f;
    }
    exec("PRAGMA synchronous=NORMAL");
    return migrate();
}

HistoryStore::Fault HistoryStore::migrate()
{
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const Fault f = fail(rc);
        if (f != Fault::Damaged)
            close();
        return f;
    }
    sqlite3_stmt* st = nullptr;
    rc = sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &st, nullptr);
    int version = 0;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(st);
        if (rc == SQLITE_ROW) {
            version = sqlite3_column_int(st, 0);
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(st);
    // Touch the schema: a damaged file tells here.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK && version > kSchemaVersion) {
        // A newer program's file: keep it as it is, record nothing.
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        lastError_ = QStringLiteral("schema version %1 is newer than %2").arg(version).arg(kSchemaVersion);
        close();
        return Fault::Unwritable;
    }
    for (int v = version; rc == SQLITE_OK && v < kSchemaVersion; ++v) {
        rc = sqlite3_exec(db_, kMigrations[v], nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) {
            const QByteArray sql = "PRAGMA user_version=" + QByteArray::number(v + 1);
            rc = sqlite3_exec(db_, sql.constData(), nullptr, nullptr, nullptr);
        }
    }
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const Fault f = fail(rc);
        if (f != Fault::Damaged)
            close();
        return f;
    }
    return Fault::None;
}

HistoryStore::Fault HistoryStore::setAside()
{
    forgetCaches();
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = path_ + QStringLiteral(".broken-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n)
        aside = path_ + QStringLiteral(".broken-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path_, aside)) {
        lastError_ = QStringLiteral("cannot rename the damaged file");
        return Fault::Unwritable;
    }
    brokenPath_ = aside;
    // The journal belongs to the damaged file.
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString side = path_ + QLatin1String(suffix);
        if (QFile::exists(side))
            QFile::rename(side, aside + QLatin1String(suffix));
    }
    const Fault f = openFile(false);
    return f == Fault::None ? Fault::Damaged : f;
}

int HistoryStore::statusId(int code, const QString& text)
{
    const QString key = QString::number(code) + QChar(0x1f) + text;
    auto it = statusIds_.constFind(key);
    if (it != statusIds_.constEnd())
        return *it;
    sqlite3_stmt* find = prepare("SELECT id FROM statuses WHERE code = ?1 AND text = ?2");
    if (!find)
        return -1;
    int id = -1;
    {
        Use u(find);
        sqlite3_bind_int(find, 1, code);
        bindText(find, 2, text);
        const int rc = sqlite3_step(find);
        if (rc == SQLITE_ROW)
            id = sqlite3_column_int(find, 0);
        else if (rc != SQLITE_DONE)
            return lastRc_ = rc, -1;
    }
    if (id < 0) {
        // Ids from 0: the commonest status (the reply) takes no byte in a row.
        sqlite3_stmt* add = prepare(
            "INSERT INTO statuses(id, code, text) SELECT coalesce(max(id) + 1, 0), ?1, ?2 FROM statuses RETURNING id");
        if (!add)
            return -1;
        Use u(add);
        sqlite3_bind_int(add, 1, code);
        bindText(add, 2, text);
        if (const int rc = sqlite3_step(add); rc != SQLITE_ROW)
            return lastRc_ = rc, -1;
        id = sqlite3_column_int(add, 0);
    }
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
    if (!find)
        return -1;
    int id = -1;
    {
        Use u(find);
        bindText(find, 1, e.target);
        bindText(find, 2, e.comment);
        bindText(find, 3, e.address);
        const int rc = sqlite3_step(find);
        if (rc == SQLITE_ROW)
            id = sqlite3_column_int(find, 0);
        else if (rc != SQLITE_DONE)
            return lastRc_ = rc, -1;
    }
    if (id < 0) {
        sqlite3_stmt* add = prepare("INSERT INTO targets(id, target, comment, address)"
                                    " SELECT coalesce(max(id) + 1, 0), ?1, ?2, ?3 FROM targets RETURNING id");
        if (!add)
            return -1;
        Use u(add);
        bindText(add, 1, e.target);
        bindText(add, 2, e.comment);
        bindText(add, 3, e.address);
        if (const int rc = sqlite3_step(add); rc != SQLITE_ROW)
            return lastRc_ = rc, -1;
        id = sqlite3_column_int(add, 0);
    }
    targetIds_.insert(key, id);
    return id;
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

    sqlite3_stmt* ins = prepare("INSERT OR IGNORE INTO raw(time_us, target_id, rtt_us, flags) VALUES(?1, ?2, ?3, ?4)");
    sqlite3_stmt* findOpen = prepare("SELECT l.id FROM ledger l JOIN targets t ON t.id = l.target_id"
                                     " WHERE l.end_us IS NULL AND t.target = ?1 AND t.comment = ?2"
                                     " ORDER BY l.start_us DESC LIMIT 1");
    sqlite3_stmt* openOutage = prepare(
        "INSERT INTO ledger(target_id, start_us, end_us, lost, status_id) VALUES(?1, ?2, NULL, ?3, ?4)");
    sqlite3_stmt* addLost = prepare("UPDATE ledger SET lost = lost + ?2 WHERE id = ?1");
    sqlite3_stmt* closeOutage = prepare("UPDATE ledger SET end_us = ?2, lost = lost + ?3 WHERE id = ?1");
    if (!ins || !findOpen || !openOutage || !addLost || !closeOutage)
        return fail(lastRc_);

    // Losses of an outage that goes on are added once per batch.
    std::map<qint64, qint64> lostSoFar;
    auto step = [&](sqlite3_stmt* st) {
        const int r = sqlite3_step(st);
        sqlite3_reset(st);
        return r;
    };
    for (const JudgedEcho& e : echoes) {
        int tid = -1;
        if (e.targetIndex >= 0 && e.targetIndex < 65536) {
            if (lastByIndex_.size() <= size_t(e.targetIndex))
                lastByIndex_.resize(size_t(e.targetIndex) + 1, {QString(), -1});
            auto& cached = lastByIndex_[size_t(e.targetIndex)];
            const QString key = e.target + QChar(0x1f) + e.comment + QChar(0x1f) + e.address;
            if (cached.second >= 0 && cached.first == key) {
                tid = cached.second;
            } else {
                tid = targetId(e);
                cached = {key, tid};
            }
        } else {
            tid = targetId(e);
        }
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
        rc = step(ins);
        if (rc != SQLITE_DONE)
            return fail(rc);

        // The ledger: an NG echo after an OK one (or the first one) opens an
        // outage, the next OK echo closes it.
        const QString series = seriesKey(e.target, e.comment);
        auto open = openOutage_.find(series);
        if (open == openOutage_.end()) {
            qint64 id = 0;
            bindText(findOpen, 1, e.target);
            bindText(findOpen, 2, e.comment);
            rc = sqlite3_step(findOpen);
            if (rc == SQLITE_ROW)
                id = sqlite3_column_int64(findOpen, 0);
            sqlite3_reset(findOpen);
            if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                return fail(rc);
            open = openOutage_.insert(series, id);
        }
        const bool lost = e.rttUs < 0;
        if (e.ng && *open == 0) {
            sqlite3_bind_int(openOutage, 1, tid);
            sqlite3_bind_int64(openOutage, 2, e.timeUs);
            sqlite3_bind_int(openOutage, 3, lost ? 1 : 0);
            sqlite3_bind_int(openOutage, 4, sid);
            rc = step(openOutage);
            if (rc != SQLITE_DONE)
                return fail(rc);
            *open = sqlite3_last_insert_rowid(db_);
        } else if (e.ng) {
            if (lost)
                ++lostSoFar[*open];
        } else if (*open != 0) {
            auto extra = lostSoFar.find(*open);
            sqlite3_bind_int64(closeOutage, 1, *open);
            sqlite3_bind_int64(closeOutage, 2, e.timeUs);
            sqlite3_bind_int64(closeOutage, 3, extra == lostSoFar.end() ? 0 : extra->second);
            if (extra != lostSoFar.end())
                lostSoFar.erase(extra);
            rc = step(closeOutage);
            if (rc != SQLITE_DONE)
                return fail(rc);
            *open = 0;
        }
    }
    for (const auto& [id, n] : lostSoFar) {
        sqlite3_bind_int64(addLost, 1, id);
        sqlite3_bind_int64(addLost, 2, n);
        rc = step(addLost);
        if (rc != SQLITE_DONE)
            return fail(rc);
    }
    rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return fail(rc);
    return Fault::None;
}

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

HistoryStore::Fault HistoryStore::summariseTable(const char* table, const char* metaKey, qint64 periodUs,
                                                 qint64 nowUs, int maxPeriods, bool* more)
{
    // Periods [next, end) are due: those that ended a grace ago.
    const qint64 due = (nowUs - kSummaryGraceUs) / periodUs; // first period not yet due
    qint64 next = metaValue(metaKey, -1);
    if (next < 0) {
        sqlite3_stmt* first = prepare("SELECT min(time_us) FROM raw");
        if (!first)
            return fail(lastRc_);
        Use u(first);
        if (sqlite3_step(first) != SQLITE_ROW || sqlite3_column_type(first, 0) == SQLITE_NULL)
            return Fault::None; // nothing recorded yet
        next = sqlite3_column_int64(first, 0) / periodUs;
    }
    const QByteArray insertSql = QByteArray("INSERT OR REPLACE INTO ") + table
                                 + "(target_id, start, echoes, lost, slow, min_us, median_us, max_us, p95_us)"
                                   " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)";
    for (int done = 0; next < due; ++done) {
        if (done >= maxPeriods) {
            if (more)
                *more = true;
            return Fault::None;
        }
        // Skip empty stretches at once.
        sqlite3_stmt* nextRow = prepare("SELECT min(time_us) FROM raw WHERE time_us >= ?1");
        if (!nextRow)
            return fail(lastRc_);
        qint64 found = -1;
        {
            Use u(nextRow);
            sqlite3_bind_int64(nextRow, 1, next * periodUs);
            if (sqlite3_step(nextRow) == SQLITE_ROW && sqlite3_column_type(nextRow, 0) != SQLITE_NULL)
                found = sqlite3_column_int64(nextRow, 0) / periodUs;
        }
        if (found < 0 || found >= due) {
            next = due;
            break;
        }
        next = found;

        std::map<int, std::pair<HistorySummary, std::vector<qint64>>> perTarget;
        sqlite3_stmt* rows = prepare("SELECT target_id, rtt_us, flags FROM raw WHERE time_us >= ?1 AND time_us < ?2");
        if (!rows)
            return fail(lastRc_);
        {
            Use u(rows);
            sqlite3_bind_int64(rows, 1, next * periodUs);
            sqlite3_bind_int64(rows, 2, (next + 1) * periodUs);
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
        sqlite3_stmt* put = nullptr;
        rc = sqlite3_prepare_v2(db_, insertSql.constData(), -1, &put, nullptr);
        if (rc != SQLITE_OK)
            return fail(rc);
        for (auto& [tid, entry] : perTarget) {
            auto& [sum, rtts] = entry;
            summariseInto(rtts, sum);
            sqlite3_bind_int(put, 1, tid);
            sqlite3_bind_int64(put, 2, next);
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
            sqlite3_reset(put);
            if (rc != SQLITE_DONE) {
                sqlite3_finalize(put);
                return fail(rc);
            }
        }
        sqlite3_finalize(put);
        ++next;
        if (!setMeta(metaKey, next))
            return fail(lastRc_);
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return fail(rc);
    }
    // Remember the skipped stretch too.
    if (next != metaValue(metaKey, -1)) {
        int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return fail(rc);
        // Another process may have gone further meanwhile.
        if (next > metaValue(metaKey, -1) && !setMeta(metaKey, next))
            return fail(lastRc_);
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return fail(rc);
    }
    return Fault::None;
}

HistoryStore::Fault HistoryStore::summarise(qint64 nowUs, int maxPeriods, bool* more)
{
    if (!db_ || readOnly_)
        return Fault::Unwritable;
    if (more)
        *more = false;
    Fault f = summariseTable("minutes", "minutes_next", kMinuteUs, nowUs, maxPeriods, more);
    if (f == Fault::None)
        f = summariseTable("hours", "hours_next", kHourUs, nowUs, maxPeriods, more);
    return f;
}

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

    // Raw rows: ordered by time, so the step ends at the time of the
    // maxRows-th old row.
    {
        sqlite3_stmt* edge = prepare("SELECT time_us FROM raw WHERE time_us < ?1 ORDER BY time_us LIMIT 1 OFFSET ?2");
        sqlite3_stmt* del = prepare("DELETE FROM raw WHERE time_us < ?1");
        if (!edge || !del)
            return fail(lastRc_);
        qint64 until = rawCut;
        {
            Use u(edge);
            sqlite3_bind_int64(edge, 1, rawCut);
            sqlite3_bind_int(edge, 2, maxRows);
            rc = sqlite3_step(edge);
            if (rc == SQLITE_ROW) {
                until = sqlite3_column_int64(edge, 0);
                left = true;
            } else if (rc != SQLITE_DONE) {
                return fail(rc);
            }
        }
        Use u(del);
        sqlite3_bind_int64(del, 1, until);
        rc = sqlite3_step(del);
        if (rc != SQLITE_DONE)
            return fail(rc);
    }
    // Summaries are ordered by target: one target's old rows per step, in
    // turn. Minutes live as long as the raw echoes, hours as long as the
    // summaries.
    struct Cut {
        const char* edgeSql;
        const char* delSql;
        qint64 cut;
    };
    const Cut cuts[] = {
        {"SELECT start FROM minutes WHERE target_id = ?1 AND start < ?2 ORDER BY start LIMIT 1 OFFSET ?3",
         "DELETE FROM minutes WHERE target_id = ?1 AND start < ?2", rawCut / kMinuteUs},
        {"SELECT start FROM hours WHERE target_id = ?1 AND start < ?2 ORDER BY start LIMIT 1 OFFSET ?3",
         "DELETE FROM hours WHERE target_id = ?1 AND start < ?2", sumCut / kHourUs},
    };
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
        for (const Cut& c : cuts) {
            sqlite3_stmt* edge = prepare(c.edgeSql);
            sqlite3_stmt* del = prepare(c.delSql);
            if (!edge || !del)
                return fail(lastRc_);
            qint64 until = c.cut;
            {
                Use u(edge);
                sqlite3_bind_int64(edge, 1, tid);
                sqlite3_bind_int64(edge, 2, c.cut);
                sqlite3_bind_int(edge, 3, maxRows);
                rc = sqlite3_step(edge);
                if (rc == SQLITE_ROW) {
                    until = sqlite3_column_int64(edge, 0);
                    targetLeft = true;
                } else if (rc != SQLITE_DONE) {
                    return fail(rc);
                }
            }
            Use u(del);
            sqlite3_bind_int64(del, 1, tid);
            sqlite3_bind_int64(del, 2, until);
            rc = sqlite3_step(del);
            if (rc != SQLITE_DONE)
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

std::vector<HistoryOutage> HistoryStore::outages(qint64 fromUs, qint64 toUs) const
{
    std::vector<HistoryOutage> out;
    // The names are few: read them once instead of joining every row.
    QHash<qint64, std::pair<QString, QString>> targets;
    QHash<qint64, QString> reasons;
    sqlite3_stmt* names = prepare("SELECT id, target, comment FROM targets");
    sqlite3_stmt* texts = prepare("SELECT id, text FROM statuses");
    // Ongoing outages (few, through the partial index), then the finished
    // ones newest first straight from the covering index.
    sqlite3_stmt* ongoing = prepare("SELECT target_id, start_us, end_us, lost, status_id FROM ledger"
                                    " WHERE end_us IS NULL AND start_us < ?2 ORDER BY start_us DESC, id DESC");
    sqlite3_stmt* ended = prepare("SELECT target_id, start_us, end_us, lost, status_id FROM ledger"
                                  " WHERE start_us < ?2 AND end_us >= ?1 ORDER BY start_us DESC");
    if (!names || !texts || !ongoing || !ended)
        return out;
    {
        Use u(names);
        while (sqlite3_step(names) == SQLITE_ROW)
            targets.insert(sqlite3_column_int64(names, 0), {columnText(names, 1), columnText(names, 2)});
    }
    {
        Use u(texts);
        while (sqlite3_step(texts) == SQLITE_ROW)
            reasons.insert(sqlite3_column_int64(texts, 0), columnText(texts, 1));
    }
    for (sqlite3_stmt* st : {ongoing, ended}) {
        Use u(st);
        sqlite3_bind_int64(st, 1, fromUs);
        sqlite3_bind_int64(st, 2, toUs);
        while (sqlite3_step(st) == SQLITE_ROW) {
            HistoryOutage o;
            const auto& names = targets[sqlite3_column_int64(st, 0)];
            o.target = names.first;
            o.comment = names.second;
            o.startUs = sqlite3_column_int64(st, 1);
            o.endUs = columnOr(st, 2, -1);
            o.lost = sqlite3_column_int64(st, 3);
            o.reason = reasons.value(sqlite3_column_int64(st, 4));
            out.push_back(std::move(o));
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
    const qint64 period = hours ? kHourUs : kMinuteUs;
    sqlite3_stmt* ids = prepare("SELECT id FROM targets WHERE target = ?1 AND comment = ?2");
    sqlite3_stmt* st = prepare(hours ? "SELECT start, echoes, lost, slow, min_us, median_us, max_us, p95_us"
                                       " FROM hours WHERE target_id = ?3 AND start >= ?1 AND start < ?2"
                                     : "SELECT start, echoes, lost, slow, min_us, median_us, max_us, p95_us"
                                       " FROM minutes WHERE target_id = ?3 AND start >= ?1 AND start < ?2");
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

qint64 HistoryStore::summarisedUntilUs(bool hours) const
{
    sqlite3_stmt* st = prepare("SELECT value FROM meta WHERE key = ?1");
    if (!st)
        return -1;
    Use u(st);
    sqlite3_bind_text(st, 1, hours ? "hours_next" : "minutes_next", -1, SQLITE_STATIC);
    if (sqlite3_step(st) != SQLITE_ROW)
        return -1;
    return sqlite3_column_int64(st, 0) * (hours ? kHourUs : kMinuteUs);
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

qint64 HistoryStore::count(const char* table) const
{
    if (!db_)
        return -1;
    const QByteArray sql = QByteArray("SELECT count(*) FROM ") + table;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.constData(), -1, &st, nullptr) != SQLITE_OK)
        return -1;
    const qint64 n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
    sqlite3_finalize(st);
    return n;
}

qint64 HistoryStore::dataVersion() const
{
    sqlite3_stmt* st = prepare("PRAGMA data_version");
    if (!st)
        return -1;
    Use u(st);
    return sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
}

} // namespace tarvok
