// The history file: recording speed, size on disk and the reads of the
// window. Prints "name value" lines:
//   echoes_per_second          judged echoes written per second of processor
//                              time, in batches of 10,000 (100 targets)
//   bytes_per_raw_echo         pages of the raw table per echo, key included
//   summary_bytes_per_target_day  minute and hour summaries of one target
//                              answering every 10 seconds for a day
//   graph_query_ms             30 days of 100 targets read for 1,920 columns
//                              the way the graph reads them
//   ledger_year_ms             the outage ledger of a year (100,000 outages)
//                              (these two: the fastest of seven reads)
//   open_ms                    opening a history of that size

#include "BenchMeasures.h"
#include "history/HistoryGraph.h"
#include "history/HistoryStore.h"
#include "run/EchoObserver.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <sqlite3.h>

using namespace tarvok;

namespace {

constexpr qint64 kStart = 1'767'225'600'000'000; // 2026-01-01 UTC
constexpr qint64 kDay = 86'400'000'000;

void exec(HistoryStore& s, const char* sql)
{
    char* msg = nullptr;
    if (sqlite3_exec(s.handle(), sql, nullptr, nullptr, &msg) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql, msg);
        sqlite3_free(msg);
    }
}

qint64 tableBytes(HistoryStore& s, const char* name)
{
    sqlite3_stmt* st = nullptr;
    qint64 bytes = -1;
    if (sqlite3_prepare_v2(s.handle(), "SELECT sum(pgsize) FROM dbstat WHERE name = ?1", -1, &st, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(st, 1, name, -1, SQLITE_STATIC);
        if (sqlite3_step(st) == SQLITE_ROW)
            bytes = sqlite3_column_int64(st, 0);
    }
    sqlite3_finalize(st);
    return bytes;
}

std::vector<JudgedEcho> makeTargets(int n)
{
    std::vector<JudgedEcho> t;
    t.resize(size_t(n));
    for (int i = 0; i < n; ++i) {
        t[size_t(i)].targetIndex = i;
        t[size_t(i)].target = QStringLiteral("host%1.example.test").arg(i);
        t[size_t(i)].comment = QStringLiteral("棚 %1").arg(i);
        t[size_t(i)].address = QStringLiteral("198.18.%1.%2").arg(i / 200).arg(i % 200 + 1);
    }
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const int total = argc > 1 ? std::atoi(argv[1]) : 2'000'000;
    std::mt19937 rng(7);
    std::lognormal_distribution<double> rtt(6.5, 0.8); // around 700 us

    // Recording: 100 targets, one echo each per second, 1 % lost.
    HistoryStore store;
    if (store.open(dir.filePath(QStringLiteral("rec.sqlite"))) != HistoryStore::Fault::None)
        return 1;
    std::vector<JudgedEcho> targets = makeTargets(100);
    std::vector<JudgedEcho> batch;
    double cpu = 0;
    qint64 t = kStart;
    for (int done = 0; done < total;) {
        batch.clear();
        for (int k = 0; k < 10'000; ++k, ++done) {
            JudgedEcho e = targets[size_t(done % 100)];
            e.timeUs = t + (done % 100) * 7'919 + (done / 100) * 1'000'000;
            const bool lost = rng() % 100 == 0;
            e.status = lost ? 11010 : 0;
            e.statusText = lost ? QStringLiteral("タイムアウト") : QStringLiteral("応答");
            e.rttUs = lost ? -1 : qint64(rtt(rng));
            e.ng = lost;
            batch.push_back(std::move(e));
        }
        double c = 0;
        elapsedMs([&] { store.write(batch); }, &c);
        cpu += c;
    }
    std::printf("echoes_per_second %.0f\n", total / (cpu / 1000.0));
    exec(store, "PRAGMA wal_checkpoint(TRUNCATE)");
    std::printf("bytes_per_raw_echo %.1f\n", double(tableBytes(store, "raw")) / double(store.count("raw")));
    std::fflush(stdout);

    // Summaries of a day: the raw rows above cover total / 100 seconds.
    const qint64 end = kStart + qint64(total / 100) * 1'000'000;
    for (bool more = true; more;)
        store.summarise(end + HistoryStore::kHourUs, 1000, &more);
    exec(store, "PRAGMA wal_checkpoint(TRUNCATE)");
    const double days = double(end - kStart) / double(kDay);
    const double perDay = double(tableBytes(store, "minutes") + tableBytes(store, "hours")) / 100.0 / days;
    // One echo every 10 s instead of every second: the same summary rows.
    std::printf("summary_bytes_per_target_day %.0f\n", perDay);
    store.close();

    // 30 days of hour summaries of 100 targets and a year of outages.
    const QString big = dir.filePath(QStringLiteral("year.sqlite"));
    {
        HistoryStore y;
        y.open(big);
        batch = makeTargets(100);
        for (auto& e : batch) {
            e.timeUs = kStart;
            e.statusText = QStringLiteral("応答");
            e.rttUs = 500;
        }
        y.write(batch);
        exec(y, "BEGIN");
        exec(y, "WITH RECURSIVE h(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM h WHERE n < 365 * 24 - 1)"
                " INSERT INTO hours SELECT t.id, 491000 + h.n, 360, 2, 0, 200, 700, 9000, 3000 FROM h, targets t");
        exec(y, "INSERT INTO statuses(id, code, text) VALUES(1, 11010, 'タイムアウト')");
        // Everything summarised: the graph reads hours only.
        exec(y, "INSERT OR REPLACE INTO meta(key, value) VALUES('hours_next', 491000 + 365 * 24),"
                " ('minutes_next', (491000 + 365 * 24) * 60)");
        exec(y, "WITH RECURSIVE o(n) AS (SELECT 0 UNION ALL SELECT n + 1 FROM o WHERE n < 99999)"
                " INSERT INTO ledger(target_id, start_us, end_us, lost, status_id)"
                " SELECT n % 100, 1767225600000000 + n * 315360000, 1767225600000000 + n * 315360000 + 60000000,"
                " 12, 1 FROM o");
        exec(y, "COMMIT");
        exec(y, "PRAGMA wal_checkpoint(TRUNCATE)");
    }
    HistoryStore reader;
    const double openMs = elapsedMs([&] { reader.open(big, true); });
    const qint64 to = kStart + 365 * kDay;
    const qint64 from = to - 30 * kDay;
    HistoryGraphRequest request{{}, from, to, 1920};
    for (int i = 0; i < 100; ++i)
        request.series.push_back({QStringLiteral("host%1.example.test").arg(i), QStringLiteral("棚 %1").arg(i)});
    // The fastest of seven reads of each: a shared machine only ever adds.
    qint64 points = 0;
    size_t outages = 0;
    double graphMs = 1e9, graphCpu = 1e9, ledgerMs = 1e9, ledgerCpu = 1e9;
    for (int run = 0; run < 7; ++run) {
        double readCpu = 0;
        graphMs = std::min(graphMs, elapsedMs([&] {
            points = 0;
            const HistoryGraphResult r = HistoryGraph::read(reader, request);
            for (const auto& row : r.rows)
                for (const LatencyBucket& b : row)
                    points += b.empty() ? 0 : 1;
        }, &readCpu));
        graphCpu = std::min(graphCpu, readCpu);
        ledgerMs = std::min(ledgerMs, elapsedMs([&] { outages = reader.outages().size(); }, &readCpu));
        ledgerCpu = std::min(ledgerCpu, readCpu);
    }
    std::printf("graph_query_ms %.1f\n", graphMs);
    std::printf("ledger_year_ms %.1f\n", ledgerMs);
    std::printf("open_ms %.1f\n", openMs);
    std::fprintf(stderr, "graph columns drawn %lld (%.1f ms processor), outages %zu (%.1f ms processor)\n",
                 static_cast<long long>(points), graphCpu, outages, ledgerCpu);
    return 0;
}
