#pragma once
// LatencyGraphPainter: draws one picture of the latency graph in named steps
// over one scale: the frame of legend, plot, strip and time axis; the value
// axis; the time axis; the bands from the shortest to the longest reply; the
// median lines; the slow threshold; the strip of losses and slow replies;
// the legend.

#include "monitor/LatencyHistory.h"

#include <QColor>
#include <QDateTime>
#include <QFontMetrics>
#include <QRect>
#include <QString>

#include <vector>

class QPainter;

namespace tarvok {

// What one paint shows: per drawn target its label, colour and buckets (one
// per pixel column of the plot).
struct LatencyGraphPicture {
    std::vector<QString> labels;
    std::vector<QColor> colours;
    const std::vector<std::vector<LatencyBucket>>* buckets = nullptr;
    QDateTime origin; // the time of 0 ms
    qint64 fromMs = 0; // the time range drawn, ms after origin: [from, to)
    qint64 toMs = 0;
    bool threshold = false; // CheckRTT, with CheckRTTValue in ms
    int thresholdMs = 0;
    bool fineRtt = false; // round trips in fractions of a ms: the scale may end below 1 ms
    QString note;         // a row of its own below the legend entries
    bool following = true;
};

// Where the parts of the graph go in a widget of a given size.
struct LatencyGraphFrame {
    QRect legend;
    QRect plot;
    QRect strip;
    QRect timeAxis;
    int legendRows = 0;

    static LatencyGraphFrame layout(const QRect& widget, const QFontMetrics& fm, const LatencyGraphPicture& picture);
};

// Values to pixels: round-trip times to rows of the plot, columns and times
// to its x positions.
struct LatencyGraphScale {
    QRect plot;
    int columns = 0;
    double yMax = 1; // the value at the plot's top
    double step = 1; // between the value axis' ticks
    bool thresholdInside = false;
    qint64 fromMs = 0;
    qint64 toMs = 0;

    static LatencyGraphScale fit(const QRect& plot, const LatencyGraphPicture& picture);
    double y(double ms) const;
    double x(int column) const { return plot.left() + column + 0.5; }
    double xAt(qint64 ms) const;
};

class LatencyGraphPainter {
public:
    LatencyGraphPainter(QPainter& p, const QFont& font, const LatencyGraphPicture& picture,
                        const LatencyGraphFrame& frame);
    void draw();

    const LatencyGraphScale& scale() const { return scale_; }
    // The text of a round trip in ms: whole numbers as they are, one decimal
    // from 1 ms up, up to three below.
    static QString msText(double v);
    // Height of one target's row in the strip.
    static int stripRow(size_t targets);
    static constexpr int kLegendTextWidth = 240;

private:
    void valueAxis();
    void timeAxis();
    void bands();
    void medians();
    void threshold();
    void lossStrip();
    void legend();

    QPainter& p_;
    const QFontMetrics fm_;
    const LatencyGraphPicture& picture_;
    const LatencyGraphFrame& frame_;
    const std::vector<std::vector<LatencyBucket>>& buckets_;
    LatencyGraphScale scale_;
};

} // namespace tarvok
