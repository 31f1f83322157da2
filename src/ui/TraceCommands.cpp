// The trace command of the main window: TreeView1 over the trace tree, the
// trace run bound to the window.

#include "icmp/KtIcmp.h"
#include "run/TraceRunController.h"
#include "ui/Images.h"
#include "ui/MainWindow.h"

#include <QTreeView>

namespace tarvok {

namespace {

// The icons of the tree: a node looks the same selected as not.
QIcon treeIcon(int index)
{
    static QList<QIcon> icons;
    if (icons.isEmpty()) {
        for (const QPixmap& pm : ImageList1()) {
            QIcon icon;
            icon.addPixmap(pm, QIcon::Normal);
            icon.addPixmap(pm, QIcon::Selected);
            icons << icon;
        }
    }
    return index >= 0 && index < icons.size() ? icons.at(index) : QIcon();
}

} // namespace

void TTarvokMain::bindTraceRun()
{
    trace_ = std::make_unique<TraceRunController>(*KtICMP1, *run_, *this, prefs, this);
    trace_->setObjectName(QStringLiteral("TraceRunController"));
    TraceTreeModel& tree = trace_->treeModel();
    tree.setImageProvider(&treeIcon);

    // Read-only, no lines or buttons at the root, 19 pixels per level.
    TreeView1->setModel(&tree);
    TreeView1->setHeaderHidden(true);
    TreeView1->setRootIsDecorated(false);
    TreeView1->setIndentation(19);
    TreeView1->setIconSize(QSize(16, 16));
    TreeView1->setUniformRowHeights(true);
    TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    TreeView1->setItemsExpandable(true);

    connect(trace_.get(), &TraceRunController::expandRequested, this, [this](const QModelIndex& index, bool all) {
        if (all)
            TreeView1->expandRecursively(index);
        else
            TreeView1->expand(index);
    });
    connect(trace_.get(), &TraceRunController::runError, this, &TTarvokMain::reportRunError);
}

void TTarvokMain::mnuTraceRouteClick()
{
    trace_->mnuTraceRouteClick();
}

} // namespace tarvok
