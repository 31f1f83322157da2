// The graph's columns from the history file: every echo counted once over
// raw rows, minutes and hours and the tails not summarised yet; microseconds
// kept; the worker thread's answers.

#include "history/HistoryGraph.h"
#include "history/HistoryStore.h"
#include "run/EchoObserver.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tarvok;

namespace {

constexpr qint64 kS = 1'000'000;
constexpr qint64 kT0 = 1'796'000'000'000'000 / HistoryStore::kHourUs * HistoryStore::kHourUs;
constexpr qint64 kDays = 3;

JudgedEcho echo(qint64 timeUs, int index, qint64 rttUs)
{
    JudgedEcho e;
    e.timeUs = timeUs;
    e.targetIndex = index;
    e.target = index == 0 ? QStringLiteral("a.test") : QStringLiteral("b.test");
    e.comment = index == 0 ? QStringLiteral("本社") : QString();
    e.address = QStringLiteral("198.18.0.%1").arg(index + 1);
    e.status = rttUs >= 0 ? 0 : 11010;
    e.statusText = rttUs >= 0 ? QStringLiteral("応答") : QStringLiteral("タイムアウト");
    e.rttUs = rttUs;
    e.ng = rttUs < 0;
    e.slow = rttUs > 900;
    return e;
}

// a.test every 30 s answering in 300 to 999 us, b.test every 60 s losing
// one echo in ten; summarised up to `summarisedTo`, so that the last stretch
// has raw rows only (and the last hours minutes only).
void fill(HistoryStore& store, qint64 summarisedTo)
{
    std::vector<JudgedEcho> batch;
    for (qint64 t = kT0; t < kT0 + kDays * 24 * 3600 * kS; t += 30 * kS) {
        const qint64 n = (t - kT0) / (30 * kS);
        batch.push_back(echo(t, 0, 300 + n % 700));
        if (n % 2 == 0)
            batch.push_back(echo(t + kS, 1, n % 20 == 0 ? -1 : 5000));
    }
    ASSERT_EQ(store.write(batch), HistoryStore::Fault::None);
    for (bool more = true; more;)
        ASSERT_EQ(store.summarise(summarisedTo, 100'000, &more), HistoryStore::Fault::None);
}

struct Totals {
    qint64 echoes = 0, lost = 0, slow = 0;
    double min = 1e18, max = 0;
};

Totals totals(const std::vector<LatencyBucket>& row)
{
    Totals t;
    for (const LatencyBucket& b : row) {
        t.echoes += b.echoes;
        t.lost += b.lost;
        t.slow += b.slow;
        if (b.answered() > 0) {
            t.min = std::min(t.min, b.minMs);
            t.max = std::max(t.max, b.maxMs);
        }
    }
    return t;
}

} // namespace

TEST(HistoryGraph, EveryEchoCountsOnceWhateverTheRowsRead)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    const qint64 end = kT0 + kDays * 24 * 3600 * kS;
    {
        HistoryStore writer;
        ASSERT_EQ(writer.open(path), HistoryStore::Fault::None);
        fill(writer, end - 95 * 60 * kS); // the last 1.5 hours: minutes and raw rows only
    }
    HistoryStore store;
    ASSERT_EQ(store.open(path, true), HistoryStore::Fault::None);
    ASSERT_GT(store.summarisedUntilUs(false), store.summarisedUntilUs(true));

    struct Case {
        const char* name;
        qint64 from, to;
        int columns;
    };
    const Case cases[] = {
        {"two hours: raw rows", end - 2 * 3600 * kS, end, 700},
        {"one day: minutes, then raw rows", end - 24 * 3600 * kS, end, 1920},
        {"nine days: hours, minutes, raw rows", kT0 - 6 * 24 * 3600 * kS, end + 3600 * kS, 800},
        {"an old stretch off the hour", kT0 + 1234 * kS, kT0 + 36 * 3600 * kS + 60 * kS, 333},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QElapsedTimer timer;
        timer.start();
        const HistoryGraphResult r = HistoryGraph::read(store, {{{"a.test", "本社"}, {"b.test", ""}}, c.from, c.to, c.columns});
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.rows.size(), 2u);
        ASSERT_EQ(r.rows[0].size(), size_t(c.columns));
        // What the raw rows of the range hold, counted directly.
        Totals want[2];
        for (const auto& [series, p] : store.echoes({{"a.test", "本社"}, {"b.test", ""}}, c.from, c.to)) {
            Totals& w = want[series];
            ++w.echoes;
            w.lost += p.rttUs < 0;
            w.slow += p.slow;
            if (p.rttUs >= 0) {
                w.min = std::min(w.min, p.rttUs / 1000.0);
                w.max = std::max(w.max, p.rttUs / 1000.0);
            }
        }
        for (int k = 0; k < 2; ++k) {
            const Totals got = totals(r.rows[size_t(k)]);
            EXPECT_EQ(got.echoes, want[k].echoes) << k;
            EXPECT_EQ(got.lost, want[k].lost) << k;
            EXPECT_EQ(got.slow, want[k].slow) << k;
            EXPECT_DOUBLE_EQ(got.min, want[k].min) << k;
            EXPECT_DOUBLE_EQ(got.max, want[k].max) << k;
        }
        EXPECT_LT(timer.elapsed(), 2000);
    }

    // Microseconds survive: a.test's medians are fractions of a ms.
    const HistoryGraphResult day = HistoryGraph::read(store, {{{"a.test", "本社"}}, end - 24 * 3600 * kS, end, 100});
    int fractional = 0;
    for (const LatencyBucket& b : day.rows[0])
        if (b.answered() > 0 && b.medianMs > 0.3 && b.medianMs < 1.0 && b.medianMs != std::floor(b.medianMs))
            ++fractional;
    EXPECT_GT(fractional, 90);

    // No series asked for: the ones last recorded. An unknown one: empty.
    const HistoryGraphResult recent = HistoryGraph::read(store, {{}, end - 3600 * kS, end, 10});
    ASSERT_EQ(recent.series.size(), 2u);
    EXPECT_EQ(recent.series[0].target, "b.test");
    const HistoryGraphResult none = HistoryGraph::read(store, {{{"c.test", ""}}, kT0, end, 10});
    EXPECT_EQ(totals(none.rows[0]).echoes, 0);
}

TEST(HistoryGraph, LoaderAnswersOnItsOwnThreadAndTellsAMissingFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    {
        HistoryStore writer;
        ASSERT_EQ(writer.open(path), HistoryStore::Fault::None);
        fill(writer, kT0 + kDays * 24 * 3600 * kS);
    }
    for (const QString& file : {path, dir.filePath(QStringLiteral("missing.sqlite"))}) {
        HistoryGraphLoader loader(file);
        std::shared_ptr<const HistoryGraphResult> got;
        QObject::connect(&loader, &HistoryGraphLoader::loaded,
                         [&](std::shared_ptr<const HistoryGraphResult> r) { got = std::move(r); });
        QSignalSpy spy(&loader, &HistoryGraphLoader::loaded);
        loader.request({{}, kT0, kT0 + 7 * 24 * 3600 * kS, 1920});
        ASSERT_TRUE(spy.wait(10'000));
        ASSERT_TRUE(got);
        EXPECT_EQ(got->ok, file == path);
        EXPECT_EQ(got->series.size(), file == path ? 2u : 0u);
    }
}
