// The registry: what a scrape reads after runs, in both formats; counters
// that survive runs and lists; the buckets' edges; no allocation per echo.

#include "../run/RunRig.h"

#include "metrics/MetricsRegistry.h"
#include "run/RunController.h"
#include "targets/TargetList.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

using namespace tarvok;
using namespace tarvok::test;

// Allocations counted while `countAllocations` is set (this test binary only).
static std::atomic<bool> countAllocations{false};
static std::atomic<long> allocations{0};

void* operator new(std::size_t n)
{
    if (countAllocations.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

JudgedEcho echo(int index, const QString& target, const QString& address, qint64 rttUs, bool ng = false,
                qint64 timeUs = 1'765'000'000'123'000)
{
    JudgedEcho e;
    e.targetIndex = index;
    e.target = target;
    e.address = address;
    e.rttUs = rttUs;
    e.ng = ng;
    e.status = rttUs >= 0 ? 0 : 11010;
    e.timeUs = timeUs;
    return e;
}

struct Registry {
    TargetList list;
    MetricsRegistry reg{[this] { return &list; }, QStringLiteral("1.2.3")};
    void start(const QStringList& targets)
    {
        list.clear();
        for (const QString& t : targets)
            list.append(t, QString());
        reg.runStarted();
    }
    QString text(ExpositionFormat f = ExpositionFormat::Prometheus) const { return QString::fromUtf8(reg.render(f)); }
};

} // namespace

TEST(MetricsRegistry, ExpositionInBothFormats)
{
    Registry r;
    r.start({QStringLiteral("dst.lab.test"), QStringLiteral("198.18.100.1")});
    r.reg.echoJudged(echo(0, "dst.lab.test", "198.18.3.2", 1'500));
    r.reg.echoJudged(echo(1, "198.18.100.1", "198.18.100.1", -1, true, 1'765'000'001'000'000));
    r.reg.passEnded();

    const QString expected = QStringLiteral(
        "# HELP tarvok_build_info Version of the running Tarvok.\n"
        "# TYPE tarvok_build_info gauge\n"
        "tarvok_build_info{version=\"1.2.3\"} 1\n"
        "# HELP tarvok_passes_total Passes over the target list completed since the program started.\n"
        "# TYPE tarvok_passes_total counter\n"
        "tarvok_passes_total 1\n"
        "# HELP tarvok_echoes_total Echoes judged since the program started, by result.\n"
        "# TYPE tarvok_echoes_total counter\n"
        "tarvok_echoes_total{target=\"dst.lab.test\",address=\"198.18.3.2\",result=\"ok\"} 1\n"
        "tarvok_echoes_total{target=\"dst.lab.test\",address=\"198.18.3.2\",result=\"ng\"} 0\n"
        "tarvok_echoes_total{target=\"198.18.100.1\",address=\"198.18.100.1\",result=\"ok\"} 0\n"
        "tarvok_echoes_total{target=\"198.18.100.1\",address=\"198.18.100.1\",result=\"ng\"} 1\n"
        "# HELP tarvok_echo_rtt_seconds Round-trip time of the answered echoes.\n"
        "# TYPE tarvok_echo_rtt_seconds histogram\n");
    const QString text = r.text();
    ASSERT_TRUE(text.startsWith(expected)) << text.toStdString();
    for (const char* line : {
             "tarvok_echo_rtt_seconds_bucket{target=\"dst.lab.test\",address=\"198.18.3.2\",le=\"0.001\"} 0\n",
             "tarvok_echo_rtt_seconds_bucket{target=\"dst.lab.test\",address=\"198.18.3.2\",le=\"0.0025\"} 1\n",
             "tarvok_echo_rtt_seconds_bucket{target=\"dst.lab.test\",address=\"198.18.3.2\",le=\"+Inf\"} 1\n",
             "tarvok_echo_rtt_seconds_sum{target=\"dst.lab.test\",address=\"198.18.3.2\"} 0.001500\n",
             "tarvok_echo_rtt_seconds_count{target=\"dst.lab.test\",address=\"198.18.3.2\"} 1\n",
             "tarvok_echo_rtt_seconds_bucket{target=\"198.18.100.1\",address=\"198.18.100.1\",le=\"+Inf\"} 0\n",
             "tarvok_echo_rtt_seconds_count{target=\"198.18.100.1\",address=\"198.18.100.1\"} 0\n",
             "# TYPE tarvok_target_up gauge\n"
             "tarvok_target_up{target=\"dst.lab.test\",address=\"198.18.3.2\"} 1\n"
             "tarvok_target_up{target=\"198.18.100.1\",address=\"198.18.100.1\"} 0\n",
             "# TYPE tarvok_target_last_echo_timestamp_seconds gauge\n"
             "tarvok_target_last_echo_timestamp_seconds{target=\"dst.lab.test\",address=\"198.18.3.2\"} "
             "1765000000.123\n"
             "tarvok_target_last_echo_timestamp_seconds{target=\"198.18.100.1\",address=\"198.18.100.1\"} "
             "1765000001.000\n"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(line))) << line;
    EXPECT_FALSE(text.contains("# EOF"));
    EXPECT_EQ(text.count(u'\n'), 3 + 3 + (2 + 4) + (2 + 2 * 19) + (2 + 2) + (2 + 2));

    // OpenMetrics: the same samples; counter and info families named without
    // their suffix; the end marked.
    const QString om = r.text(ExpositionFormat::OpenMetrics);
    EXPECT_TRUE(om.contains("# TYPE tarvok_build info\ntarvok_build_info{version=\"1.2.3\"} 1\n"));
    EXPECT_TRUE(om.contains("# TYPE tarvok_echoes counter\n"));
    EXPECT_TRUE(om.contains("# TYPE tarvok_passes counter\ntarvok_passes_total 1\n"));
    EXPECT_TRUE(om.contains("# TYPE tarvok_echo_rtt_seconds histogram\n"));
    EXPECT_TRUE(om.endsWith("1765000001.000\n# EOF\n"));
    EXPECT_EQ(om.count(u'\n'), text.count(u'\n') + 1);
}

TEST(MetricsRegistry, LabelValuesAreEscaped)
{
    const struct {
        QString value;
        QByteArray written;
    } cases[] = {
        {"host.example", "host.example"},
        {"a\"b", "a\\\"b"},
        {"C:\\x", "C:\\\\x"},
        {"one\ntwo", "one\\ntwo"},
        {"\\\"\n", "\\\\\\\"\\n"},
        {QStringLiteral("本社ルータ"), QStringLiteral("本社ルータ").toUtf8()},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MetricsRegistry::escapeLabelValue(c.value), c.written) << c.value.toStdString();

    // In the exposition, the target's label carries the escaped text.
    Registry r;
    r.start({QStringLiteral("we\"ird\\name")});
    r.reg.echoJudged(echo(0, "we\"ird\\name", "", -1, true));
    EXPECT_TRUE(r.text().contains("tarvok_target_up{target=\"we\\\"ird\\\\name\",address=\"\"} 0\n"));
}

TEST(MetricsRegistry, AcceptHeaderChoosesTheFormat)
{
    const struct {
        const char* accept;
        ExpositionFormat format;
    } cases[] = {
        // What Prometheus 2 sends.
        {"application/openmetrics-text;version=1.0.0,application/openmetrics-text;version=0.0.1;q=0.75,"
         "text/plain;version=0.0.4;q=0.5,*/*;q=0.1",
         ExpositionFormat::OpenMetrics},
        {"Application/OpenMetrics-Text", ExpositionFormat::OpenMetrics},
        {"text/plain;version=0.0.4", ExpositionFormat::Prometheus},
        {"", ExpositionFormat::Prometheus},
        {"*/*", ExpositionFormat::Prometheus},
        {"application/openmetrics-text;q=0", ExpositionFormat::Prometheus},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MetricsRegistry::formatForAccept(c.accept), c.format) << c.accept;
    EXPECT_TRUE(MetricsRegistry::contentType(ExpositionFormat::OpenMetrics).startsWith("application/openmetrics-text"));
    EXPECT_TRUE(MetricsRegistry::contentType(ExpositionFormat::Prometheus).startsWith("text/plain; version=0.0.4"));
}

TEST(MetricsRegistry, BucketEdgesAndSum)
{
    const struct {
        qint64 rttUs;
        const char* firstBucket; // the smallest "le" that counts it; null: none
    } cases[] = {
        {0, "0.0001"},      {100, "0.0001"}, {101, "0.00025"},     {999'999, "1"},
        {1'000'000, "1"},   {10'000'000, "10"}, {10'000'001, "+Inf"}, {-1, nullptr},
    };
    for (const auto& c : cases) {
        Registry r;
        r.start({"t"});
        r.reg.echoJudged(echo(0, "t", "192.0.2.1", c.rttUs));
        const QString text = r.text();
        bool counted = false;
        for (const char* le : {"0.0001", "0.00025", "1", "10", "+Inf"}) {
            if (c.firstBucket && QByteArray(le) == c.firstBucket)
                counted = true;
            const QString line = QStringLiteral("le=\"%1\"} %2\n").arg(le).arg(counted ? 1 : 0);
            EXPECT_TRUE(text.contains(line)) << c.rttUs << " " << line.toStdString();
        }
        const QString count = QStringLiteral("_count{target=\"t\",address=\"192.0.2.1\"} %1\n").arg(c.firstBucket ? 1 : 0);
        EXPECT_TRUE(text.contains(count)) << c.rttUs;
    }

    Registry r;
    r.start({"t"});
    for (qint64 us : {1, 2'000'000, 999'999})
        r.reg.echoJudged(echo(0, "t", "192.0.2.1", us));
    EXPECT_TRUE(r.text().contains("tarvok_echo_rtt_seconds_sum{target=\"t\",address=\"192.0.2.1\"} 3.000000\n"));
}

// A run through the run controller, twice over changing lists: the counters
// go on from where they were; targets no longer listed keep their counters
// but lose their gauges; an echo without an address keeps the latest one.
TEST(MetricsRegistry, CountersLastAcrossRunsAndLists)
{
    RunRig rig;
    ManualClock& clock = rig.clock;
    FakeTransport* net = rig.net;
    FakeRunView& view = rig.view;
    RunController& ctl = rig.ctl;
    MetricsRegistry reg([&ctl] { return &ctl.targetList(); }, QStringLiteral("1"));
    ctl.addEchoObserver(&reg);
    bool answer = true;
    net->setResponder([&](const Probe& p) {
        return answer && p.dest == ip("10.0.0.1") ? FakeOutcome::reply("10.0.0.1", 64, 3) : FakeOutcome::silence();
    });

    const auto run = [&](QStringList lines, int count) {
        view.lines = lines;
        view.count = count;
        view.wait = 10;
        ctl.mnuPingClick();
        advance(clock, 60'000);
        ASSERT_FALSE(ctl.Busy());
    };
    run({"10.0.0.1", "10.0.0.2"}, 2);
    QString text = QString::fromUtf8(reg.render(ExpositionFormat::Prometheus));
    EXPECT_TRUE(text.contains("tarvok_passes_total 1\n"));
    EXPECT_TRUE(text.contains("tarvok_echoes_total{target=\"10.0.0.1\",address=\"10.0.0.1\",result=\"ok\"} 2\n"));
    EXPECT_TRUE(text.contains("tarvok_echoes_total{target=\"10.0.0.2\",address=\"10.0.0.2\",result=\"ng\"} 2\n"));

    // The second run: 10.0.0.1 now silent, 10.0.0.2 gone, 10.0.0.3 new.
    answer = false;
    run({"10.0.0.3", "10.0.0.1"}, 1);
    text = QString::fromUtf8(reg.render(ExpositionFormat::Prometheus));
    EXPECT_TRUE(text.contains("tarvok_passes_total 2\n"));
    EXPECT_TRUE(text.contains("tarvok_echoes_total{target=\"10.0.0.1\",address=\"10.0.0.1\",result=\"ok\"} 2\n"));
    EXPECT_TRUE(text.contains("tarvok_echoes_total{target=\"10.0.0.1\",address=\"10.0.0.1\",result=\"ng\"} 1\n"));
    EXPECT_TRUE(text.contains("tarvok_echo_rtt_seconds_count{target=\"10.0.0.1\",address=\"10.0.0.1\"} 2\n"));
    EXPECT_TRUE(text.contains("tarvok_target_up{target=\"10.0.0.1\",address=\"10.0.0.1\"} 0\n"));
    EXPECT_TRUE(text.contains("tarvok_echoes_total{target=\"10.0.0.2\",address=\"10.0.0.2\",result=\"ng\"} 2\n"));
    EXPECT_FALSE(text.contains("tarvok_target_up{target=\"10.0.0.2\""));
    EXPECT_FALSE(text.contains("tarvok_target_last_echo_timestamp_seconds{target=\"10.0.0.2\""));
    EXPECT_TRUE(text.contains("tarvok_target_up{target=\"10.0.0.3\",address=\"10.0.0.3\"} 0\n"));
    EXPECT_EQ(reg.targetCount(), 3);

    // A router's error for an address target stays on the target's address.
    Registry lit;
    lit.start({"198.18.200.1"});
    lit.reg.echoJudged(echo(0, "198.18.200.1", "198.18.2.2", -1, true));
    EXPECT_TRUE(lit.text().contains("tarvok_target_up{target=\"198.18.200.1\",address=\"198.18.200.1\"} 0\n"));

    // A name that stops resolving stays on its latest address; a new address
    // takes the counters along.
    Registry r;
    r.start({"host"});
    r.reg.echoJudged(echo(0, "host", "192.0.2.1", 10));
    r.reg.echoJudged(echo(0, "host", "", -1, true));
    EXPECT_TRUE(r.text().contains("tarvok_echoes_total{target=\"host\",address=\"192.0.2.1\",result=\"ng\"} 1\n"));
    r.reg.echoJudged(echo(0, "host", "192.0.2.9", 10));
    EXPECT_TRUE(r.text().contains("tarvok_echoes_total{target=\"host\",address=\"192.0.2.9\",result=\"ok\"} 2\n"));
    EXPECT_FALSE(r.text().contains("192.0.2.1"));
}

TEST(MetricsRegistry, EchoesAllocateNothing)
{
    Registry r;
    QStringList targets;
    for (int i = 0; i < 100; ++i)
        targets << QStringLiteral("10.1.0.%1").arg(i);
    r.start(targets);
    std::vector<JudgedEcho> echoes;
    for (int i = 0; i < 100; ++i)
        echoes.push_back(echo(i, targets[i], targets[i], i * 1000, i % 3 == 0));
    for (const JudgedEcho& e : echoes) // first sight of each address
        r.reg.echoJudged(e);

    allocations = 0;
    countAllocations = true;
    for (int pass = 0; pass < 10; ++pass) {
        for (const JudgedEcho& e : echoes)
            r.reg.echoJudged(e);
        r.reg.passEnded();
    }
    countAllocations = false;
    EXPECT_EQ(allocations.load(), 0);
    EXPECT_TRUE(r.text().contains("tarvok_echoes_total{target=\"10.1.0.1\",address=\"10.1.0.1\",result=\"ok\"} 11\n"));
}
