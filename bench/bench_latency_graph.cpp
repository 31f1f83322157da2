// Fills the latency history with a million echoes over 1,000 targets (2 %
// lost), then times full repaints of the graph at 1920 x 1080 on the
// offscreen platform. Prints "name value" lines:
//   bytes_per_echo      memory held by the history per echo
//   repaint_ms          one full repaint, whole run, the targets shown by
//                       default (median of 5)
//   repaint_ms_one_target  the same with all million echoes in one target
// With a file name as argument the last graph is also saved there as PNG.

#include "monitor/LatencyHistory.h"
#include "store/Preferences.h"
#include "ui/graph/LatencyGraphView.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>

using namespace tarvok;

namespace {

void fill(LatencyHistory& h, int targets, int echoes)
{
    QStringList addresses, comments;
    for (int i = 0; i < targets; ++i) {
        addresses << QStringLiteral("10.1.%1.%2").arg(i / 250).arg(i % 250 + 1);
        comments << (i % 3 ? QStringLiteral("拠点 %1").arg(i) : QString());
    }
    h.reset(addresses, comments, QDateTime(QDate(2026, 12, 7), QTime(9, 0)), 0);
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> loss(0, 99);
    std::gamma_distribution<double> jitter(2.0, 4.0);
    for (int i = 0; i < echoes; ++i) {
        const int t = i % targets;
        const quint32 base = quint32(2 + (t % 7) * 15);
        h.record(t, qint64(i) * 10, loss(rng) >= 2, base + quint32(jitter(rng)));
    }
}

double repaintMs(LatencyGraphView& g)
{
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        (void)g.grab(); // a full paint of the widget
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Preferences prefs;
    prefs.CheckRTT = true;
    prefs.CheckRTTValue = 100;

    LatencyHistory h;
    fill(h, 1000, 1'000'000);
    std::printf("bytes_per_echo %.2f\n", double(h.memoryBytes()) / double(h.echoCount()));

    LatencyGraphView g(h, prefs);
    g.setSpan(0);
    g.resize(1920, 1080);
    g.show();
    std::printf("repaint_ms %.2f\n", repaintMs(g));

    LatencyHistory one;
    fill(one, 1, 1'000'000);
    LatencyGraphView g1(one, prefs);
    g1.setSpan(0);
    g1.resize(1920, 1080);
    g1.show();
    std::printf("repaint_ms_one_target %.2f\n", repaintMs(g1));

    if (argc > 1)
        g.image().save(QString::fromLocal8Bit(argv[1]), "PNG");
    return 0;
}
