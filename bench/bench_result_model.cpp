// Appends a million result rows, then sorts them by the 日時 and ステータス
// columns. Prints "name value" lines: append_ns (per row), bytes_per_row
// (resident memory growth per row), sort_datetime_ms, sort_status_ms.

#include "BenchRows.h"
#include "BenchMeasures.h"
#include "run/ResultModel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <chrono>
#include <cstdio>
#include <unistd.h>

using namespace tarvok;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1'000'000;

    BenchRows fill;
    const QDateTime start = BenchRows::start();

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
        for (int i = 0; i < rows; ++i)
            fill.append(model, times[static_cast<size_t>(i)]);
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
