// Appends a million result rows, then sorts them by the 日時 and ステータス
// columns. Prints "name value" lines: append_ns (per row), bytes_per_row
// (resident memory growth per row), sort_datetime_ms, sort_status_ms.

#include "run/ResultModel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <chrono>
#include <cstdio>
#include <random>
#include <unistd.h>

using namespace tarvok;

namespace {
qint64 residentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

template <typename F>
double elapsedMs(F&& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1'000'000;

    // 200 targets with comments, a mix of answers, time-outs and router errors.
    QStringList targets, comments, addresses;
    for (int i = 0; i < 200; ++i) {
        targets.append(i % 3 == 0 ? QStringLiteral("host%1.example.jp").arg(i) : QStringLiteral("10.1.%1.%2").arg(i / 50).arg(i));
        comments.append(i % 4 == 0 ? QString() : QStringLiteral("拠点 %1 の回線").arg(i));
        addresses.append(QStringLiteral("10.1.%1.%2").arg(i / 50).arg(i));
    }
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> pick(0, 199), rtt(0, 2000), kind(0, 99);
    const QDateTime start(QDate(2026, 12, 7), QTime(9, 30, 0));

    // The reply times, taken as the run takes them: one local time per echo.
    std::vector<QDateTime> times;
    times.reserve(rows);
    const double timesMs = elapsedMs([&] {
        for (int i = 0; i < rows; ++i)
            times.push_back(start.addSecs(i / 3));
    });
    std::fprintf(stderr, "making the time stamps: %.0f ns per row\n", timesMs * 1e6 / rows);

    ResultModel model;
    const qint64 before = residentBytes();
    const double appendMs = elapsedMs([&] {
        for (int i = 0; i < rows; ++i) {
            const int t = pick(rng);
            const int k = kind(rng);
            const QDateTime& when = times[static_cast<size_t>(i)];
            if (k < 85)
                model.append(when, targets[t], comments[t], 0, addresses[t], static_cast<quint32>(rtt(rng)));
            else if (k < 97)
                model.append(when, targets[t], comments[t], 11010, QStringLiteral("0.0.0.0"), 0);
            else
                model.append(when, targets[t], comments[t], 11003, QStringLiteral("198.18.0.254"), 0);
        }
    });
    const qint64 after = residentBytes();
    times = {};

    const double sortDateTime = elapsedMs([&] { model.sort(ResultModel::ColDateTime, Qt::DescendingOrder); });
    const double sortStatus = elapsedMs([&] { model.sort(ResultModel::ColStatus, Qt::AscendingOrder); });

    std::printf("append_ns %.0f\n", appendMs * 1e6 / rows);
    std::printf("bytes_per_row %.1f\n", static_cast<double>(after - before) / rows);
    std::printf("sort_datetime_ms %.0f\n", sortDateTime);
    std::printf("sort_status_ms %.0f\n", sortStatus);
    std::fprintf(stderr, "rows %d, model bytes per row %.1f, first row after sort: %s\n", model.rowCount(),
                 static_cast<double>(model.memoryBytes()) / rows, qPrintable(model.text(0, ResultModel::ColStatus)));
    return 0;
}
