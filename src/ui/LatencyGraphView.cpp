#include "ui/LatencyGraphView.h"

#include "base/MulDiv.h"
#include "store/Preferences.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <utility>

namespace tarvok {

namespace {

constexpr qint64 kSecond = 1000;
constexpr qint64 kMinute = 60 * kSecond;
constexpr qint64 kHour = 60 * kMinute;
constexpr qint64 kDay = 24 * kHour;
constexpr qint64 kMinWholeSpan = kMinute;
constexpr qint64 kMaxSpan = 400 * kDay;
// Pixels between 0 ms and the frame below it: a host that answers in 0 ms
// draws its line just above the frame, not on it.
constexpr int kZeroLift = 3;

// Height of one target's row in the strip of losses and slow replies: tall
// enough to read at a glance, shorter when many targets share it.
int stripRow(size_t targets)
{
    return targets <= 2 ? 10 : targets <= 4 ? 8 : targets <= 8 ? 6 : 4;
}
constexpr int kLegendTextWidth = 240;

constexpr QRgb kColours[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f,
                             0xbcbd22, 0x17becf, 0x393b79, 0x637939, 0x8c6d31, 0x843c39, 0x7b4173, 0x3182bd};
constexpr int kColourCount = int(std::size(kColours));
static_assert(kColourCount >= LatencyGraphView::kMaxTargets);

// 1, 2 or 5 times a power of ten, at least `raw`.
double niceStep(double raw)
{
    const double p = std::pow(10.0, std::floor(std::log10(std::max(raw, 1e-9))));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * p >= raw)
            return m * p;
    return 10 * p;
}

QString msText(double v)
{
    return v == std::floor(v) ? QString::number(qint64(v)) : QString::number(v, 'f', 1);
}

} // namespace

LatencyGraphView::LatencyGraphView(const LatencyHistory& history, const Preferences& prefs, QWidget* parent)
    : QWidget(parent), history_(history), prefs_(prefs)
{
    setObjectName(QStringLiteral("LatencyGraph"));
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::WheelFocus);
}

void LatencyGraphView::setChosenTargets(std::vector<int> targets)
{
    chosen_ = std::move(targets);
    dirty_ = true;
    update();
}

std::vector<int> LatencyGraphView::shownTargets() const
{
    std::vector<int> shown;
    const int n = history_.targetCount();
    if (chosen_.empty()) {
        for (int t = 0; t < std::min(n, kMaxTargets); ++t)
            shown.push_back(t);
    } else {
        for (int t : chosen_)
            if (t >= 0 && t < n && int(shown.size()) < kMaxTargets)
                shown.push_back(t);
    }
    return shown;
}

QString LatencyGraphView::legendText(const QFontMetrics& fm, int target) const
{
    const QString address = history_.address(target);
    if (history_.comment(target).isEmpty())
        return address;
    const QString text = address + QLatin1Char(' ') + history_.comment(target);
    const int width = std::max(kLegendTextWidth, fm.horizontalAdvance(address + QStringLiteral(" …")));
    return fm.elidedText(text, Qt::ElideRight, width);
}

QString LatencyGraphView::legendNote() const
{
    const int n = history_.targetCount();
    if (chosen_.empty() && n > kMaxTargets)
        return QStringLiteral("ほか %1 件（Ping 統計で行を選ぶと、その対象を表示します）").arg(n - kMaxTargets);
    if (int(chosen_.size()) > kMaxTargets)
        return QStringLiteral("選択した %1 件のうち先頭の %2 件を表示しています").arg(chosen_.size()).arg(kMaxTargets);
    return {};
}

// --- Time window -------------------------------------------------------------

void LatencyGraphView::setSpan(qint64 spanMs)
{
    span_ = spanMs <= 0 ? 0 : std::clamp(spanMs, kMinSpanMs, kMaxSpan);
    following_ = true;
    dirty_ = true;
    update();
}

void LatencyGraphView::followNewest()
{
    following_ = true;
    dirty_ = true;
    update();
}

