#include "ui/widgets/ListTextDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <utility>

namespace tarvok {

namespace {
bool plainLine(const QString& text)
{
    for (QChar c : text)
        if (c.unicode() < 0x20)
            return false;
    return true;
}
} // namespace

const QStaticText& ListTextDelegate::laidOut(const QString& text, const QFont& font) const
{
    if (font != keptFont_ || kept_.size() >= MaxKept) {
        kept_.clear();
        keptFont_ = font;
    }
    auto it = kept_.find(text);
    if (it == kept_.end()) {
        QStaticText st(text);
        st.setTextFormat(Qt::PlainText);
        st.prepare(QTransform(), font);
        it = kept_.insert(text, st);
    }
    return it.value();
}

void ListTextDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    if (opt.text.isEmpty() || !plainLine(opt.text)) {
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        return;
    }
    // Where the style would put the text (its margin included). The cell
    // asks without its text: the style would lay the text out to find a place
    // it does not depend on.
    const QString cellText = std::exchange(opt.text, QString());
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget).adjusted(margin, 0, -margin, 0);
    const QStaticText& text = laidOut(cellText, opt.font);
    const QSizeF size = text.size();
    if (size.width() > textRect.width()) {
        opt.text = cellText;
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
        return;
    }
    const bool selected = opt.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (opt.state & QStyle::State_Active) ? QPalette::Normal
                                                                            : QPalette::Inactive;
    const QColor color = opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    painter->save();
    painter->setPen(color);
    painter->setFont(opt.font);
    // As the style places a line: the top by whole pixels, the start within
    // the line's width (to the fraction for right and centred text).
    const QRect lines = QStyle::alignedRect(opt.direction, opt.displayAlignment,
                                            QSize(textRect.width(), size.toSize().height()), textRect);
    const Qt::Alignment horizontal = QStyle::visualAlignment(opt.direction, opt.displayAlignment) & Qt::AlignHorizontal_Mask;
    qreal x = lines.left();
    if (horizontal & Qt::AlignRight)
        x += lines.width() - size.width();
    else if (horizontal & Qt::AlignHCenter)
        x += (lines.width() - size.width()) / 2;
    painter->drawStaticText(QPointF(x, lines.top()), text);
    painter->restore();
}

} // namespace tarvok
