#include "history/HistoryRecorder.h"
#include "history/HistoryStore.h"
#include "run/EchoObserver.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <csignal>
#include <mutex>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

using namespace tarvok;
using Fault = HistoryStore::Fault;

namespace {

constexpr qint64 kT0 = 1'796'000'000'000'000; // 2026-11-29, microseconds

JudgedEcho echo(qint64 timeUs, const QString& target, qint64 rttUs, bool ng = false, int index = 0)
{
    JudgedEcho e;
    e.timeUs = timeUs;
    e.targetIndex = index;
    e.target = target;
    e.comment = QStringLiteral("備考 ") + target;
    e.address = QStringLiteral("198.18.0.") + QString::number(index + 1);
    e.status = rttUs >= 0 ? 0 : 11010;
    e.statusText = rttUs >= 0 ? QStringLiteral("応答") : QStringLiteral("タイムアウト");
    e.rttUs = rttUs;
    e.ng = ng || rttUs < 0;
    return e;
}

// One query's rows as "a|b|c" texts (NULL as "-").
QStringList query(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    QStringList rows;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {QStringLiteral("open failed")};
    }
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
        rows << QString::fromUtf8(sqlite3_errmsg(db));
    } else {
        while (sqlite3_step(st) == SQLITE_ROW) {
            QStringList cells;
            for (int i = 0; i < sqlite3_column_count(st); ++i)
                cells << (sqlite3_column_type(st, i) == SQLITE_NULL
                              ? QStringLiteral("-")
                              : QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, i))));
            rows << cells.join(QLatin1Char('|'));
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return rows;
}

struct HistoryStoreTest : ::testing::Test {
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("history.sqlite")); }
};

} // namespace

