#pragma once
// The latency graph: round-trip time over time for a few targets of the
// current run. Per pixel column and target it draws the median as a line over
// a shaded band from the shortest to the longest reply, and marks losses (and
// slow replies when CheckRTT is on) on a strip below, one colour per target
// with a legend of address and comment.
//
// The history is aggregated per pixel column on every paint, so a repaint
// costs the width times the targets shown plus the echoes inside the shown
// time range of those targets; nothing is kept per echo here.
//
// Time window: a span (0 = the whole run) that follows the newest echo until
// the operator pans (drag) or zooms (wheel) away from it; a double click, or
// panning back to the newest echo, follows again.

#include "monitor/LatencyHistory.h"

#include <QImage>
#include <QWidget>
#include <unordered_map>
#include <vector>

class QFontMetrics;

namespace tarvok {

struct Preferences;

class LatencyGraphView : public QWidget {
    Q_OBJECT
public:
    // Targets drawn at once; more would be colours nobody can tell apart.
    static constexpr int kMaxTargets = 16;
    static constexpr qint64 kMinSpanMs = 10'000;

    LatencyGraphView(const LatencyHistory& history, const Preferences& prefs, QWidget* parent = nullptr);

    // The targets chosen in the statistics list (target indices); empty: the
    // first targets of the run. At most kMaxTargets are drawn.
    void setChosenTargets(std::vector<int> targets);
    std::vector<int> shownTargets() const;

    // Span of the time window in ms, 0 for the whole run; follows the newest
    // echo again.
    void setSpan(qint64 spanMs);
    qint64 span() const { return span_; }
    bool following() const { return following_; }
    void followNewest();
    // The time range drawn, ms since the run began: [first, second).
    std::pair<qint64, qint64> range() const;

    // Operator gestures, also for tests: zoom by `factor` (< 1 narrows) about
    // the pixel column at x; pan by dx pixels (positive: to older echoes).
    void zoomAt(double factor, int x);
    void panBy(int dx);

    // Repaints if the history or the settings changed since the last paint.
    void refresh();
    // The graph as drawn at the current size.
    QImage image();
    // The plot area of the last paint (invalid before one).
    QRect plotRect() const { return drawnPlot_; }
    // The colour the last paint gave a target (invalid when not drawn).
    QColor targetColour(int target) const;
    // The hover text for the pixel column at x (empty outside the plot or
    // without a run).
    QString toolTipAt(int x);

    QSize sizeHint() const override { return {520, 320}; }
    QSize minimumSizeHint() const override { return {200, 140}; }

signals:
    // The operator changed the time window by zooming or panning.
    void viewChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Frame {
        QRect legend;
        QRect plot;
        QRect strip;
        QRect timeAxis;
        int legendRows = 0;
    };
    Frame frame(const QFontMetrics& fm) const;
    void draw(QPainter& p);
    void aggregate(const QRect& plot);
    void fixRange(qint64 from, qint64 to);
    QString legendNote() const;
    // A target's legend entry: its address whole (an IPv6 one too), then
    // its comment, cut so that the entry stays within the legend's width.
    QString legendText(const QFontMetrics& fm, int target) const;
    void assignColours();
    QColor colour(size_t k) const; // of drawn_[k]

    const LatencyHistory& history_;
    const Preferences& prefs_;
    std::vector<int> chosen_;
    qint64 span_ = 30 * 60'000;
    bool following_ = true;
    qint64 fixedTo_ = 0; // right edge while not following
    quint64 paintedRevision_ = ~quint64(0);
    bool dirty_ = true;
    int dragX_ = -1;

    // What the last paint drew, for the hover text.
    std::vector<int> drawn_;
    std::vector<std::vector<LatencyBucket>> buckets_;
    qint64 drawnFrom_ = 0;
    qint64 drawnTo_ = 0;
    QRect drawnPlot_;
    std::vector<int> drawnColours_; // palette entry of each drawn target
    std::unordered_map<int, int> colourOfTarget_; // kept for the run
    QDateTime colourRun_;
    int colourTargets_ = -1;
};

} // namespace tarvok
