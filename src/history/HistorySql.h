#pragma once
// Helpers of HistoryStore's files: result codes, text binding, statements
// reset after use, and the two summary tables' statements (one pattern, so
// the minutes and the hours are read, written and pruned alike).

#include "history/HistoryStore.h"

#include <QString>

#include <sqlite3.h>

namespace tarvok::historysql {

inline bool isDamage(int rc)
{
    rc &= 0xff;
    return rc == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
}

inline bool isBusy(int rc)
{
    rc &= 0xff;
    return rc == SQLITE_BUSY || rc == SQLITE_LOCKED;
}

inline QString seriesKey(const QString& target, const QString& comment)
{
    return target + QChar(0x1f) + comment;
}

inline void bindText(sqlite3_stmt* st, int i, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(st, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

inline QString columnText(sqlite3_stmt* st, int i)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i)), sqlite3_column_bytes(st, i));
}

inline qint64 columnOr(sqlite3_stmt* st, int i, qint64 fallback)
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

struct SummaryTable {
    const char* name;
    const char* metaKey; // meta row: the first period not summarised yet
    qint64 periodUs;
    const char* select; // ?1 first period, ?2 end period, ?3 target id
    const char* edge;   // ?1 target id, ?2 cut, ?3 rows to keep the step to
    const char* del;    // ?1 target id, ?2 cut
    const char* insert; // ?1 target id, ?2 period, ?3.. ?9 the summary
};

#define TARVOK_SUMMARY_TABLE(name, metaKey, periodUs)                                                             \
    SummaryTable                                                                                                  \
    {                                                                                                             \
        name, metaKey, periodUs,                                                                                  \
            "SELECT start, echoes, lost, slow, min_us, median_us, max_us, p95_us FROM " name                      \
            " WHERE target_id = ?3 AND start >= ?1 AND start < ?2",                                                \
            "SELECT start FROM " name " WHERE target_id = ?1 AND start < ?2 ORDER BY start LIMIT 1 OFFSET ?3",     \
            "DELETE FROM " name " WHERE target_id = ?1 AND start < ?2",                                            \
            "INSERT OR REPLACE INTO " name "(target_id, start, echoes, lost, slow, min_us, median_us, max_us, p95_us)" \
            " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)"                                                          \
    }
inline constexpr SummaryTable kMinutes = TARVOK_SUMMARY_TABLE("minutes", "minutes_next", HistoryStore::kMinuteUs);
inline constexpr SummaryTable kHours = TARVOK_SUMMARY_TABLE("hours", "hours_next", HistoryStore::kHourUs);
#undef TARVOK_SUMMARY_TABLE

inline const SummaryTable& summaryTable(bool hours)
{
    return hours ? kHours : kMinutes;
}

} // namespace tarvok::historysql
