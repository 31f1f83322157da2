// Round-trip times under a busy user-interface thread, over real sockets of
// both kinds in a lab whose slow host answers after 300 ms (see
// CMakeLists.txt). The thread is held for a second while the answer comes in:
// the echo must not be a time-out, and its round trip must match the system
// ping's to the same host within a millisecond.

#include "icmp/KtIcmp.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

using namespace tarvok;

QString labValue(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

// Round trips (ms) of `count` echoes of the system's ping.
std::vector<double> systemPing(const QString& host, int count)
{
    QProcess ping;
    ping.start(QStringLiteral("ping"), {"-n", "-c", QString::number(count), "-i", "0.2", "-W", "3", host});
    if (!ping.waitForFinished(30000))
        return {};
    std::vector<double> times;
    static const QRegularExpression time(QStringLiteral("time=([0-9.]+) ms"));
    for (auto it = time.globalMatch(QString::fromLocal8Bit(ping.readAllStandardOutput())); it.hasNext();)
        times.push_back(it.next().captured(1).toDouble());
    return times;
}

class RoundTripLab : public ::testing::TestWithParam<IcmpSocketKind> {};

TEST_P(RoundTripLab, BusyThreadNeitherStretchesTheRoundTripNorTimesItOut)
{
    if (labValue("LAB_HOST_NS").isEmpty())
        GTEST_SKIP() << "no network lab: " << labValue("LAB_UNAVAILABLE").toStdString();
    const QString slow = labValue("LAB_SLOW");
    ASSERT_FALSE(slow.isEmpty()) << "the lab has no slow host (lab_responder missing)";
    ASSERT_EQ(labValue("LAB_SLOW_DELAY_MS").toInt(), 300);

    const std::vector<double> reference = systemPing(slow, 3);
    if (reference.empty())
        GTEST_SKIP() << "the system's ping is not installed or got no answer";
    const auto [lo, hi] = std::minmax_element(reference.begin(), reference.end());

    std::unique_ptr<TKtICMP> engine;
    try {
        engine = std::make_unique<TKtICMP>(GetParam());
    } catch (const EICMPError& e) {
        FAIL() << e.what();
    }
    engine->Address = slow;
    engine->NumberOfPings = 1;
    engine->Delay = 0;
    engine->Timeout = 500; // shorter than the time the thread is held
    engine->ResolveHostName = false;
    std::optional<std::pair<int, quint32>> reply;
    QObject::connect(engine.get(), &TKtICMP::OnReply, engine.get(),
                     [&](int status, const QString&, quint32 rtt, quint8, const QString&) { reply = {status, rtt}; });
    QEventLoop loop;
    QObject::connect(engine.get(), &TKtICMP::Finished, &loop, &QEventLoop::quit);

    ASSERT_TRUE(engine->Ping());
    // Once the echo is out, the thread does something else for a second: the
    // answer comes at 300 ms, the time-out is due at 500 ms, and the thread
    // gets back to its events at about 1050 ms.
    QTimer::singleShot(50, [] {
        QElapsedTimer held;
        held.start();
        while (held.elapsed() < 1000) {
        }
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();

    ASSERT_TRUE(reply.has_value()) << "no reply within 10 s";
    std::printf("round trip %u ms (status %d) after the thread was held 1 s; system ping %.3f to %.3f ms\n",
                reply->second, reply->first, *lo, *hi);
    EXPECT_EQ(reply->first, 0) << TKtICMP::StatusText(reply->first).toStdString();
    EXPECT_GE(double(reply->second), std::floor(*lo) - 1.0) << "system ping: " << *lo << " to " << *hi << " ms";
    EXPECT_LE(double(reply->second), std::ceil(*hi) + 1.0) << "system ping: " << *lo << " to " << *hi << " ms";
}

INSTANTIATE_TEST_SUITE_P(Sockets, RoundTripLab, ::testing::Values(IcmpSocketKind::Datagram, IcmpSocketKind::Raw),
                         [](const ::testing::TestParamInfo<IcmpSocketKind>& param) {
                             return param.param == IcmpSocketKind::Datagram ? std::string("Datagram")
                                                                           : std::string("Raw");
                         });

} // namespace
