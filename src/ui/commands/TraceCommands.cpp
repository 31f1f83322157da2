#include "ui/commands/TraceCommands.h"

#include "icmp/KtIcmp.h"
#include "run/TraceRunController.h"
#include "ui/widgets/HopLineDelegate.h"
#include "ui/widgets/Images.h"
#include "ui/window/RunBinding.h"
#include "ui/window/TarvokMain.h"

#include <QTreeView>
#include <utility>

namespace tarvok {

TraceCommands::TraceCommands(TTarvokMain& window) : w_(window)
{
    trace_ = std::make_unique<TraceRunController>(*w_.KtICMP1, w_.run(), w_.binding(), w_.prefs);
    trace_->setObjectName(QStringLiteral("TraceRunController"));
    TraceTreeModel& tree = trace_->treeModel();
    tree.setImageProvider(&listIconSameWhenSelected); // a node looks the same selected as not

    // Read-only, no lines or buttons at the root, 19 pixels per level.
    QTreeView* const TreeView1 = w_.TreeView1;
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

    followNewestHop();

    connect(trace_.get(), &TraceRunController::expandRequested, this, [TreeView1](const QModelIndex& index, bool all) {
        if (all)
            TreeView1->expandRecursively(index);
        else
            TreeView1->expand(index);
    });
    connect(trace_.get(), &TraceRunController::runError, &w_, &TTarvokMain::reportRunError);
}

TraceCommands::~TraceCommands() = default;

void TraceCommands::followNewestHop()
{
    QTreeView* const TreeView1 = w_.TreeView1;
    TraceTreeModel& tree = trace_->treeModel();
    // The view follows the newest hop while the operator keeps the one before
    // it in sight (the first hop of a tree: its target); once they scroll it
    // away (or collapse its target), new hops arrive without moving the view.
    connect(&tree, &QAbstractItemModel::rowsAboutToBeInserted, this, [this, TreeView1](const QModelIndex& parent) {
        followHop_ = false;
        if (!parent.isValid() || !parent.parent().isValid()) {
            newestHop_ = QPersistentModelIndex(); // a tree being built
            return;
        }
        const QRect r = TreeView1->visualRect(newestHop_.isValid() ? QModelIndex(newestHop_) : parent);
        followHop_ = r.isValid() && TreeView1->viewport()->rect().intersects(r);
    });
    connect(&tree, &QAbstractItemModel::rowsInserted, this, [this, TreeView1](const QModelIndex& parent, int, int last) {
        if (!parent.isValid() || !parent.parent().isValid())
            return;
        newestHop_ = TreeView1->model()->index(last, 0, parent);
        if (std::exchange(followHop_, false))
            TreeView1->scrollTo(newestHop_, QAbstractItemView::EnsureVisible);
    });
}

void TraceCommands::mnuTraceRouteClick()
{
    trace_->mnuTraceRouteClick();
}

} // namespace tarvok
