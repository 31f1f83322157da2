// Scrapes of the metrics endpoint with 10,000 targets (or argv[1]), each with
// echoes in every bucket, over a real loopback connection. A client thread
// sends GET /metrics and reads the whole answer; the user-interface thread
// (this main thread, running the event loop) is timed by its own processor
// clock from the request's start to the answer's end: accepting, parsing,
// writing out and sending. Prints "name value" lines:
//   scrape_ui_ms_median, scrape_ui_ms_max   processor time of the UI thread per scrape
//   render_ms_median                        the exposition alone (text format)
//   render_openmetrics_ms_median            the same in OpenMetrics
//   response_bytes                          size of one answer
//   echo_ns                                 one judged echo added to the registry

#include "BenchMeasures.h"
#include "base/Clock.h"
#include "metrics/MetricsRegistry.h"
#include "metrics/MetricsServer.h"
#include "targets/TargetList.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarvok;

namespace {

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// One GET over a blocking socket; the bytes received, or -1.
qint64 fetch(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    const char request[] = "GET /metrics HTTP/1.1\r\nHost: localhost\r\nAccept: text/plain\r\n\r\n";
    if (::send(fd, request, sizeof request - 1, 0) != qint64(sizeof request - 1)) {
        ::close(fd);
        return -1;
    }
    qint64 total = 0;
    static char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        total += n;
    }
    ::close(fd);
    return total;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int targets = argc > 1 ? std::atoi(argv[1]) : 10'000;
    const int scrapes = 21;

    TargetList list;
    for (int i = 0; i < targets; ++i)
        list.append(i % 3 == 0 ? QStringLiteral("host%1.branch.example.jp").arg(i)
                               : QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255),
                    QString());
    MetricsRegistry registry([&] { return &list; });
    registry.runStarted();

    // Echoes spread over every bucket; every fifth target silent.
    std::vector<JudgedEcho> echoes(static_cast<size_t>(targets));
    for (int i = 0; i < targets; ++i) {
        JudgedEcho& e = echoes[size_t(i)];
        e.targetIndex = i;
        e.target = list.addresses().at(i);
        e.address = QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255);
        e.timeUs = 1'765'000'000'000'000 + qint64(i) * 1000;
        e.ng = i % 5 == 0;
        e.rttUs = e.ng ? -1 : 50 + (qint64(i) * 7919) % 12'000'000;
    }
    const int passes = 10;
    const double echoMs = elapsedMs([&] {
        for (int p = 0; p < passes; ++p) {
            for (const JudgedEcho& e : echoes)
                registry.echoJudged(e);
            registry.passEnded();
        }
    });

    std::vector<double> render, renderOm;
    qint64 bytes = 0;
    for (int i = 0; i < scrapes; ++i) {
        QByteArray out;
        const double c0 = threadCpuMs();
        registry.render(ExpositionFormat::Prometheus, out);
        render.push_back(threadCpuMs() - c0);
        bytes = out.size();
        QByteArray om;
        const double c1 = threadCpuMs();
        registry.render(ExpositionFormat::OpenMetrics, om);
        renderOm.push_back(threadCpuMs() - c1);
    }

    MetricsServer server(registry, Clock::system());
    QString error;
    if (!server.start({QHostAddress(QHostAddress::LocalHost), 0}, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const quint16 port = server.port();
    std::vector<double> ui;
    qint64 received = 0;
    for (int i = 0; i < scrapes; ++i) {
        QEventLoop loop;
        const double before = threadCpuMs();
        std::thread client([&] {
            received = fetch(port);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
        loop.exec();
        // The connection's end (the socket closed and deleted) is the
        // server's work too.
        QCoreApplication::processEvents();
        ui.push_back(threadCpuMs() - before);
        client.join();
        if (received <= bytes) {
            std::fprintf(stderr, "scrape %d: %lld bytes received\n", i, static_cast<long long>(received));
            return 1;
        }
    }

    std::printf("targets %d\n", targets);
    std::printf("scrape_ui_ms_median %.2f\n", median(ui));
    std::printf("scrape_ui_ms_max %.2f\n", *std::max_element(ui.begin(), ui.end()));
    std::printf("render_ms_median %.2f\n", median(render));
    std::printf("render_openmetrics_ms_median %.2f\n", median(renderOm));
    std::printf("response_bytes %lld\n", static_cast<long long>(received));
    std::printf("echo_ns %.0f\n", echoMs * 1e6 / (double(passes) * targets));
    return 0;
}
