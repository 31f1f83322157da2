// The pages of the lasting history bound to the main window: the graph of
// the targets chosen in the statistics list, and the outage ledger whose
// double-click shows an outage's target in the graph.

#include "monitor/LatencyHistory.h"
#include "ui/graph/LatencyGraphPage.h"
#include "ui/graph/OutageLedgerPage.h"
#include "ui/window/TarvokMain.h"

#include <QItemSelectionModel>
#include <QTabWidget>
#include <QTableView>

namespace tarvok {

void TTarvokMain::bindGraph()
{
    tabGraph = new LatencyGraphPage(run_->latencyHistory(), prefs);
    tabGraph->setObjectName(QStringLiteral("tabGraph"));
    Page1->addTab(tabGraph, QStringLiteral("グラフ"));

    // The graph shows the targets selected in the statistics list.
    auto follow = [this] { tabGraph->setChosenTargets(selectedTargets()); };
    connect(ListView2->selectionModel(), &QItemSelectionModel::selectionChanged, tabGraph, follow);
    connect(ListView2->model(), &QAbstractItemModel::modelReset, tabGraph, follow);
    connect(ListView2->model(), &QAbstractItemModel::layoutChanged, tabGraph, follow);
}

void TTarvokMain::bindOutages()
{
    tabOutages = new OutageLedgerPage;
    tabOutages->setObjectName(QStringLiteral("tabOutages"));
    Page1->addTab(tabOutages, QStringLiteral("障害履歴"));
    // The graph around an outage: its target chosen in the statistics list
    // when the current run has it.
    connect(tabOutages, &OutageLedgerPage::graphRequested, this, [this](const QString& target, const QString& comment) {
        QAbstractItemModel* stats = ListView2->model();
        for (int row = 0; row < stats->rowCount(); ++row) {
            const QString address = stats->index(row, 0).data().toString();
            if (address == target || stats->index(row, stats->columnCount() - 1).data().toString() == comment) {
                ListView2->selectionModel()->select(stats->index(row, 0), QItemSelectionModel::ClearAndSelect
                                                                             | QItemSelectionModel::Rows);
                break;
            }
        }
        Page1->setCurrentWidget(tabGraph);
    });
}

} // namespace tarvok
