#include "ui/widgets/StatImageDelegate.h"

#include "monitor/Statistics.h"
#include "ui/widgets/Images.h"

#include <QPainter>

namespace tarvok {

void StatImageDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    ListTextDelegate::initStyleOption(option, index);
    if (index.column() != 0)
        return;
    const int small = index.data(ImageIndexRole).isValid() ? index.data(ImageIndexRole).toInt() : -1;
    const int state = index.data(StateImageIndexRole).isValid() ? index.data(StateImageIndexRole).toInt() : -1;
    option->icon = composed(state, small);
    option->decorationSize = QSize(34, 16);
    option->features |= QStyleOptionViewItem::HasDecoration;
}

QIcon StatImageDelegate::composed(int state, int small)
{
    const QList<QPixmap>& images = ImageList1();
    const qreal ratio = images.isEmpty() ? 1.0 : images.first().devicePixelRatio();
    QPixmap pm(QSize(34, 16) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    if (state >= 0 && state < images.size())
        p.drawPixmap(0, 0, images.at(state));
    if (small >= 0 && small < images.size())
        p.drawPixmap(18, 0, images.at(small));
    p.end();
    return QIcon(pm);
}

} // namespace tarvok
