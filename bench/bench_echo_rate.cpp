// Echo rate of the engine: drives it over a run of echoes to the loopback
// address the way a ping run does (one echo per Ping call, the next Ping when
// the engine reports that it has ended, a pause of Delay ms after each echo)
// and prints how long it took and how much processor time it used:
//
//   echoes N      echoes answered
//   wall_ms N     elapsed time of the whole run
//   cpu_ms N      processor time of the process (user + system) during the run
//
// With --waiting N it measures instead what echoes waiting at once hold: a
// stream of N echoes to an address that answers nothing (loopback with the
// kernel's echo replies off), the heap in use before and after, per echo:
//
//   waiting N                       echoes waiting at the count
//   heap_bytes_per_waiting_echo N   what each holds, its share of the
//                                   stream's places included
//
// Meant to run in a network namespace of its own (run_echo_rate.sh).
//
//   bench_echo_rate [--count N] [--delay MS] [--socket auto|dgram|raw] [--waiting N]

#include "BenchMeasures.h"
#include "icmp/KtIcmp.h"

#include <QCoreApplication>
#include <QTimer>

#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

using namespace tarvok;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: bench_echo_rate [--count N] [--delay MS] [--socket auto|dgram|raw] [--address A]"
                         " [--waiting N]\n");
    return 2;
}

int measureWaiting(TKtICMP& engine, const QString& address, int n)
{
    engine.Timeout = 60000;
    // What an engine sizes once (the maps of all sequences) is not the
    // echoes': a first stream of one echo makes it.
    if (!engine.BeginEchoes(1) || !engine.Echo(0, address))
        return 1;
    engine.EndEchoes();
    const size_t before = mallinfo2().uordblks;
    if (!engine.BeginEchoes(n))
        return 1;
    for (int i = 0; i < n; ++i)
        if (!engine.Echo(i, address)) {
            std::fprintf(stderr, "bench_echo_rate: echo %d of %d not started\n", i + 1, n);
            return 1;
        }
    const size_t after = mallinfo2().uordblks;
    const int waiting = engine.EchoesWaiting();
    engine.EndEchoes();
    std::printf("waiting %d\n", waiting);
    std::printf("heap_bytes_per_waiting_echo %.0f\n", waiting > 0 ? double(after - before) / waiting : 0.0);
    return waiting == n ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    Clock::usePreciseWakeups(); // as the program's user-interface thread does
    QCoreApplication app(argc, argv);
    int count = 2000;
    int delay = 1;
    IcmpSocketKind kind = IcmpSocketKind::Auto;
    QString address = QStringLiteral("127.0.0.1");
    int waiting = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage();
        const std::string value = argv[++i];
        if (arg == "--count")
            count = std::stoi(value);
        else if (arg == "--delay")
            delay = std::stoi(value);
        else if (arg == "--socket" && value == "auto")
            kind = IcmpSocketKind::Auto;
        else if (arg == "--socket" && value == "dgram")
            kind = IcmpSocketKind::Datagram;
        else if (arg == "--socket" && value == "raw")
            kind = IcmpSocketKind::Raw;
        else if (arg == "--address")
            address = QString::fromLocal8Bit(value.c_str());
        else if (arg == "--waiting")
            waiting = std::stoi(value);
        else
            return usage();
    }
    if (count <= 0 || delay < 0 || waiting < 0 || waiting > 1024)
        return usage();

    std::unique_ptr<TKtICMP> engine;
    try {
        engine = std::make_unique<TKtICMP>(kind);
    } catch (const EICMPError& e) {
        std::fprintf(stderr, "bench_echo_rate: %s\n", e.what());
        return 1;
    }
    engine->Address = address;
    engine->NumberOfPings = 1;
    engine->Delay = delay;
    engine->Timeout = 1000;
    engine->ResolveHostName = false;
    if (waiting > 0)
        return measureWaiting(*engine, address, waiting);

    int sent = 0;
    int answered = 0;
    int failed = 0;
    int refused = 0;
    QObject::connect(engine.get(), &TKtICMP::OnReply, engine.get(),
                     [&](int status, const QString&, quint32, quint8, const QString&) {
                         if (status == 0)
                             ++answered;
                         else
                             ++failed;
                     });

    std::function<void()> next = [&] {
        if (sent == count) {
            app.quit();
            return;
        }
        if (!engine->Ping()) {
            // Still busy although it said it had ended: count it, try again.
            ++refused;
            QTimer::singleShot(0, engine.get(), next);
            return;
        }
        ++sent;
    };
    QObject::connect(engine.get(), &TKtICMP::Finished, engine.get(), [&] { next(); });

    const double cpuStart = cpuMs();
    const auto wallStart = std::chrono::steady_clock::now();
    QTimer::singleShot(0, engine.get(), next);
    // A stuck engine must not hang the benchmark.
    QTimer::singleShot(count * qint64(delay + 1000) + 10000, &app, [&] {
        std::fprintf(stderr, "bench_echo_rate: gave up after %d echoes\n", sent);
        app.exit(1);
    });
    const int rc = app.exec();
    const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - wallStart);
    const double cpu = cpuMs() - cpuStart;

    std::printf("echoes %d\n", answered);
    std::printf("wall_ms %lld\n", static_cast<long long>(wall.count()));
    std::printf("cpu_ms %lld\n", static_cast<long long>(cpu));
    if (failed || refused)
        std::fprintf(stderr, "bench_echo_rate: %d echoes failed, %d Ping calls refused\n", failed, refused);
    return rc != 0 ? rc : (answered == count ? 0 : 1);
}
