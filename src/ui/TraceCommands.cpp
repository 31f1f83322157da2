// The trace command of the main window: TreeView1 over the trace tree, the
// trace run bound to the window.

#include "icmp/KtIcmp.h"
#include "run/TraceRunController.h"
#include "ui/HopLineDelegate.h"
#include "ui/Images.h"
#include "ui/MainWindow.h"

#include <QTreeView>
#include <utility>

namespace tarvok {

void TTarvokMain::bindTraceRun()
{
    trace_ = std::make_unique<TraceRunController>(*KtICMP1, *run_, *this, prefs);
    trace_->setObjectName(QStringLiteral("TraceRunController"));
    TraceTreeModel& tree = trace_->treeModel();
    tree.setImageProvider(&listIconSameWhenSelected); // a node looks the same selected as not

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
    TreeView1->setItemDelegate(new HopLineDelegate(TreeView1));

    // The view follows the newest hop while the operator keeps the previous
    // one in sight; once they scroll it away (or collapse its target), new
    // hops arrive without moving the view.
    connect(&tree, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex& parent, int first) {
        followHop_ = false;
        if (!parent.isValid() || !parent.parent().isValid())
            return; // targets are added when the tree is built, not hops
        const QModelIndex previous = first > 0 ? TreeView1->model()->index(first - 1, 0, parent) : parent;
        const QRect r = TreeView1->visualRect(previous);
        followHop_ = r.isValid() && TreeView1->viewport()->rect().intersects(r);
    });
    connect(&tree, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent, int, int last) {
        if (std::exchange(followHop_, false))
            TreeView1->scrollTo(TreeView1->model()->index(last, 0, parent), QAbstractItemView::EnsureVisible);
    });

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
