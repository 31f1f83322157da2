#pragma once
// The result rows the benchmarks fill the result list with: 200 targets with
// comments, a mix of answers (85 %), time-outs and router errors, drawn from
// a fixed seed so that every run fills the same list.

#include "run/ResultModel.h"

#include <QDateTime>
#include <QStringList>
#include <random>

namespace tarvok {

class BenchRows {
public:
    BenchRows()
    {
        for (int i = 0; i < 200; ++i) {
            targets_.append(i % 3 == 0 ? QStringLiteral("host%1.example.jp").arg(i)
                                       : QStringLiteral("10.1.%1.%2").arg(i / 50).arg(i));
            comments_.append(i % 4 == 0 ? QString() : QStringLiteral("拠点 %1 の回線").arg(i));
            addresses_.append(QStringLiteral("10.1.%1.%2").arg(i / 50).arg(i));
        }
    }

    // The time of the first row; three rows a second follow.
    static QDateTime start() { return QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0)); }

    // Appends the next row, received at `when`.
    void append(ResultModel& model, const QDateTime& when)
    {
        const int t = pick_(rng_);
        const int k = kind_(rng_);
        if (k < 85)
            model.append(when, targets_[t], comments_[t], 0, addresses_[t], static_cast<quint32>(rtt_(rng_)));
        else if (k < 97)
            model.append(when, targets_[t], comments_[t], 11010, QStringLiteral("0.0.0.0"), 0);
        else
            model.append(when, targets_[t], comments_[t], 11003, QStringLiteral("198.18.0.254"), 0);
    }

private:
    QStringList targets_, comments_, addresses_;
    std::mt19937 rng_{42};
    std::uniform_int_distribution<int> pick_{0, 199}, rtt_{0, 2000}, kind_{0, 99};
};

} // namespace tarvok
