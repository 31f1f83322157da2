#include "monitor/Statistics.h"

#include <QCollator>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <numeric>

namespace tarvok {

QString PadLeft(const QString& text, int width)
{
    if (text.size() >= width)
        return text;
    return QString(width - text.size(), QLatin1Char(' ')) + text;
}

int FailureRateTenths(int attempts, int failures)
{
    if (attempts <= 0)
        return -1;
    // F * 1000 and A are exact in double and a true tie (x.5) is representable,
    // so nearbyint's ties-to-even applies exactly where the tie is real.
    const double tenths = static_cast<double>(failures) * 1000.0 / static_cast<double>(attempts);
    const double r = std::nearbyint(tenths); // default rounding mode: ties to even
    return static_cast<int>(r);
}

qint64 AverageTime(qint64 totalTime, int answered)
{
    if (answered <= 0)
        return -1;
    const qint64 q = totalTime / answered;
    const qint64 rem = totalTime % answered;
    if (2 * rem > answered || (2 * rem == answered && (q % 2) != 0))
        return q + 1;
    return q;
}

QString FormatCount(int count)
{
    return PadLeft(QString::number(count), 6) + QStringLiteral("回");
}

QString FormatRate(int attempts, int failures)
{
    const int tenths = FailureRateTenths(attempts, failures);
    if (tenths < 0)
        return QStringLiteral("    %");
    QString t = QString::number(tenths / 10);
    if (tenths % 10 != 0)
        t += QLatin1Char('.') + QString::number(tenths % 10);
    return PadLeft(t, 4) + QLatin1Char('%');
}

QString FormatMs(int ms)
{
    if (ms == TargetState::NoTime)
        return QStringLiteral("      ms");
    return PadLeft(QString::number(ms), 6) + QStringLiteral("ms");
}

QString FormatAverage(const StatCounters& c)
{
    if (c.Attempts <= 0)
        return QStringLiteral("      ms");
    const qint64 v = AverageTime(c.TotalTime, c.Attempts - c.Failures);
    if (v < 0)
        return QStringLiteral("      ms");
    return PadLeft(QString::number(v), 6) + QStringLiteral("ms");
}

StatRow MakeStatRow(const QString& address, const QString& comment, const StatCounters& c)
{
    StatRow r;
    r.Target = address;
    r.Attempts = FormatCount(c.Attempts);
    r.Failures = FormatCount(c.Failures);
    r.Rate = FormatRate(c.Attempts, c.Failures);
    r.MinTime = FormatMs(c.MinTime);
    r.MaxTime = FormatMs(c.MaxTime);
    r.Average = FormatAverage(c);
    r.Comment = comment;
    r.StateImage = FailureRateTenths(c.Attempts, c.Failures) == 1000 ? image::RedBall : -1;
    return r;
}

namespace {
template <typename Pred>
std::vector<bool> selectWhere(const std::vector<TargetState>& states, Pred pred)
{
    std::vector<bool> out(states.size());
    for (size_t i = 0; i < states.size(); ++i)
        out[i] = pred(states[i]);
    return out;
}
} // namespace

std::vector<bool> SelectOKAddress(const std::vector<TargetState>& states)
{
    return selectWhere(states, [](const TargetState& s) { return s.Attempts - s.Failures > 0; });
}

std::vector<bool> SelectNGAddress(const std::vector<TargetState>& states)
{
    return selectWhere(states, [](const TargetState& s) { return s.Failures > 0; });
}

std::vector<bool> SelectAllOKAddress(const std::vector<TargetState>& states)
{
    return selectWhere(states, [](const TargetState& s) { return s.Failures == 0 && s.Attempts > 0; });
}

std::vector<bool> SelectAllNGAddress(const std::vector<TargetState>& states)
{
    return selectWhere(states, [](const TargetState& s) { return s.Failures == s.Attempts; });
}

std::vector<bool> ReverseSelect(const std::vector<bool>& selected)
{
    std::vector<bool> out(selected.size());
    for (size_t i = 0; i < selected.size(); ++i)
        out[i] = !selected[i];
    return out;
}

ToukeiMenuState ToukeiMenuEnabling(bool busy, int rowCount, int selectedCount)
{
    ToukeiMenuState s;
    s.selectionActions = !busy && rowCount > 0;
    s.runActions = s.selectionActions && selectedCount > 0;
    return s;
}

bool ListSortMemory::click(int column)
{
    const bool ascending = !(column == column_ && ascending_);
    ascending_ = ascending;
    column_ = column;
    return ascending;
}

struct TextOrder::Impl {
    QCollator collator{QLocale(QLocale::Japanese, QLocale::Japan)};
};

TextOrder::TextOrder()
    : d(std::make_unique<Impl>())
{
    d->collator.setCaseSensitivity(Qt::CaseSensitive);
    d->collator.setIgnorePunctuation(false);
    d->collator.setNumericMode(false);
}

TextOrder::~TextOrder() = default;

int TextOrder::compare(const QString& a, const QString& b) const
{
    const int c = d->collator.compare(a, b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::vector<int> TextOrder::ranks(const QStringList& texts) const
{
    const qsizetype n = texts.size();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(n);
    for (const QString& t : texts)
        keys.push_back(d->collator.sortKey(t));
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return keys[a].compare(keys[b]) < 0; });
    std::vector<int> rank(n);
    int r = 0;
    for (qsizetype i = 0; i < n; ++i) {
        if (i > 0 && keys[order[i - 1]].compare(keys[order[i]]) != 0)
            ++r;
        rank[order[i]] = r;
    }
    return rank;
}

std::vector<int> SortPermutation(const std::vector<qint64>& keys, bool ascending)
{
    std::vector<int> perm(keys.size());
    std::iota(perm.begin(), perm.end(), 0);
    if (ascending)
        std::stable_sort(perm.begin(), perm.end(), [&](int a, int b) { return keys[a] < keys[b]; });
    else
        std::stable_sort(perm.begin(), perm.end(), [&](int a, int b) { return keys[a] > keys[b]; });
    return perm;
}

} // namespace tarvok
