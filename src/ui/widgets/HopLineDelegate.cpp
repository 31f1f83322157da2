#include "ui/widgets/HopLineDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <algorithm>
#include <cmath>

namespace tarvok {

namespace {

// The widest decimal digit of the font: a column of n digits holds any n.
qreal digitWidth(const QFontMetricsF& fm)
{
    qreal w = 0;
    for (char c = '0'; c <= '9'; ++c)
        w = std::max(w, fm.horizontalAdvance(QLatin1Char(c)));
    return w;
}

} // namespace

HopLineLayout layoutHopLine(const QString& text, const QFontMetricsF& fm)
{
    HopLineLayout l;
    // "#" digits (3 or more) and one blank.
    qsizetype i = 1;
    if (!text.startsWith(QLatin1Char('#')))
        return l;
    while (i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 0x80)
        ++i;
    if (i < 4 || i >= text.size() || text.at(i) != QLatin1Char(' '))
        return l;
    l.isHop = true;
    l.label = text.left(i);
    const qreal digit = digitWidth(fm);
    const qreal blank = fm.horizontalAdvance(QLatin1Char(' '));
    const qsizetype labelDigits = std::max<qsizetype>(3, i - 1);
    l.labelX = 0;
    l.timeX = fm.horizontalAdvance(QLatin1Char('#')) + digit * qreal(labelDigits) + blank;

    // Blanks, digits, "ms  ": a line with a time; anything else is a status.
    qsizetype j = i + 1;
    while (j < text.size() && text.at(j) == QLatin1Char(' '))
        ++j;
    qsizetype k = j;
    while (k < text.size() && text.at(k).isDigit() && text.at(k).unicode() < 0x80)
        ++k;
    if (k > j && text.mid(k, 4) == QLatin1String("ms  ")) {
        l.time = text.mid(j, k - j);
        const qreal column = digit * qreal(std::max<qsizetype>(7, k - j));
        l.restX = l.timeX + column;
        l.timeX = l.restX - fm.horizontalAdvance(l.time);
        l.rest = text.mid(k);
    } else {
        l.restX = l.timeX;
        l.rest = text.mid(i + 1);
    }
    l.width = l.restX + fm.horizontalAdvance(l.rest);
    return l;
}

void HopLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    const HopLineLayout l = layoutHopLine(opt.text, QFontMetricsF(opt.font));
    if (!l.isHop) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        return;
    }
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(margin, 0, -margin, 0);
    const bool selected = opt.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (opt.state & QStyle::State_Active) ? QPalette::Normal
                                                                            : QPalette::Inactive;
    painter->save();
    painter->setPen(opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(opt.font);
    painter->setClipRect(textRect);
    const qreal x = textRect.left();
    const auto draw = [&](qreal at, const QString& s) {
        painter->drawText(QRectF(x + at, textRect.top(), textRect.right() + 1 - (x + at), textRect.height()),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, s);
    };
    draw(l.labelX, l.label);
    if (!l.time.isEmpty())
        draw(l.timeX, l.time);
    draw(l.restX, l.rest);
    painter->restore();
}

QSize HopLineDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QFontMetricsF fm(opt.font);
    const HopLineLayout l = layoutHopLine(opt.text, fm);
    if (l.isHop)
        size.rwidth() += std::max(0, int(std::ceil(l.width - fm.horizontalAdvance(opt.text))));
    return size;
}

} // namespace tarvok
