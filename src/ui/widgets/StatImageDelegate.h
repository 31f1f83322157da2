#pragma once
// Column 0 of the statistics list: the state image (red ball or nothing)
// left of the row's small image, the way report lists with state images
// show them; space for the state image is kept on every row.

#include "ui/widgets/ListTextDelegate.h"

namespace tarvok {

class StatImageDelegate : public ListTextDelegate {
public:
    using ListTextDelegate::ListTextDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    static QIcon composed(int state, int small);
};

} // namespace tarvok
