#pragma once
// Cells of the result and statistics lists. The style draws each cell's
// background, selection, icon and focus as always; the text is drawn from a
// layout kept per distinct text, so that what a run repeats in every row (its
// time stamp, status and result texts) is not shaped again at every frame
// while the list scrolls. Text that does not fit its cell, or that holds
// control characters, is left to the style, which elides it.

#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>

namespace tarvok {

class ListTextDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const QStaticText& laidOut(const QString& text, const QFont& font) const;

    static constexpr qsizetype MaxKept = 4096; // distinct texts; then they are laid out afresh
    mutable QHash<QString, QStaticText> kept_;
    mutable QFont keptFont_;
};

} // namespace tarvok
