// The latency history: storage of echoes and their aggregation into buckets.

#include "monitor/LatencyHistory.h"

#include <gtest/gtest.h>

using namespace tarvok;

namespace {

// A history over `targets` targets begun at monotonic time 1000.
struct Hist {
    LatencyHistory h;
    explicit Hist(int targets = 2)
    {
        QStringList addresses, comments;
        for (int i = 0; i < targets; ++i) {
            addresses << QStringLiteral("10.0.0.%1").arg(i + 1);
            comments << QStringLiteral("拠点%1").arg(i + 1);
        }
        h.reset(addresses, comments, QDateTime(QDate(2026, 12, 7), QTime(9, 30)), 1000);
    }
    void ok(int target, qint64 ms, quint32 rtt) { h.record(target, 1000 + ms, true, rtt); }
    void lost(int target, qint64 ms) { h.record(target, 1000 + ms, false, 0); }
    std::vector<LatencyBucket> agg(int target, qint64 from, qint64 to, int columns, qint64 slow = 0)
    {
        std::vector<LatencyBucket> out;
        h.aggregate(target, from, to, columns, slow, out);
        return out;
    }
};

std::vector<quint32> echoesPerBucket(const std::vector<LatencyBucket>& b)
{
    std::vector<quint32> n;
    for (const LatencyBucket& x : b)
        n.push_back(x.echoes);
    return n;
}

} // namespace

TEST(LatencyHistory, BucketBoundariesAreHalfOpenAndEven)
{
    Hist x;
    // Before the window, on the first boundary, just before and on an inner
    // boundary, the last millisecond, and the window's end (excluded).
    for (qint64 t : {-1, 0, 99, 100, 999, 1000})
        x.ok(0, 1000 + t, 5);
    EXPECT_EQ(echoesPerBucket(x.agg(0, 1000, 2000, 10)),
              (std::vector<quint32>{2, 1, 0, 0, 0, 0, 0, 0, 0, 1}));

    // A span that the columns do not divide: bucket i starts at
    // ceil(i * span / columns): 0, 334, 667.
    Hist y;
    for (qint64 t : {333, 334, 666, 667})
        y.ok(0, t, 5);
    EXPECT_EQ(echoesPerBucket(y.agg(0, 0, 1000, 3)), (std::vector<quint32>{1, 2, 1}));

    // A window that starts and ends inside chunks of a long history (the
    // first chunks hold 16, 32, 64 echoes): echoes every 10 ms from 0 to 990.
    Hist z;
    for (int i = 0; i < 100; ++i)
        z.ok(0, i * 10, quint32(i));
    const auto one = z.agg(0, 155, 505, 1);
    EXPECT_EQ(one[0].echoes, 35u); // 160 .. 500
    EXPECT_EQ(one[0].minMs, 16u);
    EXPECT_EQ(one[0].maxMs, 50u);
    EXPECT_EQ(z.h.lastMs(), 990);
}