std::pair<qint64, qint64> LatencyGraphView::range() const
{
    const qint64 end = history_.lastMs() + 1;
    if (span_ <= 0)
        return {0, std::max(end, kMinWholeSpan)};
    if (following_)
        return {end - span_, end}; // reaching back from now, before the run began if need be
    return {fixedTo_ - span_, fixedTo_};
}

void LatencyGraphView::fixRange(qint64 from, qint64 to)
{
    span_ = std::clamp(to - from, kMinSpanMs, kMaxSpan);
    to = from + span_;
    if (to > history_.lastMs()) {
        following_ = true; // back at the newest echo
    } else {
        following_ = false;
        // The right edge never goes back before the run's first span.
        fixedTo_ = std::max(to, std::min(span_, history_.lastMs() + 1));
    }
    dirty_ = true;
    update();
    emit viewChanged();
}

void LatencyGraphView::zoomAt(double factor, int x)
{
    const auto [from, to] = range();
    const qint64 current = to - from;
    const qint64 next = std::clamp(qint64(std::llround(double(current) * factor)), kMinSpanMs, kMaxSpan);
    if (following_) {
        // Zooming while following keeps the newest echo at the right edge.
        span_ = next;
        dirty_ = true;
        update();
        emit viewChanged();
        return;
    }
    const QRect plot = drawnPlot_.isValid() ? drawnPlot_ : rect();
    const double frac = plot.width() > 0 ? std::clamp(double(x - plot.left()) / plot.width(), 0.0, 1.0) : 1.0;
    const qint64 anchor = from + qint64(frac * double(current));
    const qint64 nextFrom = anchor - qint64(frac * double(next));
    fixRange(nextFrom, nextFrom + next);
}

void LatencyGraphView::panBy(int dx)
{
    const auto [from, to] = range();
    const QRect plot = drawnPlot_.isValid() ? drawnPlot_ : rect();
    const qint64 shift = plot.width() > 0 ? qint64(double(dx) * double(to - from) / plot.width()) : 0;
    if (shift == 0)
        return;
    if (span_ <= 0)
        span_ = to - from;
    if (following_ && shift < 0)
        return; // already at the newest echo
    fixRange(from - shift, to - shift);
}

void LatencyGraphView::refresh()
{
    if (dirty_ || history_.revision() != paintedRevision_)
        update();
}

// --- Events -------------------------------------------------------------------

void LatencyGraphView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    draw(p);
}

QImage LatencyGraphView::image()
{
    QImage img(size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    QPainter p(&img);
    draw(p);
    return img;
}

void LatencyGraphView::wheelEvent(QWheelEvent* event)
{
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0) {
        event->ignore();
        return;
    }
    zoomAt(std::pow(0.8, steps), int(event->position().x()));
    event->accept();
}

void LatencyGraphView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        dragX_ = int(event->position().x());
        setCursor(Qt::ClosedHandCursor);
    }
    QWidget::mousePressEvent(event);
}

void LatencyGraphView::mouseMoveEvent(QMouseEvent* event)
{
    if (dragX_ >= 0) {
        const int x = int(event->position().x());
        panBy(x - dragX_);
        dragX_ = x;
    }
    QWidget::mouseMoveEvent(event);
}

void LatencyGraphView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        dragX_ = -1;
        unsetCursor();
    }
    QWidget::mouseReleaseEvent(event);
}

void LatencyGraphView::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        followNewest();
        emit viewChanged();
    }
}

bool LatencyGraphView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = toolTipAt(help->pos().x());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, this);
        return true;
    }
    return QWidget::event(event);
}

