#include "ui/graph/LatencyGraphView.h"

#include "base/MulDiv.h"
#include "store/Preferences.h"
#include "ui/graph/LatencyGraphPainter.h"

#include <QFileInfo>
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

constexpr qint64 kMinute = 60'000;
constexpr qint64 kDay = 24 * 60 * kMinute;
constexpr qint64 kMinWholeSpan = kMinute;
constexpr qint64 kMaxSpan = 400 * kDay;
// The first id of a series from the history that the run does not have.
constexpr int kStoredOnly = 100'000;
// While following, the history is read again this often.
constexpr qint64 kStoredReloadMs = 10'000;

constexpr QRgb kColours[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f,
                             0xbcbd22, 0x17becf, 0x393b79, 0x637939, 0x8c6d31, 0x843c39, 0x7b4173, 0x3182bd};
constexpr int kColourCount = int(std::size(kColours));
static_assert(kColourCount >= LatencyGraphView::kMaxTargets);

QString seriesLabel(const QString& target, const QString& comment)
{
    return comment.isEmpty() ? target : target + QLatin1Char(' ') + comment;
}

} // namespace

LatencyGraphView::LatencyGraphView(const LatencyHistory& history, const Preferences& prefs, QWidget* parent)
    : QWidget(parent), history_(history), prefs_(prefs)
{
    setObjectName(QStringLiteral("LatencyGraph"));
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::WheelFocus);
    nowMs_ = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

