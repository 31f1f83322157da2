#pragma once
// Hop lines of the trace tree ("#003     12ms  name [address]") drawn in
// columns: the hop label, the round-trip time right-aligned, then the rest.
// The text itself pads with blanks, which lines up only in a fixed-pitch
// font; here each field is placed by the font's own widths, so the columns
// line up in any font. The model's text stays as it is (reports save it).

#include <QFontMetricsF>
#include <QString>
#include <QStyledItemDelegate>

namespace tarvok {

// One hop line split into its fields, with where each starts (pixels from
// the start of the text) in a given font.
struct HopLineLayout {
    bool isHop = false;   // false: not a hop line, drawn as plain text
    QString label;        // "#003"
    QString time;         // "12" (empty for an error line)
    QString rest;         // "ms  name [address]" or the status text
    qreal labelX = 0;
    qreal timeX = 0;      // left edge of the time, which ends at restX
    qreal restX = 0;
    qreal width = 0;      // the whole line
};

HopLineLayout layoutHopLine(const QString& text, const QFontMetricsF& metrics);

class HopLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace tarvok