QString LatencyGraphView::toolTipAt(int x)
{
    if (buckets_.empty() || !drawnPlot_.isValid() || x < drawnPlot_.left() || x > drawnPlot_.right())
        return {};
    const int columns = drawnPlot_.width();
    const int col = x - drawnPlot_.left();
    // Per target, the nearest column with echoes within a few pixels: when
    // zoomed in, echoes are sparser than pixels and the line bridges the gaps.
    auto nearest = [&](const std::vector<LatencyBucket>& row) -> const LatencyBucket& {
        for (int d = 0; d <= 8; ++d) {
            if (col - d >= 0 && !row[size_t(col - d)].empty())
                return row[size_t(col - d)];
            if (col + d < columns && !row[size_t(col + d)].empty())
                return row[size_t(col + d)];
        }
        return row[size_t(col)];
    };
    const qint64 span = drawnTo_ - drawnFrom_;
    const qint64 t0 = drawnFrom_ + qint64(mulDivCeil(quint64(col), quint64(span), quint64(columns)));
    const qint64 t1 = drawnFrom_ + qint64(mulDivCeil(quint64(col + 1), quint64(span), quint64(columns)));
    const QDateTime start = history_.start();
    const QString fmt = span < 10 * kMinute ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss");
    QStringList lines;
    lines << start.addMSecs(t0).toString(QStringLiteral("yyyy/MM/dd ") + fmt) + QStringLiteral(" 〜 ")
                 + start.addMSecs(t1).toString(fmt);
    for (size_t k = 0; k < drawn_.size(); ++k) {
        const LatencyBucket& b = nearest(buckets_[k]);
        QString label = history_.address(drawn_[k]);
        const QString comment = history_.comment(drawn_[k]);
        if (!comment.isEmpty())
            label += QLatin1Char(' ') + comment;
        QString values;
        if (b.empty())
            values = QStringLiteral("データなし");
        else if (b.answered() == 0)
            values = QStringLiteral("応答なし　損失 %1/%2").arg(b.lost).arg(b.echoes);
        else
            values = QStringLiteral("中央値 %1 ms　最小 %2 ms　最大 %3 ms　損失 %4/%5")
                         .arg(msText(b.medianMs))
                         .arg(b.minMs)
                         .arg(b.maxMs)
                         .arg(b.lost)
                         .arg(b.echoes);
        lines << label + QStringLiteral("： ") + values;
    }
    return lines.join(QLatin1Char('\n'));
}

// --- Colours ------------------------------------------------------------------

// A target keeps the colour it was first drawn in for the whole run, whatever
// else is shown beside it. Only when a target shown with it already has that
// colour (more targets than colours over the run) does it take a free one.
void LatencyGraphView::assignColours()
{
    if (history_.start() != colourRun_ || history_.targetCount() != colourTargets_) {
        colourOfTarget_.clear();
        colourRun_ = history_.start();
        colourTargets_ = history_.targetCount();
    }
    drawnColours_.assign(drawn_.size(), -1);
    bool used[kColourCount] = {};
    for (size_t k = 0; k < drawn_.size(); ++k) {
        const auto it = colourOfTarget_.find(drawn_[k]);
        if (it != colourOfTarget_.end() && !used[it->second]) {
            drawnColours_[k] = it->second;
            used[it->second] = true;
        }
    }
    for (size_t k = 0; k < drawn_.size(); ++k) {
        if (drawnColours_[k] >= 0)
            continue;
        int c = drawn_[k] % kColourCount;
        for (int i = 0; used[c] && i < kColourCount; ++i)
            c = (c + 1) % kColourCount;
        drawnColours_[k] = c;
        used[c] = true;
        colourOfTarget_[drawn_[k]] = c;
    }
}

QColor LatencyGraphView::colour(size_t k) const
{
    return k < drawnColours_.size() ? QColor(kColours[drawnColours_[k]]) : QColor(Qt::black);
}

QColor LatencyGraphView::targetColour(int target) const
{
    for (size_t k = 0; k < drawn_.size(); ++k)
        if (drawn_[k] == target)
            return colour(k);
    return {};
}

// --- Drawing ------------------------------------------------------------------

