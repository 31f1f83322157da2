#include "ui/graph/LatencyGraphPainter.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <utility>

namespace tarvok {

namespace {

constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;
// Pixels between 0 ms and the frame below it: a host that answers in 0 ms
// draws its line just above the frame, not on it.
constexpr int kZeroLift = 3;

const QColor kInk(0x30, 0x30, 0x30);
const QColor kGrid(0xe4, 0xe4, 0xe4);
const QColor kAlarm(0xc0, 0x10, 0x10);
const QColor kQuiet(0x60, 0x60, 0x60);

// 1, 2 or 5 times a power of ten, at least `raw`.
double niceStep(double raw)
{
    const double p = std::pow(10.0, std::floor(std::log10(std::max(raw, 1e-9))));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= raw)
            return m * p;
    return 10 * p;
}

// A legend entry's text: the target's address whole (an IPv6 one is wider
// than the usual room), then its comment, cut to the legend's width.
QString legendLabel(const QFontMetrics& fm, const QString& label)
{
    const qsizetype blank = label.indexOf(u' ');
    const QString address = blank < 0 ? label : label.left(blank);
    const int room = std::max(LatencyGraphPainter::kLegendTextWidth,
                              fm.horizontalAdvance(address + QStringLiteral(" \u2026")));
    return fm.elidedText(label, Qt::ElideRight, room);
}

// The width of one legend entry with its colour mark.
int legendEntryWidth(const QFontMetrics& fm, const QString& text)
{
    return 18 + fm.horizontalAdvance(legendLabel(fm, text)) + 14;
}

} // namespace

QString LatencyGraphPainter::msText(double v)
{
    if (v == std::floor(v))
        return QString::number(qint64(v));
    if (v >= 1)
        return QString::number(v, 'f', 1);
    QString text = QString::number(v, 'f', 3);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    return text;
}

// Tall enough to read at a glance, shorter when many targets share the strip.
int LatencyGraphPainter::stripRow(size_t targets)
{
    return targets <= 2 ? 10 : targets <= 4 ? 8 : targets <= 8 ? 6 : 4;
}

LatencyGraphFrame LatencyGraphFrame::layout(const QRect& widget, const QFontMetrics& fm,
                                            const LatencyGraphPicture& picture)
{
    LatencyGraphFrame f;
    const QRect all = widget.adjusted(6, 4, -10, -2);
    const int line = fm.height() + 2;

    // Legend rows: entries flow left to right; the note takes a row of its own.
    int rows = 0, x = all.left();
    for (const QString& text : picture.labels) {
        const int w = legendEntryWidth(fm, text);
        if (rows == 0 || x + w > all.right()) {
            ++rows;
            x = all.left();
        }
        x += w;
    }
    if (!picture.note.isEmpty())
        ++rows;
    rows = std::min(rows, std::max(1, widget.height() / 4 / line));
    f.legendRows = rows;
    f.legend = QRect(all.left(), all.top(), all.width(), rows * line);

    const int left = all.left() + fm.horizontalAdvance(QStringLiteral("100000")) + 8;
    const int axisH = fm.height() + 4;
    const size_t drawn = picture.labels.size();
    const int stripH = std::max<int>(1, int(drawn)) * LatencyGraphPainter::stripRow(drawn) + 2;
    const int bottom = all.bottom() - axisH;
    f.timeAxis = QRect(left, bottom + 1, all.right() - left, axisH);
    f.strip = QRect(left, bottom - stripH + 1, all.right() - left, stripH);
    const int plotTop = f.legend.bottom() + 6 + fm.height() * 3 / 2; // room for the unit above the top value
    f.plot = QRect(QPoint(left, plotTop), QPoint(all.right(), f.strip.top() - 5));
    return f;
}

