// Fills the result list with a million rows and saves it as the text table
// and as CSV. Prints "name value" lines: table_ms, csv_ms, and peak_rss_mb
// (the process's peak resident memory over the whole run, saves included);
// on stderr the processor time of each save and the peak with the filled
// list alone, for comparison.

#include "BenchRows.h"
#include "BenchMeasures.h"
#include "run/ResultModel.h"
#include "store/ReportWriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>

using namespace tarvok;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1'000'000;

    BenchRows fill;
    const QDateTime start = BenchRows::start();

    // The run reserves room for its rows before the first echo.
    ResultModel model;
    model.reserve(rows);
    for (int i = 0; i < rows; ++i)
        fill.append(model, start.addSecs(i / 3));
    const double modelPeak = peakRssMb();

    QTemporaryDir dir;
    const QString tablePath = dir.filePath(QStringLiteral("results.txt"));
    const QString csvPath = dir.filePath(QStringLiteral("results.csv"));
    bool ok = true;
    double tableCpu = 0, csvCpu = 0;
    const double tableMs = elapsedMs([&] { ok = SaveResultList(tablePath, model, false).written && ok; }, &tableCpu);
    const qint64 tableBytes = QFileInfo(tablePath).size();
    QFile::remove(tablePath);
    const double csvMs = elapsedMs([&] { ok = SaveResultList(csvPath, model, true).written && ok; }, &csvCpu);
    const qint64 csvBytes = QFileInfo(csvPath).size();
    const double peak = peakRssMb();

    std::printf("table_ms %.0f\n", tableMs);
    std::printf("csv_ms %.0f\n", csvMs);
    std::printf("peak_rss_mb %.1f\n", peak);
    std::fprintf(stderr, "processor time: table %.0f ms, csv %.0f ms\n", tableCpu, csvCpu);
    std::fprintf(stderr, "rows %d, filled list alone %.1f MiB peak, ratio %.2f, table %lld bytes, csv %lld bytes%s\n",
                 model.rowCount(), modelPeak, modelPeak > 0 ? peak / modelPeak : 0.0,
                 static_cast<long long>(tableBytes), static_cast<long long>(csvBytes), ok ? "" : ", A SAVE FAILED");
    return ok ? 0 : 1;
}
