// The main window, shown, over a long list of loopback targets (127.2.0.0/16
// from the first address on): how long the start of a run takes, what one
// echo costs with that many statistics rows, and the memory it all holds.
// Prints "name value" lines:
//
//   targets N            targets in the list
//   editor_load_ms N     putting the list into the target editor
//   start_ms N           the ping command until it returns: list parsed,
//                        schedule built, statistics rebuilt
//   first_echo_ms N      the ping command until the first echo is recorded
//   echo_cpu_us N        processor time per echo over the echoes measured
//   echo_wall_us N       elapsed time per echo (PingWait is 1 ms)
//   rss_kb N             resident memory after the echoes
//
// Meant to run in a network namespace of its own with a display (see
// run_scale.sh).
//
//   bench_window_run [--targets N] [--echoes M]

#include "BenchMeasures.h"
#include "base/Clock.h"
#include "icmp/KtIcmp.h"
#include "ui/window/TarvokMain.h"
#include "ui/widgets/SpinEdit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

using namespace tarvok;

int main(int argc, char** argv)
{
    Clock::usePreciseWakeups();
    QApplication app(argc, argv);
    int targets = 65536;
    int echoes = 3000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--targets"))
            targets = std::stoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--echoes"))
            echoes = std::stoi(argv[i + 1]);
    }
    if (targets < 1 || echoes < 2) {
        std::fprintf(stderr, "usage: bench_window_run [--targets N] [--echoes M]\n");
        return 2;
    }

    std::unique_ptr<TKtICMP> engine;
    try {
        engine = std::make_unique<TKtICMP>();
    } catch (const EICMPError& e) {
        std::fprintf(stderr, "bench_window_run: %s\n", e.what());
        return 1;
    }
    TKtICMP* icmp = engine.get();
    TTarvokMain w(std::move(engine), Clock::system());
    w.prefs.BlinkTrayIcon = false;
    w.show();
    w.Parameters->edtPingCount->setValue(1);
    w.Parameters->edtPingWait->setValue(1);
    w.Parameters->edtTimeout->setValue(1000);

    QString text;
    text.reserve(targets * 14);
    for (int i = 0; i < targets; ++i)
        text += QStringLiteral("127.2.%1.%2\n").arg((i >> 8) & 255).arg(i & 255);
    QElapsedTimer t;
    t.start();
    w.Memo1->setPlainText(text);
    const qint64 editorMs = t.elapsed();

    int recorded = 0;
    qint64 firstEchoMs = -1;
    qint64 cpu0 = 0;
    qint64 wall0 = 0;
    qint64 cpu1 = 0;
    qint64 wall1 = 0;
    QObject::connect(icmp, &TKtICMP::OnReply, &w, [&] {
        ++recorded;
        if (recorded == 1) {
            firstEchoMs = t.elapsed();
            cpu0 = static_cast<qint64>(cpuMs() * 1000);
            wall0 = t.nsecsElapsed() / 1000;
        } else if (recorded == echoes) {
            cpu1 = static_cast<qint64>(cpuMs() * 1000);
            wall1 = t.nsecsElapsed() / 1000;
            QTimer::singleShot(0, &w, [&w] { w.mnuBreakClick(); });
        }
    });
    QObject::connect(&w.run(), &RunController::runFinished, &app, [&app] { QTimer::singleShot(100, &app, &QApplication::quit); });
    QTimer::singleShot(600000, &app, [&app] { app.exit(1); });

    QTimer::singleShot(200, &w, [&] {
        t.restart();
        w.mnuPingClick();
        std::printf("start_ms %lld\n", static_cast<long long>(t.elapsed()));
    });
    const int rc = app.exec();
    std::printf("targets %d\n", targets);
    std::printf("editor_load_ms %lld\n", static_cast<long long>(editorMs));
    std::printf("first_echo_ms %lld\n", static_cast<long long>(firstEchoMs));
    if (recorded >= echoes) {
        std::printf("echo_cpu_us %.1f\n", double(cpu1 - cpu0) / (echoes - 1));
        std::printf("echo_wall_us %.1f\n", double(wall1 - wall0) / (echoes - 1));
    }
    std::printf("rss_kb %lld\n", static_cast<long long>(residentBytes() / 1024));
    return rc != 0 ? rc : (recorded >= echoes ? 0 : 1);
}
