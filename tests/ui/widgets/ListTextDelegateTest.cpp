#include "ui/widgets/ListTextDelegate.h"

#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QStandardItemModel>
#include <QTableView>
#include <gtest/gtest.h>

using namespace tarvok;

namespace {
// One cell painted by `delegate` into an image of the cell's size.
QImage paintCell(QAbstractItemDelegate& delegate, QTableView& view, const QModelIndex& index, bool selected)
{
    QStyleOptionViewItem option;
    option.initFrom(&view);
    option.widget = &view;
    option.rect = QRect(0, 0, 120, 20);
    option.showDecorationSelected = true;
    if (selected)
        option.state |= QStyle::State_Selected;
    QImage image(option.rect.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    delegate.paint(&p, option, index);
    return image;
}
} // namespace

TEST(ListTextDelegate, CellsLookAsTheStyleDrawsThem)
{
    QStandardItemModel model(1, 5);
    model.setData(model.index(0, 0), QStringLiteral("127.1.0.24"));
    model.setData(model.index(0, 1), QStringLiteral("ＯＫ ループバック"));
    QPixmap icon(16, 16);
    icon.fill(Qt::blue);
    model.setData(model.index(0, 1), QIcon(icon), Qt::DecorationRole);
    model.setData(model.index(0, 2), QStringLiteral("an address text far too long for its column"));
    model.setData(model.index(0, 3), QStringLiteral("right"));
    model.setData(model.index(0, 3), int(Qt::AlignRight | Qt::AlignVCenter), Qt::TextAlignmentRole);
    model.setData(model.index(0, 4), QStringLiteral("centred 12ms"));
    model.setData(model.index(0, 4), int(Qt::AlignHCenter | Qt::AlignVCenter), Qt::TextAlignmentRole);
    QTableView view;
    view.setModel(&model);
    QStyledItemDelegate styled;
    ListTextDelegate kept;
    for (int column = 0; column < 5; ++column) {
        for (bool selected : {false, true}) {
            const QModelIndex index = model.index(0, column);
            // Twice: the second time from the kept layout.
            for (int pass = 0; pass < 2; ++pass)
                EXPECT_EQ(paintCell(kept, view, index, selected), paintCell(styled, view, index, selected))
                    << "column " << column << (selected ? " selected" : "") << " pass " << pass;
        }
    }
}