void LatencyGraphView::setChosenTargets(std::vector<int> targets)
{
    chosen_ = std::move(targets);
    storedSeries_.clear();
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

void LatencyGraphView::setSpan(qint64 spanMs, bool fromHistory)
{
    span_ = spanMs <= 0 ? 0 : std::clamp(spanMs, kMinSpanMs, kMaxSpan);
    following_ = true;
    wantStored_ = fromHistory && span_ > 0;
    storedFailed_ = false;
    storedSeries_.clear();
    dirty_ = true;
    update();
}

void LatencyGraphView::setHistoryLoader(HistoryGraphLoader* loader)
{
    if (loader_)
        disconnect(loader_, nullptr, this, nullptr);
    loader_ = loader;
    stored_.reset();
    requested_ = {};
    if (loader_)
        connect(loader_, &HistoryGraphLoader::loaded, this, &LatencyGraphView::onLoaded);
    dirty_ = true;
    update();
}

void LatencyGraphView::setNowMs(std::function<qint64()> nowMs)
{
    nowMs_ = std::move(nowMs);
}

bool LatencyGraphView::fromHistory() const
{
    return wantStored_ && loader_ && prefs_.HistoryEnabled && !storedFailed_;
}

bool LatencyGraphView::showStored(const HistorySeries& series, qint64 fromMs, qint64 toMs)
{
    if (!loader_ || !prefs_.HistoryEnabled)
        return false;
    wantStored_ = true;
    storedFailed_ = false;
    storedSeries_ = {series};
    if (toMs < 0) {
        span_ = std::clamp(nowMs_() - fromMs, kMinSpanMs, kMaxSpan);
        following_ = true;
        dirty_ = true;
        update();
    } else {
        fixRange(fromMs, toMs);
    }
    return true;
}

void LatencyGraphView::onLoaded(std::shared_ptr<const HistoryGraphResult> result)
{
    if (!result->ok) {
        storedFailed_ = true; // drawn from the run until the file changes or the span is chosen again
        failedStamp_ = QFileInfo(loader_ ? loader_->path() : QString()).lastModified();
        stored_.reset();
        requested_ = {};
    } else {
        stored_ = std::move(result);
    }
    dirty_ = true;
    update();
    emit storedLoaded();
}

// The newest time: of the run's echoes, or from the history the present,
// rounded up to a step of the span so that a following view asks for the
// same range for a while.
qint64 LatencyGraphView::newestMs() const
{
    if (!fromHistory())
        return history_.lastMs();
    const qint64 step = std::max<qint64>(1000, span_ / 2000);
    return (nowMs_() + step - 1) / step * step - 1;
}

QDateTime LatencyGraphView::origin() const
{
    return fromHistory() ? QDateTime::fromMSecsSinceEpoch(0) : history_.start();
}

QString LatencyGraphView::label(int target) const
{
    return seriesLabel(history_.address(target), history_.comment(target));
}

void LatencyGraphView::followNewest()
{
    following_ = true;
    dirty_ = true;
    update();
}

std::pair<qint64, qint64> LatencyGraphView::range() const
{
    const qint64 end = newestMs() + 1;
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
    const qint64 newest = newestMs();
    if (to > newest) {
        following_ = true; // back at the newest echo
    } else {
        following_ = false;
        // The right edge never goes back before the run's first span.
        fixedTo_ = std::max(to, std::min(span_, newest + 1));
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
    if (wantStored_ && storedFailed_ && nowMs_() - requestedAtMs_ >= kStoredReloadMs) {
        // The file could not be read: tried again once it has changed (the
        // recorder creates it with the first echoes).
        requestedAtMs_ = nowMs_();
        const QFileInfo file(loader_ ? loader_->path() : QString());
        if (file.exists() && file.lastModified() != failedStamp_) {
            storedFailed_ = false;
            dirty_ = true;
        }
    }
    if (fromHistory()) {
        // Newer rows are read while following; the range moves in steps.
        if (following_ && nowMs_() - requestedAtMs_ >= kStoredReloadMs)
            requested_ = {};
        if (dirty_ || requested_.fromUs != range().first * 1000 || requested_ == HistoryGraphRequest{})
            update();
        return;
    }
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
    const QDateTime start = origin();
    const QString fmt = span < 10 * kMinute ? QStringLiteral("HH:mm:ss.zzz") : QStringLiteral("HH:mm:ss");
    QStringList lines;
    lines << start.addMSecs(t0).toString(QStringLiteral("yyyy/MM/dd ") + fmt) + QStringLiteral(" 〜 ")
                 + start.addMSecs(t1).toString(fmt);
    for (size_t k = 0; k < drawn_.size(); ++k) {
        const LatencyBucket& b = nearest(buckets_[k]);
        QString values;
        if (b.empty())
            values = QStringLiteral("データなし");
        else if (b.answered() == 0)
            values = QStringLiteral("応答なし　損失 %1/%2").arg(b.lost).arg(b.echoes);
        else
            values = QStringLiteral("中央値 %1 ms　最小 %2 ms　最大 %3 ms　損失 %4/%5")
                         .arg(LatencyGraphPainter::msText(b.medianMs))
                         .arg(LatencyGraphPainter::msText(b.minMs))
                         .arg(LatencyGraphPainter::msText(b.maxMs))
                         .arg(b.lost)
                         .arg(b.echoes);
        lines << labels_[k] + QStringLiteral("： ") + values;
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

void LatencyGraphView::aggregate(const QRect& plot)
{
    const auto [from, to] = range();
    drawnFrom_ = from;
    drawnTo_ = to;
    const qint64 slowFrom = prefs_.CheckRTT ? std::max(prefs_.CheckRTTValue, 1) : 0;
    buckets_.resize(drawn_.size());
    for (size_t k = 0; k < drawn_.size(); ++k)
        history_.aggregate(drawn_[k], from, to, std::max(plot.width(), 1), slowFrom, buckets_[k]);
}

// The targets, labels and columns of this paint. False: nothing to draw,
// *message says why.
bool LatencyGraphView::choose(LatencyGraphPicture& picture, const QRect& widget, QString* message)
{
    if (fromHistory())
        return chooseStored(picture, widget, message);
    drawn_ = shownTargets();
    if (drawn_.empty() || !history_.start().isValid()) {
        *message = QStringLiteral("Ping を実行すると、対象ごとの応答時間がここに表示されます。");
        return false;
    }
    labels_.clear();
    for (int t : drawn_)
        labels_.push_back(label(t));
    picture.labels = labels_;
    picture.note = legendNote();
    const QRect plot = LatencyGraphFrame::layout(widget, QFontMetrics(font()), picture).plot;
    if (plot.width() < 10 || plot.height() < 10)
        return false;
    aggregate(plot);
    return true;
}

// From the history: asks the loader for the columns of the present range
// and draws the last ones it brought.
bool LatencyGraphView::chooseStored(LatencyGraphPicture& picture, const QRect& widget, QString* message)
{
    std::vector<HistorySeries> series = storedSeries_;
    if (series.empty())
        for (int t : shownTargets())
            series.push_back({history_.address(t), history_.comment(t)});
    const QRect plot = LatencyGraphFrame::layout(widget, QFontMetrics(font()), picture).plot;
    if (plot.width() < 10 || plot.height() < 10)
        return false;
    const auto [from, to] = range();
    const HistoryGraphRequest request{series, from * 1000, to * 1000, plot.width()};
    if (!(request == requested_)) {
        requested_ = request;
        requestedAtMs_ = nowMs_();
        loader_->request(request);
    }
    if (!stored_ || stored_->request.columns != plot.width()) {
        *message = QStringLiteral("履歴を読み込んでいます…");
        return false;
    }
    if (stored_->series.empty()) {
        *message = QStringLiteral("履歴に記録された応答はまだありません。");
        return false;
    }
    // A series the run has keeps the run's colour.
    drawn_.clear();
    labels_.clear();
    for (size_t k = 0; k < stored_->series.size(); ++k) {
        const HistorySeries& s = stored_->series[k];
        int id = kStoredOnly + int(k);
        for (int t = 0; t < history_.targetCount(); ++t)
            if (history_.address(t) == s.target && history_.comment(t) == s.comment) {
                id = t;
                break;
            }
        drawn_.push_back(id);
        labels_.push_back(seriesLabel(s.target, s.comment));
    }
    picture.labels = labels_;
    picture.note = storedSeries_.empty() && !series.empty() ? legendNote() : QString();
    buckets_ = stored_->rows;
    drawnFrom_ = stored_->request.fromUs / 1000;
    drawnTo_ = stored_->request.toUs / 1000;
    return true;
}

void LatencyGraphView::draw(QPainter& p)
{
    p.fillRect(rect(), Qt::white);
    paintedRevision_ = history_.revision();
    dirty_ = false;

    LatencyGraphPicture picture;
    QString message;
    if (!choose(picture, rect(), &message)) {
        buckets_.clear();
        drawnPlot_ = QRect();
        if (!message.isEmpty()) {
            p.setPen(QColor(0x30, 0x30, 0x30));
            p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, message);
        }
        return;
    }
    assignColours();
    for (size_t k = 0; k < drawn_.size(); ++k)
        picture.colours.push_back(colour(k));
    picture.buckets = &buckets_;
    picture.origin = origin();
    picture.fromMs = drawnFrom_;
    picture.toMs = drawnTo_;
    picture.threshold = prefs_.CheckRTT;
    picture.thresholdMs = prefs_.CheckRTTValue;
    picture.fineRtt = fromHistory();
    picture.following = following_;
    const LatencyGraphFrame frame = LatencyGraphFrame::layout(rect(), QFontMetrics(font()), picture);
    drawnPlot_ = frame.plot;
    LatencyGraphPainter(p, font(), picture, frame).draw();
}

} // namespace tarvok