// The longest reply shown sets the scale, and the slow threshold when it is
// not far above it. The scale ends on the first tick above the longest reply,
// so that a steady line never lies on the frame.
LatencyGraphScale LatencyGraphScale::fit(const QRect& plot, const LatencyGraphPicture& picture)
{
    LatencyGraphScale s;
    s.plot = plot;
    s.columns = plot.width();
    s.fromMs = picture.fromMs;
    s.toMs = picture.toMs;
    double top = 0;
    for (const auto& row : *picture.buckets)
        for (const LatencyBucket& b : row)
            if (b.answered() > 0)
                top = std::max(top, b.maxMs);
    const double limit = std::max(picture.thresholdMs, 0);
    s.thresholdInside = picture.threshold && (limit <= top * 1.5 || top == 0);
    if (s.thresholdInside)
        top = std::max(top, limit);
    // Whole milliseconds: at least 0 to 5 ms; microseconds: down to 0.5 ms.
    const double least = picture.fineRtt ? 0.5 : 5.0;
    s.step = niceStep(std::max(top, least) / 5.0);
    // (A hair above the quotient: 0.6 / 0.2 is 2.999... in binary.)
    s.yMax = (std::floor(std::max(top, least / 5.0) / s.step + 1e-9) + 1) * s.step;
    return s;
}

double LatencyGraphScale::y(double ms) const
{
    return plot.bottom() + 1 - kZeroLift - ms / yMax * (plot.height() - kZeroLift);
}

double LatencyGraphScale::xAt(qint64 ms) const
{
    return plot.left() + double(ms - fromMs) / double(toMs - fromMs) * columns;
}

LatencyGraphPainter::LatencyGraphPainter(QPainter& p, const QFont& font, const LatencyGraphPicture& picture,
                                         const LatencyGraphFrame& frame)
    : p_(p), fm_(font), picture_(picture), frame_(frame), buckets_(*picture.buckets),
      scale_(LatencyGraphScale::fit(frame.plot, picture))
{
    p_.setFont(font);
}

void LatencyGraphPainter::draw()
{
    valueAxis();
    timeAxis();
    p_.setClipRect(scale_.plot.adjusted(0, -1, 1, 1));
    bands();
    medians();
    p_.setClipping(false);
    p_.setRenderHint(QPainter::Antialiasing, false);
    threshold();
    lossStrip();
    legend();
}

void LatencyGraphPainter::valueAxis()
{
    const QRect& plot = scale_.plot;
    for (double v = 0; v <= scale_.yMax + scale_.step / 2; v += scale_.step) {
        const int yy = int(std::lround(scale_.y(v)));
        p_.setPen(kGrid);
        p_.drawLine(plot.left(), yy, plot.right(), yy);
        p_.setPen(kInk);
        p_.drawText(QRect(0, yy - fm_.height() / 2, plot.left() - 5, fm_.height()), Qt::AlignRight | Qt::AlignVCenter,
                    msText(v));
    }
    p_.drawText(QRect(0, frame_.legend.bottom() + 4, plot.left() - 5, fm_.height()), Qt::AlignRight,
                QStringLiteral("ms"));
}

