#pragma once
// HistoryStore: the lasting history of judged echoes in one SQLite file
// (history.sqlite in the program folder), read and written through one
// connection on one thread. Writers and readers use connections of their
// own; WAL lets them run side by side, and two processes on one folder share
// the file through short immediate transactions and a busy time-out.
//
// Tables (schema version in PRAGMA user_version, migrated forward on open):
//   targets(id, target, comment, address)    one row per written target,
//                                            comment and answering address
//   statuses(id, code, text)                 the engine's status codes and texts
//   raw(time_us, target_id, rtt_us, flags)   one row per echo, WITHOUT ROWID,
//                                            keyed by time then target, so
//                                            new rows always go to the end
//                                            and no second index is needed;
//                                            flags = status id * 4 + ng * 2 + slow
//   minutes / hours(target_id, start, echoes, lost, slow, min_us, median_us,
//                   max_us, p95_us)          summaries keyed by target then
//                                            period start (minutes, hours
//                                            since the epoch)
//   ledger(id, target_id, start_us, end_us, lost, status_id)
//                                            outages; end_us null while one lasts
//   meta(key, value)                         the summarised periods
// Views for other tools, kept stable across versions: echoes and outages.
//
// Failures come back as a Fault; the caller decides when to try again. A
// file that is no database, or whose pages are damaged, is renamed aside as
// "<file>.broken-<yyyyMMdd-HHmmss>" and a new one is started.

#include <QHash>
#include <QString>
#include <QtGlobal>

#include <array>
#include <limits>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace tarvok {

struct JudgedEcho;

struct HistorySummary {
    qint64 startUs = 0; // period start
    int echoes = 0;
    int lost = 0;
    int slow = 0;
    qint64 minUs = -1; // these four -1 when nothing answered
    qint64 medianUs = -1;
    qint64 maxUs = -1;
    qint64 p95Us = -1;
};

// One target as written, with its comment: what the graph and the ledger
// call a series (its rows may carry several addresses).
struct HistorySeries {
    QString target;
    QString comment;
    bool operator==(const HistorySeries&) const = default;
};

struct HistoryOutage {
    QString target;
    QString comment;
    qint64 startUs = 0;
    qint64 endUs = -1; // -1 while it lasts
    qint64 lost = 0;
    QString reason;
};

class HistoryStore {
public:
    enum class Fault {
        None,
        Busy,       // another process held the file past the busy time-out
        Unwritable, // full disk, read-only file or folder, I/O error
        Damaged,    // renamed aside; a new file was started (or could not be)
    };
    static constexpr int kSchemaVersion = 1;
    static constexpr const char* kFileName = "history.sqlite";
    static constexpr qint64 kMinuteUs = 60'000'000;
    static constexpr qint64 kHourUs = 3'600'000'000;
    // A period is summarised once this long after its end has passed, so
    // that batches still in flight are in.
    static constexpr qint64 kSummaryGraceUs = 5'000'000;

    HistoryStore();
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    // Opens (creating and migrating) the file. `readOnly`: for the window's
    // queries; never creates, migrates or renames anything.
    Fault open(const QString& path, bool readOnly = false);
    void close();
    bool isOpen() const { return db_ != nullptr; }
    QString path() const { return path_; }
    // The file the last Damaged fault renamed aside.
    QString brokenPath() const { return brokenPath_; }
    // SQLite's message for the last failure.
    QString lastError() const { return lastError_; }

    // Writes the echoes in one transaction and keeps the outage ledger. On a
    // fault nothing of the batch is written.
    Fault write(const std::vector<JudgedEcho>& echoes);
    // Summarises the minutes and hours that ended before `nowUs` (less the
    // grace) and were not summarised yet, at most `maxPeriods` of each per
    // call. *more: work is left.
    Fault summarise(qint64 nowUs, int maxPeriods = 30, bool* more = nullptr);
    // One small step of retention: deletes at most `maxRows` old rows of each
    // table. *more: rows older than the limits remain.
    Fault prune(qint64 nowUs, int rawDays, int summaryDays, int maxRows = 5000, bool* more = nullptr);