TEST_F(HistoryStoreTest, NewFileHasTheSchemaAndTheStableViews)
{
    HistoryStore store;
    ASSERT_EQ(store.open(path()), Fault::None);
    EXPECT_EQ(query(path(), "PRAGMA user_version"), QStringList{QStringLiteral("1")});
    EXPECT_EQ(query(path(), "PRAGMA journal_mode"), QStringList{QStringLiteral("wal")});
    EXPECT_EQ(query(path(), "SELECT group_concat(name, ',') FROM pragma_table_info('echoes')"),
              QStringList{QStringLiteral("time_us,target,comment,address,status,status_text,rtt_us,ng,slow")});
    EXPECT_EQ(query(path(), "SELECT group_concat(name, ',') FROM pragma_table_info('outages')"),
              QStringList{QStringLiteral("target,comment,start_us,end_us,echoes_lost,first_status_text")});

    // Round trip through the view: microseconds, no reply as NULL, flags.
    JudgedEcho slow = echo(kT0 + 2, QStringLiteral("a"), 812'345);
    slow.slow = true;
    slow.ng = true;
    ASSERT_EQ(store.write({echo(kT0, QStringLiteral("a"), 187), echo(kT0 + 1, QStringLiteral("a"), -1), slow}),
              Fault::None);
    EXPECT_EQ(query(path(), "SELECT time_us, target, comment, address, status, status_text, rtt_us, ng, slow"
                            " FROM echoes ORDER BY time_us"),
              (QStringList{QStringLiteral("1796000000000000|a|備考 a|198.18.0.1|0|応答|187|0|0"),
                           QStringLiteral("1796000000000001|a|備考 a|198.18.0.1|11010|タイムアウト|-|1|0"),
                           QStringLiteral("1796000000000002|a|備考 a|198.18.0.1|0|応答|812345|1|1")}));
}

TEST_F(HistoryStoreTest, OlderFilesMigrateForwardAndNewerOnesAreLeftAlone)
{
    {
        // A file of version 0: an empty database someone created.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(path()).constData(), &db), SQLITE_OK);
        sqlite3_exec(db, "CREATE TABLE other(x); INSERT INTO other VALUES(7);", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    {
        HistoryStore store;
        ASSERT_EQ(store.open(path()), Fault::None);
        EXPECT_EQ(store.count("raw"), 0);
    }
    EXPECT_EQ(query(path(), "SELECT x FROM other"), QStringList{QStringLiteral("7")});
    EXPECT_EQ(query(path(), "PRAGMA user_version"), QStringList{QStringLiteral("1")});

    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(path()).constData(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    HistoryStore store;
    EXPECT_EQ(store.open(path()), Fault::Unwritable);
    EXPECT_FALSE(store.isOpen());
    EXPECT_EQ(query(path(), "PRAGMA user_version"), QStringList{QStringLiteral("99")});
}

TEST_F(HistoryStoreTest, LedgerBoundaries)
{
    // Per case the judgements of one target in time order ('+' OK, '-' lost,
    // 's' slow NG), split into batches at '|' with the file reopened in
    // between (a new run, or the next periodic pass); expected outages as
    // "start-end:lost" (end "-" while it lasts), newest first.
    struct Case {
        const char* name;
        const char* echoes;
        QStringList outages;
    } cases[] = {
        {"none", "+++", {}},
        {"at the start", "--++", {"0-2:2"}},
        {"ongoing", "++--", {"2--:2"}},
        {"across passes", "+-|--|-+", {"1-5:4"}},
        {"two, the ongoing first", "-+-+--", {"4--:2", "2-3:1", "0-1:1"}},
        {"slow replies count as NG, not as lost", "+ss-+", {"1-4:1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path());
        QFile::remove(path() + QStringLiteral("-wal"));
        QFile::remove(path() + QStringLiteral("-shm"));
        auto store = std::make_unique<HistoryStore>();
        ASSERT_EQ(store->open(path()), Fault::None);
        std::vector<JudgedEcho> batch;
        qint64 t = 0;
        for (const char* p = c.echoes; *p; ++p) {
            if (*p == '|') {
                ASSERT_EQ(store->write(batch), Fault::None);
                batch.clear();
                store = std::make_unique<HistoryStore>();
                ASSERT_EQ(store->open(path()), Fault::None);
                continue;
            }
            JudgedEcho e = echo(kT0 + t++, QStringLiteral("host"), *p == '-' ? -1 : 900);
            e.slow = e.ng = *p == 's';
            if (*p == '-')
                e.ng = true;
            batch.push_back(e);
        }
        ASSERT_EQ(store->write(batch), Fault::None);
        QStringList got;
        for (const HistoryOutage& o : store->outages())
            got << QStringLiteral("%1-%2:%3")
                       .arg(o.startUs - kT0)
                       .arg(o.endUs < 0 ? QStringLiteral("-") : QString::number(o.endUs - kT0))
                       .arg(o.lost);
        EXPECT_EQ(got, c.outages);
    }
}

TEST_F(HistoryStoreTest, SummariesPerMinuteAndHour)
{
    HistoryStore store;
    ASSERT_EQ(store.open(path()), Fault::None);
    const qint64 minute = (kT0 / HistoryStore::kHourUs) * HistoryStore::kHourUs; // on an hour
    std::vector<JudgedEcho> batch;
    // Minute 0: rtts 1..20 ms and two losses; minute 1: one echo.
    for (int i = 1; i <= 20; ++i)
        batch.push_back(echo(minute + i * 1000, QStringLiteral("a"), i * 1000));
    batch.push_back(echo(minute + 30'000'000, QStringLiteral("a"), -1));
    batch.push_back(echo(minute + 40'000'000, QStringLiteral("a"), -1));
    batch.push_back(echo(minute + HistoryStore::kMinuteUs + 5, QStringLiteral("a"), 42));
    ASSERT_EQ(store.write(batch), Fault::None);

    // Nothing is summarised before the grace after the minute's end.
    ASSERT_EQ(store.summarise(minute + HistoryStore::kMinuteUs + 1'000'000), Fault::None);
    EXPECT_EQ(store.count("minutes"), 0);
    ASSERT_EQ(store.summarise(minute + HistoryStore::kHourUs + HistoryStore::kSummaryGraceUs), Fault::None);
    const auto minutes = store.summaries(QStringLiteral("a"), QStringLiteral("備考 a"), minute,
                                         minute + HistoryStore::kHourUs, false);
    ASSERT_EQ(minutes.size(), 2u);
    EXPECT_EQ(minutes[0].startUs, minute);
    EXPECT_EQ(minutes[0].echoes, 22);
    EXPECT_EQ(minutes[0].lost, 2);
    EXPECT_EQ(minutes[0].minUs, 1000);
    EXPECT_EQ(minutes[0].medianUs, 10'500);
    EXPECT_EQ(minutes[0].maxUs, 20'000);
    EXPECT_EQ(minutes[0].p95Us, 19'000);
    EXPECT_EQ(minutes[1].echoes, 1);
    EXPECT_EQ(minutes[1].medianUs, 42);
    const auto hours = store.summaries(QStringLiteral("a"), QStringLiteral("備考 a"), minute,
                                       minute + HistoryStore::kHourUs, true);
    ASSERT_EQ(hours.size(), 1u);
    EXPECT_EQ(hours[0].echoes, 23);
    EXPECT_EQ(hours[0].minUs, 42);
    // Summarising again changes nothing.
    ASSERT_EQ(store.summarise(minute + 3 * HistoryStore::kHourUs), Fault::None);
    EXPECT_EQ(store.count("minutes"), 2);
    EXPECT_EQ(store.count("hours"), 1);

    // An echo judged late, into a minute and an hour already summarised, and
    // a second echo of the same target in the same microsecond: both count.
    ASSERT_EQ(store.write({echo(minute + 1000, QStringLiteral("a"), 500), echo(minute + 50'000'000, QStringLiteral("a"), 7000)}),
              Fault::None);
    EXPECT_EQ(store.count("raw"), 25);
    ASSERT_EQ(store.summarise(minute + 3 * HistoryStore::kHourUs), Fault::None);
    const auto again = store.summaries(QStringLiteral("a"), QStringLiteral("備考 a"), minute,
                                       minute + HistoryStore::kHourUs, false);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0].echoes, 24);
    EXPECT_EQ(again[0].minUs, 500);
    EXPECT_EQ(store.summaries(QStringLiteral("a"), QStringLiteral("備考 a"), minute, minute + HistoryStore::kHourUs, true)
                  .at(0)
                  .echoes,
              25);
}

TEST_F(HistoryStoreTest, RetentionRemovesOldRowsInSmallSteps)
{
    HistoryStore store;
    ASSERT_EQ(store.open(path()), Fault::None);
    constexpr qint64 kDay = 86'400'000'000;
    const qint64 now = kT0 + 20 * kDay;
    std::vector<JudgedEcho> batch;
    // 2,500 echoes 15 days old (past the 14 raw days), 100 of today.
    for (int i = 0; i < 2500; ++i)
        batch.push_back(echo(now - 15 * kDay + qint64(i) * 1'000'000, QStringLiteral("a"), 500));
    for (int i = 0; i < 100; ++i)
        batch.push_back(echo(now - 60'000'000 + i * 10'000, QStringLiteral("a"), 500));
    ASSERT_EQ(store.write(batch), Fault::None);
    for (bool more = true; more;)
        ASSERT_EQ(store.summarise(now, 30, &more), Fault::None);
    const qint64 minutesBefore = store.count("minutes");
    ASSERT_GT(minutesBefore, 40);

    int steps = 0;
    bool more = true;
    std::vector<qint64> rawLeft;
    while (more && steps < 20) {
        ASSERT_EQ(store.prune(now, 14, 400, 1000, &more), Fault::None);
        rawLeft.push_back(store.count("raw"));
        ++steps;
    }
    EXPECT_FALSE(more);
    ASSERT_GE(rawLeft.size(), 3u);
    EXPECT_EQ(rawLeft[0], 1600); // at most 1,000 rows per step
    EXPECT_EQ(rawLeft[1], 600);
    EXPECT_EQ(rawLeft.back(), 100);
    // Minute summaries go with the raw echoes, hours stay for the summary days.
    EXPECT_LT(store.count("minutes"), minutesBefore);
    EXPECT_EQ(store.count("minutes"), 1); // today's
    EXPECT_GE(store.count("hours"), 1);
}

TEST_F(HistoryStoreTest, DamagedFileIsSetAsideAndANewOneStarted)
{
    QFile f(path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(8192, 'x'));
    f.close();

    HistoryStore store;
    EXPECT_EQ(store.open(path()), Fault::Damaged);
    ASSERT_TRUE(store.isOpen());
    EXPECT_TRUE(store.brokenPath().startsWith(path() + QStringLiteral(".broken-")));
    QFile broken(store.brokenPath());
    ASSERT_TRUE(broken.open(QIODevice::ReadOnly));
    EXPECT_EQ(broken.readAll(), QByteArray(8192, 'x'));
    EXPECT_EQ(store.write({echo(kT0, QStringLiteral("a"), 1)}), Fault::None);
    EXPECT_EQ(store.count("raw"), 1);

    // A page damaged later: found while writing; the recorder sets it aside,
    // says so once, and records on into a new file.
    store.close();
    {
        QFile g(path());
        ASSERT_TRUE(g.open(QIODevice::ReadWrite));
        g.seek(4096);
        g.write(QByteArray(4096 * 3, '\xff'));
    }
    QStringList notices;
    std::mutex m;
    HistoryRecorder rec(path(), [&](const QString& n) {
        std::lock_guard lock(m);
        notices << n;
    });
    rec.start();
    for (int i = 0; i < 10; ++i)
        rec.echoJudged(echo(kT0 + 10 + i, QStringLiteral("a"), 1));
    EXPECT_TRUE(rec.flush());
    rec.stop();
    std::lock_guard lock(m);
    ASSERT_EQ(notices.size(), 1) << notices.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(notices[0].contains(QStringLiteral(".broken-"))) << notices[0].toStdString();
    EXPECT_EQ(query(path(), "SELECT count(*) FROM echoes"), QStringList{QStringLiteral("10")});
    EXPECT_EQ(query(path(), "PRAGMA integrity_check"), QStringList{QStringLiteral("ok")});
}

TEST_F(HistoryStoreTest, TwoWritersOnOneFileLoseNothing)
{
    constexpr int kEach = 20'000;
    HistoryRecorder a(path(), [](const QString& n) { ADD_FAILURE() << n.toStdString(); });
    HistoryRecorder b(path(), [](const QString& n) { ADD_FAILURE() << n.toStdString(); });
    a.setFlushIntervalMs(5);
    b.setFlushIntervalMs(5);
    a.start();
    b.start();
    std::thread ta([&] {
        for (int i = 0; i < kEach; ++i)
            a.echoJudged(echo(kT0 + 2 * i, QStringLiteral("a"), 100 + i % 7, false, 0));
    });
    std::thread tb([&] {
        for (int i = 0; i < kEach; ++i)
            b.echoJudged(echo(kT0 + 2 * i + 1, QStringLiteral("b"), i % 5 ? 100 : -1, false, 0));
    });
    ta.join();
    tb.join();
    EXPECT_TRUE(a.flush());
    EXPECT_TRUE(b.flush());
    // A target new to both, added by one after the other had read the
    // file's targets: both find the one row.
    a.echoJudged(echo(kT0 + 2 * kEach, QStringLiteral("new"), 100, false, 1));
    EXPECT_TRUE(a.flush());
    b.echoJudged(echo(kT0 + 2 * kEach + 1, QStringLiteral("new"), 100, false, 1));
    EXPECT_TRUE(b.flush());
    a.stop();
    b.stop();
    EXPECT_EQ(query(path(), "SELECT target, count(*) FROM echoes GROUP BY target"),
              (QStringList{QStringLiteral("a|20000"), QStringLiteral("b|20000"), QStringLiteral("new|2")}));
    EXPECT_EQ(query(path(), "SELECT count(*) FROM targets WHERE target = 'new'"), QStringList{QStringLiteral("1")});
}

// A child process records without pause and is killed in the middle of its
// work: the file is sound, holds every echo that a flush had confirmed, and
// whole batches only (no gaps). The writer commits at least every 250 ms, so
// what a kill can take is the last fraction of a second.
TEST_F(HistoryStoreTest, KillDuringABatchKeepsEveryCommittedEcho)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        HistoryRecorder rec(path(), {});
        rec.start();
        for (qint64 i = 0;; ++i) {
            rec.echoJudged(echo(kT0 + i, QStringLiteral("a"), i % 97 ? 300 : -1));
            if (i % 20'000 == 19'999 && (i / 20'000) % 3 == 0) {
                const qint64 confirmed = rec.flush() ? i + 1 : 0;
                if (write(fds[1], &confirmed, sizeof confirmed) != sizeof confirmed)
                    _exit(3);
            }
        }
    }
    close(fds[1]);
    qint64 confirmed = 0, n = 0;
    for (int reports = 0; reports < 4 && read(fds[0], &n, sizeof n) == sizeof n; ++reports)
        confirmed = std::max(confirmed, n);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_GT(confirmed, 0);

    EXPECT_EQ(query(path(), "PRAGMA integrity_check"), QStringList{QStringLiteral("ok")});
    const QStringList rows = query(path(), "SELECT count(*), max(time_us) FROM raw");
    ASSERT_EQ(rows.size(), 1);
    const qint64 count = rows[0].section(QLatin1Char('|'), 0, 0).toLongLong();
    EXPECT_GE(count, confirmed);
    EXPECT_EQ(rows[0].section(QLatin1Char('|'), 1, 1).toLongLong() - kT0 + 1, count);
}

// A file-size limit stands for a full disk: one notice, the echoes wait in
// memory, and recording resumes with all of them once there is room again.
TEST_F(HistoryStoreTest, FullDiskNoticesOnceAndResumes)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        int notices = 0;
        std::mutex m;
        HistoryRecorder rec(path(), [&](const QString&) {
            std::lock_guard lock(m);
            ++notices;
        });
        rec.setFlushIntervalMs(10);
        rec.start();
        rec.echoJudged(echo(kT0, QStringLiteral("a"), 1));
        if (!rec.flush())
            _exit(10);
        rlimit small{256 * 1024, RLIM_INFINITY};
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        small.rlim_max = old.rlim_max;
        setrlimit(RLIMIT_FSIZE, &small);
        bool failed = false;
        qint64 i = 1;
        for (int batch = 0; batch < 200 && !failed; ++batch) {
            for (int k = 0; k < 1000; ++k, ++i)
                rec.echoJudged(echo(kT0 + i, QStringLiteral("a"), i));
            failed = !rec.flush();
        }
        if (!failed)
            _exit(11);
        for (int k = 0; k < 5; ++k, ++i) {
            rec.echoJudged(echo(kT0 + i, QStringLiteral("a"), i));
            (void)rec.flush();
        }
        {
            std::lock_guard lock(m);
            if (notices != 1)
                _exit(12);
        }
        setrlimit(RLIMIT_FSIZE, &old);
        if (!rec.flush())
            _exit(13);
        rec.stop();
        HistoryStore check;
        if (check.open(path()) != Fault::None || check.count("raw") != i || rec.dropped() != 0)
            _exit(14);
        _exit(notices == 1 ? 0 : 15);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A folder the history cannot be written to: one notice, the echoes wait in
// memory and nothing blocks the run; once the folder can be written, every
// one of them is recorded. As root the child first takes an ordinary user's
// rights, or the folder's mode would not stop it.
TEST_F(HistoryStoreTest, ReadOnlyFolderNoticesOnceAndResumes)
{
    const QString folder = dir.filePath(QStringLiteral("ro"));
    ASSERT_TRUE(QDir().mkdir(folder));
    ASSERT_EQ(chmod(QFile::encodeName(dir.path()).constData(), 0711), 0);
    const QByteArray native = QFile::encodeName(folder);
    const QString file = folder + QStringLiteral("/history.sqlite");
    // In a child: the rights it gives up stay there.
    auto body = [&]() -> int {
        if (geteuid() == 0
            && (chown(native.constData(), 65534, 65534) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            return 20;
        if (chmod(native.constData(), 0555) != 0)
            return 21;
        std::atomic<int> notices{0};
        HistoryRecorder rec(file, [&](const QString&) { ++notices; });
        rec.setFlushIntervalMs(10);
        rec.start();
        for (int i = 0; i < 100; ++i) {
            rec.echoJudged(echo(kT0 + i, QStringLiteral("a"), i));
            if (i % 10 == 9 && rec.flush())
                return 22; // written into a read-only folder
        }
        if (notices != 1)
            return 23;
        if (chmod(native.constData(), 0755) != 0)
            return 24;
        rec.stop(); // writes what waits
        HistoryStore check;
        const bool all = check.open(file) == Fault::None && check.count("raw") == 100 && rec.dropped() == 0;
        return !all ? 25 : notices == 1 ? 0 : 26;
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