// Ticks on round wall-clock times, as far apart as their labels need.
void LatencyGraphPainter::timeAxis()
{
    static const qint64 steps[] = {kSecond,     2 * kSecond, 5 * kSecond,  10 * kSecond, 15 * kSecond, 30 * kSecond,
                                   kMinute,     2 * kMinute, 5 * kMinute,  10 * kMinute, 15 * kMinute, 30 * kMinute,
                                   kHour,       2 * kHour,   3 * kHour,    6 * kHour,    12 * kHour,   kDay,
                                   2 * kDay,    7 * kDay,    30 * kDay,    90 * kDay};
    const qint64 from = scale_.fromMs, to = scale_.toMs, span = to - from;
    const QDateTime& origin = picture_.origin;
    const qint64 localOrigin =
        origin.toMSecsSinceEpoch() + qint64(origin.addMSecs(from).offsetFromUtc()) * 1000;
    const bool days = span > kDay;
    const QString tickFormat = days ? QStringLiteral("M/d HH:mm") : QStringLiteral("HH:mm:ss");
    const int labelWidth = fm_.horizontalAdvance(days ? QStringLiteral("12/31 00:00") : QStringLiteral("00:00:00")) + 16;
    qint64 tick = steps[std::size(steps) - 1];
    for (qint64 s : steps)
        if (double(s) / double(span) * scale_.columns >= labelWidth) {
            tick = s;
            break;
        }
    const bool seconds = tick < kMinute;
    qint64 first = ((localOrigin + from + tick - 1) / tick) * tick - localOrigin;
    if (localOrigin + from < 0)
        first = from;
    for (qint64 t = first; t < to; t += tick) {
        const double xx = scale_.xAt(t);
        p_.setPen(kGrid);
        p_.drawLine(QPointF(xx, scale_.plot.top()), QPointF(xx, scale_.plot.bottom()));
        p_.setPen(kInk);
        const QString label = origin.addMSecs(t).toString(seconds || days ? tickFormat : QStringLiteral("HH:mm"));
        p_.drawText(QRectF(xx - labelWidth / 2.0, frame_.timeAxis.top(), labelWidth, frame_.timeAxis.height()),
                    Qt::AlignHCenter | Qt::AlignTop, label);
    }
}

// One pixel-wide bar per column from the shortest to the longest reply, which
// costs the width, where a filled outline of the jagged extremes would cost
// far more. Columns without echoes are bridged (echoes are sparser than
// pixels when zoomed in); a column with losses only breaks the band.
void LatencyGraphPainter::bands()
{
    const QRect& plot = scale_.plot;
    for (size_t k = 0; k < buckets_.size(); ++k) {
        const auto& row = buckets_[k];
        QList<QRect> bars;
        auto bar = [&](int column, double lo, double hi) {
            const int top = int(std::floor(scale_.y(hi)));
            const int bottom = int(std::ceil(scale_.y(lo)));
            bars << QRect(plot.left() + column, top, 1, std::max(bottom - top, 1));
        };
        int prev = -1;
        for (int i = 0; i < scale_.columns; ++i) {
            const LatencyBucket& b = row[size_t(i)];
            if (b.empty())
                continue;
            if (b.answered() == 0) {
                prev = -1;
                continue;
            }
            if (prev >= 0) {
                const LatencyBucket& a = row[size_t(prev)];
                for (int j = prev + 1; j < i; ++j) {
                    const double f = double(j - prev) / double(i - prev);
                    bar(j, a.minMs + f * (b.minMs - a.minMs), a.maxMs + f * (b.maxMs - a.maxMs));
                }
            }
            bar(i, b.minMs, b.maxMs);
            prev = i;
        }
        QColor band = picture_.colours[k];
        band.setAlpha(buckets_.size() > 4 ? 40 : 60);
        p_.setPen(Qt::NoPen);
        p_.setBrush(band);
        p_.drawRects(bars);
    }
    p_.setBrush(Qt::NoBrush);
}

// The median lines over the bands, broken where a column has losses only.
// Smooth lines for a few targets; many jagged lines at once are drawn
// plainly, which is several times faster.
void LatencyGraphPainter::medians()
{
    p_.setRenderHint(QPainter::Antialiasing, buckets_.size() <= 4);
    for (size_t k = 0; k < buckets_.size(); ++k) {
        p_.setPen(QPen(picture_.colours[k], 1));
        auto flush = [&](QPolygonF& line) {
            if (line.size() == 1)
                p_.drawPoint(line[0]);
            else if (line.size() > 1)
                p_.drawPolyline(line);
            line.clear();
        };
        QPolygonF line;
        for (int i = 0; i < scale_.columns; ++i) {
            const LatencyBucket& b = buckets_[k][size_t(i)];
            if (b.empty())
                continue;
            if (b.answered() == 0)
                flush(line);
            else
                line << QPointF(scale_.x(i), scale_.y(b.medianMs));
        }
        flush(line);
    }
}