LatencyGraphView::Frame LatencyGraphView::frame(const QFontMetrics& fm) const
{
    Frame f;
    const QRect all = rect().adjusted(6, 4, -10, -2);
    const int line = fm.height() + 2;

    // Legend rows: entries flow left to right; the note takes a row of its own.
    int rows = 0, x = all.left();
    for (int t : drawn_) {
        const int w = 18 + fm.horizontalAdvance(legendText(fm, t)) + 14;
        if (rows == 0 || x + w > all.right()) {
            ++rows;
            x = all.left();
        }
        x += w;
    }
    if (!legendNote().isEmpty())
        ++rows;
    rows = std::min(rows, std::max(1, height() / 4 / line));
    f.legendRows = rows;
    f.legend = QRect(all.left(), all.top(), all.width(), rows * line);

    const int left = all.left() + fm.horizontalAdvance(QStringLiteral("100000")) + 8;
    const int axisH = fm.height() + 4;
    const int stripH = std::max<int>(1, int(drawn_.size())) * stripRow(drawn_.size()) + 2;
    const int bottom = all.bottom() - axisH;
    f.timeAxis = QRect(left, bottom + 1, all.right() - left, axisH);
    f.strip = QRect(left, bottom - stripH + 1, all.right() - left, stripH);
    const int plotTop = f.legend.bottom() + 6 + fm.height() * 3 / 2; // room for the unit above the top value
    f.plot = QRect(QPoint(left, plotTop), QPoint(all.right(), f.strip.top() - 5));
    return f;
}

void LatencyGraphView::aggregate(const QRect& plot)
{
    const auto [from, to] = range();
    drawnFrom_ = from;
    drawnTo_ = to;
    drawnPlot_ = plot;
    const qint64 slowFrom = prefs_.CheckRTT ? std::max(prefs_.CheckRTTValue, 1) : 0;
    buckets_.resize(drawn_.size());
    for (size_t k = 0; k < drawn_.size(); ++k)
        history_.aggregate(drawn_[k], from, to, std::max(plot.width(), 1), slowFrom, buckets_[k]);
}