    // Queries (empty on failure).
    // Outages that overlap [fromUs, toUs), the ongoing ones first, then the
    // newest first.
    std::vector<HistoryOutage> outages(qint64 fromUs = 0, qint64 toUs = std::numeric_limits<qint64>::max()) const;
    // The echoes of one target (as written, with its comment) in
    // [fromUs, toUs) as per-echo points: time and rtt (-1 for lost; slow as
    // flagged).
    struct Point {
        qint64 timeUs;
        qint64 rttUs;
        bool slow;
    };
    std::vector<Point> echoes(const QString& target, const QString& comment, qint64 fromUs, qint64 toUs) const;
    // The same for several series in one pass over the time range: each
    // point with the index of its series in `series`.
    std::vector<std::pair<int, Point>> echoes(const std::vector<HistorySeries>& series, qint64 fromUs,
                                              qint64 toUs) const;
    // Summaries of one target in [fromUs, toUs), from the minutes or hours table.
    std::vector<HistorySummary> summaries(const QString& target, const QString& comment, qint64 fromUs,
                                          qint64 toUs, bool hours) const;
    // Where the summaries of minutes (or hours) end: every period before
    // this time is summarised; -1 when none is.
    qint64 summarisedUntilUs(bool hours) const;
    // The targets (as written, with their comment) most recently added to
    // the file, newest first, at most `limit`.
    std::vector<HistorySeries> recentSeries(int limit) const;
    // Counts, for tests and the benchmark.
    qint64 count(const char* table) const;
    // SQLite's data_version: changes when another connection commits.
    qint64 dataVersion() const;
    // A short text that changes whenever the ledger does (empty on a fault):
    // the window reads the whole ledger again only then.
    QByteArray ledgerStamp() const;

    // Statistics of a list of round trips (sorted in place).
    static void summariseInto(std::vector<qint64>& rtts, HistorySummary& out);

    sqlite3* handle() const { return db_; }

private:
    struct Stmt;
    Fault fail(int rc);
    Fault openFile(bool readOnly);
    Fault migrate();
    Fault setAside();
    bool exec(const char* sql);
    int targetId(const JudgedEcho& e);
    int statusId(int code, const QString& text);
    int lookUpStatusId(int code, const QString& text);
    int batchTargetId(const JudgedEcho& e, QString* series);
    int keepLedger(const JudgedEcho& e, const QString& series, int tid, int sid,
                   std::map<qint64, qint64>& lostSoFar);
    int loadIds();
    Fault summariseTable(bool hours, qint64 nowUs, int maxPeriods, bool* more);
    Fault summarisePeriod(bool hours, qint64 period);
    qint64 firstRowPeriod(qint64 period, qint64 periodUs);
    int pruneStep(const char* edgeSql, const char* delSql, qint64 tid, qint64 cut, int maxRows, bool* left);
    qint64 metaValue(const char* key, qint64 fallback);
    bool setMeta(const char* key, qint64 value);
    sqlite3_stmt* prepare(const char* sql) const;
    void forgetCaches();

    sqlite3* db_ = nullptr;
    QString path_;
    QString brokenPath_;
    mutable QString lastError_;
    mutable int lastRc_ = 0; // of the last failed prepare or id lookup
    bool readOnly_ = false;
    mutable std::unordered_map<const char*, sqlite3_stmt*> stmts_;
    // Ids known to this connection.
    QHash<QString, int> targetIds_;
    QHash<QString, int> statusIds_;
    // The statuses met last, most recent first, ahead of statusIds_: a batch
    // has a handful of them, and its echoes need no key built.
    struct RecentStatus {
        int code = 0;
        QString text;
        int id = -1;
    };
    std::array<RecentStatus, 4> recentStatuses_;
    // Per target and comment: the open outage, if any (0 none); absent: not
    // looked up yet.
    QHash<QString, qint64> openOutage_;
    // The targets and open outages of the file were all read into the maps
    // above by the first batch: a target or series missing there is new.
    bool idsLoaded_ = false;
    int nextTargetId_ = -1; // inside a write: the id of the next new target

    // Per target index of the batch: the last target id and its address.
    struct CachedTarget {
        QString target, comment, address; // shared with the echoes': no copies
        QString series;                   // its key in openOutage_
        int id = -1;
    };
    std::vector<CachedTarget> lastByIndex_;
    qint64 pruneTarget_ = 0; // where the summary pruning goes on
};

} // namespace tarvok