TEST(LatencyHistory, MedianMinMaxLossesAndSlowEchoes)
{
    Hist x;
    for (quint32 rtt : {30u, 10u, 20u}) // odd count: the middle value
        x.ok(0, 0, rtt);
    for (quint32 rtt : {40u, 10u, 25u, 1u}) // even: the mean of the middle two
        x.ok(0, 1000, rtt);
    x.lost(0, 1500);
    x.lost(0, 2000); // a bucket of losses only
    x.lost(0, 2001);
    x.ok(0, 3000, 500); // the slow threshold itself counts as slow
    x.ok(0, 3001, 499);

    const auto b = x.agg(0, 0, 4000, 4, 500);
    EXPECT_EQ(b[0].medianMs, 20.0);
    EXPECT_EQ(b[0].minMs, 10u);
    EXPECT_EQ(b[0].maxMs, 30u);
    EXPECT_EQ(b[1].echoes, 5u);
    EXPECT_EQ(b[1].lost, 1u);
    EXPECT_EQ(b[1].answered(), 4u);
    EXPECT_EQ(b[1].medianMs, 17.5);
    EXPECT_EQ(b[1].minMs, 1u);
    EXPECT_EQ(b[1].maxMs, 40u);
    EXPECT_EQ(b[2].echoes, 2u);
    EXPECT_EQ(b[2].lost, 2u);
    EXPECT_EQ(b[2].answered(), 0u);
    EXPECT_EQ(b[3].slow, 1u);
    EXPECT_EQ(x.agg(0, 0, 4000, 4, 0)[3].slow, 0u); // no threshold: nothing is slow

    // Round-trip times are exact below 32768 ms and in 4 ms steps above.
    x.ok(1, 0, 32767);
    x.ok(1, 1, 32768);
    x.ok(1, 2, 100001);
    x.ok(1, 3, 4'000'000'000u); // out of any engine's range: the largest code, not a loss
    const auto big = x.agg(1, 0, 4, 4);
    EXPECT_EQ(big[0].maxMs, 32767u);
    EXPECT_EQ(big[1].maxMs, 32768u);
    EXPECT_EQ(big[2].maxMs, 100000u);
    EXPECT_EQ(big[3].lost, 0u);
    EXPECT_GT(big[3].maxMs, 100000u);
}

TEST(LatencyHistory, WideBucketsTakeWholeBlocksAsOne)
{
    // 1000 echoes 1 ms apart, every 10th lost, round-trip times cycling 0..99.
    Hist x(1);
    for (int i = 0; i < 1000; ++i) {
        if (i % 10 == 9)
            x.lost(0, i);
        else
            x.ok(0, i, quint32(i * 7 % 100));
    }
    // One bucket over everything, one starting mid-block: counts and
    // extremes exact, the median close to the true one (49 or 50).
    for (qint64 from : {0, 30}) {
        const LatencyBucket b = x.agg(0, from, 1000, 1)[0];
        EXPECT_EQ(b.echoes, quint32(1000 - from));
        EXPECT_EQ(b.lost, quint32((1000 - from) / 10));
        EXPECT_EQ(b.minMs, 0u);
        EXPECT_EQ(b.maxMs, 99u);
        EXPECT_NEAR(b.medianMs, 49.5, 3.0);
    }
    // Slow echoes are found inside blocks too.
    EXPECT_GT(x.agg(0, 0, 1000, 1, 99)[0].slow, 0u);
    // Buckets narrower than a block stay exact: 50 echoes each.
    const auto narrow = x.agg(0, 0, 1000, 20);
    for (const LatencyBucket& b : narrow) {
        EXPECT_EQ(b.echoes, 50u);
        EXPECT_EQ(b.lost, 5u);
    }
}

TEST(LatencyHistory, EmptyTargetsAndWindowsGiveEmptyBuckets)
{
    Hist x(3);
    x.ok(0, 10, 5);
    for (int target : {1, 2, -1, 3}) // no echoes yet, and targets that do not exist
        for (const LatencyBucket& b : x.agg(target, 0, 100, 5))
            EXPECT_TRUE(b.empty());
    EXPECT_EQ(x.agg(0, 0, 100, 5).size(), 5u);
    EXPECT_TRUE(x.agg(0, 100, 100, 5)[0].empty()); // empty span
    EXPECT_TRUE(x.agg(0, 0, 100, 0).empty());      // no columns
    EXPECT_TRUE(x.agg(0, 11, 100, 1)[0].empty());  // after the last echo
    x.h.record(7, 2000, true, 1);                  // an unknown target is ignored
    EXPECT_EQ(x.h.echoCount(), 1);
}

TEST(LatencyHistory, ResetAndClearDropEverything)
{
    Hist x;
    x.ok(0, 5, 1);
    x.ok(0, 3, 2); // earlier than the previous echo: kept in order, at 5
    EXPECT_EQ(x.agg(0, 5, 6, 1)[0].echoes, 2u);
    const quint64 rev = x.h.revision();

    x.h.clear();
    EXPECT_GT(x.h.revision(), rev);
    EXPECT_EQ(x.h.targetCount(), 0);
    EXPECT_EQ(x.h.echoCount(), 0);
    EXPECT_EQ(x.h.lastMs(), -1);
    EXPECT_EQ(x.h.address(0), QString());
    EXPECT_TRUE(x.agg(0, 0, 10, 1)[0].empty());
    x.ok(0, 1, 1); // nothing to record into
    EXPECT_EQ(x.h.echoCount(), 0);

    Hist y;
    y.ok(1, 100, 9);
    y.h.reset({"a"}, {""}, QDateTime(QDate(2026, 12, 8), QTime(0, 0)), 5000);
    EXPECT_EQ(y.h.targetCount(), 1);
    EXPECT_EQ(y.h.echoCount(), 0);
    EXPECT_EQ(y.h.address(0), "a");
    y.h.record(0, 4000, true, 3); // before the run's start: at its start
    EXPECT_EQ(y.h.lastMs(), 0);
}

TEST(LatencyHistory, StaysCompactForManyTargetsAndLongRuns)
{
    Hist x(1000);
    for (int round = 0; round < 300; ++round)
        for (int t = 0; t < 1000; ++t)
            x.ok(t, qint64(round) * 1000 + t, quint32(t));
    EXPECT_EQ(x.h.echoCount(), 300'000);
    EXPECT_LT(double(x.h.memoryBytes()) / double(x.h.echoCount()), 12.0);

    // A gap longer than 49 days between two echoes of one target.
    Hist y(1);
    y.ok(0, 0, 1);
    const qint64 later = qint64(60) * 24 * 3600 * 1000;
    y.ok(0, later, 2);
    EXPECT_EQ(y.agg(0, later, later + 1, 1)[0].maxMs, 2u);
    EXPECT_EQ(y.agg(0, 0, 1, 1)[0].maxMs, 1u);
}