void LatencyGraphView::draw(QPainter& p)
{
    const QFontMetrics fm(font());
    const QColor ink(0x30, 0x30, 0x30), grid(0xe4, 0xe4, 0xe4);
    p.fillRect(rect(), Qt::white);
    paintedRevision_ = history_.revision();
    dirty_ = false;

    drawn_ = shownTargets();
    assignColours();
    if (drawn_.empty() || !history_.start().isValid()) {
        buckets_.clear();
        drawnPlot_ = QRect();
        p.setPen(ink);
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                   QStringLiteral("Ping を実行すると、対象ごとの応答時間がここに表示されます。"));
        return;
    }

    const Frame f = frame(fm);
    const QRect plot = f.plot;
    if (plot.width() < 10 || plot.height() < 10)
        return;
    aggregate(plot);
    const int columns = plot.width();

    // Vertical scale: the longest reply shown, and the slow threshold when it
    // is not far above it.
    double top = 0;
    for (const auto& row : buckets_)
        for (const LatencyBucket& b : row)
            if (b.answered() > 0)
                top = std::max(top, double(b.maxMs));
    const bool threshold = prefs_.CheckRTT;
    const double limit = std::max(prefs_.CheckRTTValue, 0);
    const bool thresholdInside = threshold && (limit <= top * 1.5 || top == 0);
    if (thresholdInside)
        top = std::max(top, limit);
    const double step = niceStep(std::max(top, 5.0) / 5.0);
    // The scale ends on the first tick above the longest reply, so that a
    // steady line never lies on the frame.
    const double yMax = (std::floor(std::max(top, 1.0) / step) + 1) * step;
    auto y = [&](double v) { return plot.bottom() + 1 - kZeroLift - v / yMax * (plot.height() - kZeroLift); };
    auto x = [&](int column) { return plot.left() + column + 0.5; };

    // Grid and value axis.
    p.setFont(font());
    for (double v = 0; v <= yMax + step / 2; v += step) {
        const int yy = int(std::lround(y(v)));
        p.setPen(grid);
        p.drawLine(plot.left(), yy, plot.right(), yy);
        p.setPen(ink);
        p.drawText(QRect(0, yy - fm.height() / 2, plot.left() - 5, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                   msText(v));
    }
    p.drawText(QRect(0, f.legend.bottom() + 4, plot.left() - 5, fm.height()), Qt::AlignRight, QStringLiteral("ms"));

    // Time axis: ticks on round wall-clock times.
    const qint64 span = drawnTo_ - drawnFrom_;
    const QDateTime start = history_.start();
    const qint64 localStart = start.toMSecsSinceEpoch() + qint64(start.offsetFromUtc()) * 1000;
    static const qint64 steps[] = {kSecond,     2 * kSecond, 5 * kSecond,  10 * kSecond, 15 * kSecond, 30 * kSecond,
                                   kMinute,     2 * kMinute, 5 * kMinute,  10 * kMinute, 15 * kMinute, 30 * kMinute,
                                   kHour,       2 * kHour,   3 * kHour,    6 * kHour,    12 * kHour,   kDay,
                                   2 * kDay,    7 * kDay,    30 * kDay,    90 * kDay};
    const bool days = span > kDay;
    const QString tickFormat = days ? QStringLiteral("M/d HH:mm") : QStringLiteral("HH:mm:ss");
    const int labelWidth = fm.horizontalAdvance(days ? QStringLiteral("12/31 00:00") : QStringLiteral("00:00:00")) + 16;
    qint64 tick = steps[std::size(steps) - 1];
    for (qint64 s : steps)
        if (double(s) / double(span) * columns >= labelWidth) {
            tick = s;
            break;
        }
    const bool seconds = tick < kMinute;
    qint64 first = ((localStart + drawnFrom_ + tick - 1) / tick) * tick - localStart;
    if (localStart + drawnFrom_ < 0)
        first = drawnFrom_;
    for (qint64 t = first; t < drawnTo_; t += tick) {
        const double xx = plot.left() + double(t - drawnFrom_) / double(span) * columns;
        p.setPen(grid);
        p.drawLine(QPointF(xx, plot.top()), QPointF(xx, plot.bottom()));
        p.setPen(ink);
        const QString label = start.addMSecs(t).toString(seconds || days ? tickFormat : QStringLiteral("HH:mm"));
        p.drawText(QRectF(xx - labelWidth / 2.0, f.timeAxis.top(), labelWidth, f.timeAxis.height()),
                   Qt::AlignHCenter | Qt::AlignTop, label);
    }

    // Bands, then median lines over them. Columns without echoes are bridged
    // (echoes are sparser than pixels when zoomed in); a column with losses
    // only breaks band and line. The band is one pixel-wide bar per column,
    // which costs the width, where a filled outline of the jagged extremes
    // would cost far more.
    p.setClipRect(plot.adjusted(0, -1, 1, 1));
    std::vector<QPolygonF> medians;
    for (size_t k = 0; k < drawn_.size(); ++k) {
        const auto& row = buckets_[k];
        QColor band = colour(k);
        band.setAlpha(drawn_.size() > 4 ? 40 : 60);
        QList<QRect> bars;
        int prev = -1;
        auto bar = [&](int i, double lo, double hi) {
            const int top = int(std::floor(y(hi)));
            const int bottom = int(std::ceil(y(lo)));
            bars << QRect(plot.left() + i, top, 1, std::max(bottom - top, 1));
        };
        QPolygonF median;
        for (int i = 0; i < columns; ++i) {
            const LatencyBucket& b = row[size_t(i)];
            if (b.empty())
                continue;
            if (b.answered() == 0) {
                prev = -1;
                if (!median.isEmpty())
                    medians.push_back(std::exchange(median, {}));
                continue;
            }
            if (prev >= 0) {
                const LatencyBucket& a = row[size_t(prev)];
                for (int j = prev + 1; j < i; ++j) {
                    const double f = double(j - prev) / double(i - prev);
                    bar(j, a.minMs + f * (double(b.minMs) - a.minMs), a.maxMs + f * (double(b.maxMs) - a.maxMs));
                }
            }
            bar(i, b.minMs, b.maxMs);
            median << QPointF(x(i), y(b.medianMs));
            prev = i;
        }
        if (!median.isEmpty())
            medians.push_back(std::exchange(median, {}));
        medians.push_back({}); // marks the next target
        p.setPen(Qt::NoPen);
        p.setBrush(band);
        p.drawRects(bars);
    }
    p.setBrush(Qt::NoBrush);
    // Smooth lines for a few targets; many jagged lines at once are drawn
    // plainly, which is several times faster.
    p.setRenderHint(QPainter::Antialiasing, drawn_.size() <= 4);
    int k = 0;
    for (const QPolygonF& line : medians) {
        if (line.isEmpty()) {
            ++k;
            continue;
        }
        p.setPen(QPen(colour(size_t(k)), 1));
        if (line.size() == 1)
            p.drawPoint(line[0]);
        else
            p.drawPolyline(line);
    }

    // The slow threshold.
    p.setClipping(false);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor alarm(0xc0, 0x10, 0x10);
    if (threshold) {
        const QString text = QStringLiteral("遅延判定 %1 ms").arg(prefs_.CheckRTTValue);
        p.setPen(alarm);
        if (thresholdInside) {
            const int yy = int(std::lround(y(limit)));
            p.setPen(QPen(alarm, 1, Qt::DashLine));
            p.drawLine(plot.left(), yy, plot.right(), yy);
            p.setPen(alarm);
            p.drawText(QRect(plot.left() + 4, yy - fm.height() - 1, plot.width() - 8, fm.height()), Qt::AlignRight,
                       text);
        } else {
            p.drawText(QRect(plot.left() + 4, plot.top() + 2, plot.width() - 8, fm.height()), Qt::AlignRight,
                       text + QStringLiteral(" ↑"));
        }
    }

    // The strip of losses (full height) and slow replies (lower half), one
    // row per target.
    p.fillRect(f.strip, QColor(0xf4, 0xf4, 0xf4));
    p.setPen(ink);
    p.drawText(QRect(0, f.strip.top() - 2, plot.left() - 5, std::max(f.strip.height(), fm.height())),
               Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("NG"));
    const int rowHeight = stripRow(drawn_.size());
    for (size_t k = 0; k < drawn_.size(); ++k) {
        const int top = f.strip.top() + 1 + int(k) * rowHeight;
        if (k > 0)
            p.fillRect(f.strip.left(), top - 1, f.strip.width(), 1, QColor(0xe0, 0xe0, 0xe0));
        const QColor c = colour(k);
        QColor light = c;
        light.setAlpha(170);
        for (int i = 0; i < columns; ++i) {
            const LatencyBucket& b = buckets_[k][size_t(i)];
            if (b.lost > 0)
                p.fillRect(plot.left() + i, top, 2, rowHeight - 1, c);
            else if (b.slow > 0)
                p.fillRect(plot.left() + i, top + rowHeight / 2, 2, rowHeight - 1 - rowHeight / 2, light);
        }
    }
    p.setPen(QColor(0xa0, 0xa0, 0xa0));
    p.drawRect(plot.adjusted(0, 0, 0, 0));

    // Legend.
    const QString note = legendNote();
    const int entryRows = f.legendRows - (note.isEmpty() ? 0 : 1);
    const int line = fm.height() + 2;
    int row = 0, lx = f.legend.left();
    for (size_t k = 0; k < drawn_.size(); ++k) {
        const QString text = legendText(fm, drawn_[k]);
        const int w = 18 + fm.horizontalAdvance(text) + 14;
        if (lx + w > f.legend.right() && lx > f.legend.left()) {
            ++row;
            lx = f.legend.left();
        }
        if (row >= entryRows)
            break;
        const int ly = f.legend.top() + row * line;
        p.fillRect(lx, ly + line / 2 - 2, 14, 4, colour(k));
        p.setPen(ink);
        p.drawText(QRect(lx + 18, ly, w, line), Qt::AlignLeft | Qt::AlignVCenter, text);
        lx += w;
    }
    if (!note.isEmpty() && f.legendRows > 0) {
        p.setPen(QColor(0x60, 0x60, 0x60));
        p.drawText(QRect(f.legend.left(), f.legend.top() + (f.legendRows - 1) * line, f.legend.width(), line),
                   Qt::AlignLeft | Qt::AlignVCenter, note);
    }
    if (!following_) {
        p.setPen(QColor(0x60, 0x60, 0x60));
        p.drawText(QRect(plot.left() + 4, plot.top() + 2, plot.width() - 8, fm.height()), Qt::AlignLeft,
                   QStringLiteral("過去を表示中（ダブルクリックで最新へ）"));
    }
}

} // namespace tarvok
