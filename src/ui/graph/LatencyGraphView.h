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
//
// From the history file: with a loader, a span may be read from the lasting
// history instead of the run (setSpan(span, true)), so that it shows the days
// before the program started, with the file's microseconds. Times are then
// ms since the epoch and "now" is the newest time; the columns are read on
// the loader's thread and drawn when they arrive (the previous picture stays
// until then). The targets are the run's shown targets, or a series asked
// for (showStored), or without a run the targets last recorded. When the
// file cannot be read, or HistoryEnabled is off, the span is drawn from the
// run as before.

#include "history/HistoryGraph.h"
#include "monitor/LatencyHistory.h"

#include <QImage>
#include <QWidget>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace tarvok {

struct LatencyGraphPicture;
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
    // echo again. `fromHistory`: read from the history file when it can be.
    void setSpan(qint64 spanMs, bool fromHistory = false);
    // The history file's reader (not owned; null: none).
    void setHistoryLoader(HistoryGraphLoader* loader);
    // Shows [fromMs, toMs) (ms since the epoch; toMs -1: up to now,
    // following) of one series from the history file. False without a
    // readable history.
    bool showStored(const HistorySeries& series, qint64 fromMs, qint64 toMs);
    // True while the picture comes from the history file.
    bool fromHistory() const;
    // The time source of the history's "now" (ms since the epoch).
    void setNowMs(std::function<qint64()> nowMs);
    qint64 span() const { return span_; }
    bool following() const { return following_; }
    void followNewest();
    // The time range drawn, ms since the run began (from the history: since
    // the epoch): [first, second).
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
    // Columns read from the history file were drawn.
    void storedLoaded();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void draw(QPainter& p);
    bool choose(LatencyGraphPicture& picture, const QRect& widget, QString* message);
    bool chooseStored(LatencyGraphPicture& picture, const QRect& widget, QString* message);
    void aggregate(const QRect& plot);
    void onLoaded(std::shared_ptr<const HistoryGraphResult> result);
    qint64 newestMs() const;
    QDateTime origin() const;
    QString label(int target) const;
    void fixRange(qint64 from, qint64 to);
    QString legendNote() const;
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

    // The history file.
    HistoryGraphLoader* loader_ = nullptr;
    bool wantStored_ = false;  // the span asks for the history
    bool storedFailed_ = false; // the file could not be read: the run is drawn
    QDateTime failedStamp_;     // the file's time when it could not be read
    std::vector<HistorySeries> storedSeries_; // asked for; empty: the run's or the last recorded
    std::function<qint64()> nowMs_;
    HistoryGraphRequest requested_;
    qint64 requestedAtMs_ = 0;
    std::shared_ptr<const HistoryGraphResult> stored_;
    std::vector<QString> storedLabels_;

    // What the last paint drew, for the hover text.
    std::vector<int> drawn_;
    std::vector<QString> labels_;
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
