#include "history/HistoryStore.h"

#include "history/HistorySql.h"

#include <QDateTime>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <map>

namespace tarvok {

namespace {

constexpr int kBusyTimeoutMs = 5000;
// A reader (the window's ledger) tries again at its next refresh instead.
constexpr int kReaderBusyTimeoutMs = 50;

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

} // namespace

using namespace historysql;

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
    recentStatuses_ = {};
    openOutage_.clear();
    lastByIndex_.clear();
    idsLoaded_ = false;
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
    recentStatuses_ = {};
    openOutage_.clear();
    lastByIndex_.clear();
    idsLoaded_ = false;
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
    sqlite3_busy_timeout(db_, readOnly ? kReaderBusyTimeoutMs : kBusyTimeoutMs);
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

QByteArray HistoryStore::ledgerStamp() const
{
    // Changes when an outage opens or ends and when an ongoing one loses an
    // echo; the ongoing ones are few and found through their own index.
    sqlite3_stmt* st = prepare("SELECT (SELECT max(id) FROM ledger),"
                               " (SELECT count(*) FROM ledger INDEXED BY ledger_open WHERE end_us IS NULL),"
                               " (SELECT total(lost) FROM ledger INDEXED BY ledger_open WHERE end_us IS NULL)");
    if (!st)
        return {};
    Use u(st);
    if (sqlite3_step(st) != SQLITE_ROW)
        return {};
    return QByteArray::number(sqlite3_column_int64(st, 0)) + '|' + QByteArray::number(sqlite3_column_int64(st, 1)) + '|'
           + QByteArray::number(sqlite3_column_int64(st, 2));
}

} // namespace tarvok