void LatencyGraphPainter::threshold()
{
    if (!picture_.threshold)
        return;
    const QRect& plot = scale_.plot;
    const QString text = QStringLiteral("遅延判定 %1 ms").arg(picture_.thresholdMs);
    if (scale_.thresholdInside) {
        const int yy = int(std::lround(scale_.y(std::max(picture_.thresholdMs, 0))));
        p_.setPen(QPen(kAlarm, 1, Qt::DashLine));
        p_.drawLine(plot.left(), yy, plot.right(), yy);
        p_.setPen(kAlarm);
        p_.drawText(QRect(plot.left() + 4, yy - fm_.height() - 1, plot.width() - 8, fm_.height()), Qt::AlignRight,
                    text);
    } else {
        p_.setPen(kAlarm);
        p_.drawText(QRect(plot.left() + 4, plot.top() + 2, plot.width() - 8, fm_.height()), Qt::AlignRight,
                    text + QStringLiteral(" ↑"));
    }
}

// Losses (full height) and slow replies (lower half), one row per target; the
// plot's frame last, over the bands.
void LatencyGraphPainter::lossStrip()
{
    const QRect& strip = frame_.strip;
    const QRect& plot = scale_.plot;
    p_.fillRect(strip, QColor(0xf4, 0xf4, 0xf4));
    p_.setPen(kInk);
    p_.drawText(QRect(0, strip.top() - 2, plot.left() - 5, std::max(strip.height(), fm_.height())),
                Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("NG"));
    const int rowHeight = stripRow(buckets_.size());
    for (size_t k = 0; k < buckets_.size(); ++k) {
        const int top = strip.top() + 1 + int(k) * rowHeight;
        if (k > 0)
            p_.fillRect(strip.left(), top - 1, strip.width(), 1, QColor(0xe0, 0xe0, 0xe0));
        const QColor c = picture_.colours[k];
        QColor light = c;
        light.setAlpha(170);
        for (int i = 0; i < scale_.columns; ++i) {
            const LatencyBucket& b = buckets_[k][size_t(i)];
            if (b.lost > 0)
                p_.fillRect(plot.left() + i, top, 2, rowHeight - 1, c);
            else if (b.slow > 0)
                p_.fillRect(plot.left() + i, top + rowHeight / 2, 2, rowHeight - 1 - rowHeight / 2, light);
        }
    }
    p_.setPen(QColor(0xa0, 0xa0, 0xa0));
    p_.drawRect(plot);
}

void LatencyGraphPainter::legend()
{
    const QRect& box = frame_.legend;
    const QString& note = picture_.note;
    const int entryRows = frame_.legendRows - (note.isEmpty() ? 0 : 1);
    const int line = fm_.height() + 2;
    int row = 0, lx = box.left();
    for (size_t k = 0; k < picture_.labels.size(); ++k) {
        const QString text = legendLabel(fm_, picture_.labels[k]);
        const int w = 18 + fm_.horizontalAdvance(text) + 14;
        if (lx + w > box.right() && lx > box.left()) {
            ++row;
            lx = box.left();
        }
        if (row >= entryRows)
            break;
        const int ly = box.top() + row * line;
        p_.fillRect(lx, ly + line / 2 - 2, 14, 4, picture_.colours[k]);
        p_.setPen(kInk);
        p_.drawText(QRect(lx + 18, ly, w, line), Qt::AlignLeft | Qt::AlignVCenter, text);
        lx += w;
    }
    if (!note.isEmpty() && frame_.legendRows > 0) {
        p_.setPen(kQuiet);
        p_.drawText(QRect(box.left(), box.top() + (frame_.legendRows - 1) * line, box.width(), line),
                    Qt::AlignLeft | Qt::AlignVCenter, note);
    }
    if (!picture_.following) {
        const QRect& plot = scale_.plot;
        p_.setPen(kQuiet);
        p_.drawText(QRect(plot.left() + 4, plot.top() + 2, plot.width() - 8, fm_.height()), Qt::AlignLeft,
                    QStringLiteral("過去を表示中（ダブルクリックで最新へ）"));
    }
}

} // namespace tarvok
