// The 統計 menu's selection actions over the statistics list ListView2, the
// list's context menu, and the rows selected in it. The runs over the
// selected rows are SelectionCommands'.

#include "monitor/StatModel.h"
#include "ui/commands/SelectionCommands.h"
#include "ui/window/TarvokMain.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QMenu>
#include <QTabWidget>
#include <QTableView>
#include <algorithm>

namespace tarvok {

std::vector<int> TTarvokMain::selectedTargets() const
{
    std::vector<int> targets;
    if (!ListView2->selectionModel())
        return targets;
    const StatModel& stats = run_->statModel();
    for (const QModelIndex& i : ListView2->selectionModel()->selectedRows()) {
        const int t = stats.targetOfRow(i.row());
        if (t >= 0)
            targets.push_back(t);
    }
    std::sort(targets.begin(), targets.end());
    return targets;
}

void TTarvokMain::mnuToukeiClick()
{
    const int selected = ListView2->selectionModel() ? int(ListView2->selectionModel()->selectedRows().size()) : 0;
    const ToukeiMenuState s = ToukeiMenuEnabling(run_->Busy(), run_->statModel().rowCount(), selected);
    for (QAction* a : {acTOUKEI_SelectOKAddress, acTOUKEI_SelectNGAddress, acTOUKEI_SelectAllOKAddress,
                       acTOUKEI_SelectAllNGAddress, acTOUKEI_ReverseSelect})
        a->setEnabled(s.selectionActions);
    acTOUKEI_PingExecute->setEnabled(s.runActions);
    acTOUKEI_TracerouteExecute->setEnabled(s.runActions);
}

void TTarvokMain::showListContextMenu(const QPoint& pos)
{
    mnuToukeiClick();
    PopupMenu3->popup(ListView2->viewport()->mapToGlobal(pos));
}

void TTarvokMain::applySelection(RunController::SelectAction action)
{
    Page1->setCurrentWidget(TabSheet4);
    StatModel& stats = run_->statModel();
    std::vector<int> rows;
    for (int t : run_->SelectionFor(action, selectedTargets())) {
        const int r = stats.rowOfTarget(t);
        if (r >= 0)
            rows.push_back(r);
    }
    std::sort(rows.begin(), rows.end());
    QItemSelection selection;
    const int lastColumn = stats.columnCount() - 1;
    for (size_t i = 0; i < rows.size();) {
        size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        selection.select(stats.index(rows[i], 0), stats.index(rows[j], lastColumn));
        i = j + 1;
    }
    ListView2->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TTarvokMain::acTOUKEI_SelectOKAddressExecute() { applySelection(RunController::SelectAction::OKAddress); }
void TTarvokMain::acTOUKEI_SelectNGAddressExecute() { applySelection(RunController::SelectAction::NGAddress); }
void TTarvokMain::acTOUKEI_SelectAllOKAddressExecute() { applySelection(RunController::SelectAction::AllOKAddress); }
void TTarvokMain::acTOUKEI_SelectAllNGAddressExecute() { applySelection(RunController::SelectAction::AllNGAddress); }
void TTarvokMain::acTOUKEI_ReverseSelectExecute() { applySelection(RunController::SelectAction::Reverse); }

// Runs over the selected rows.
void TTarvokMain::acTOUKEI_PingExecuteExecute() { selection_->acTOUKEI_PingExecuteExecute(); }
void TTarvokMain::acTOUKEI_TracerouteExecuteExecute() { selection_->acTOUKEI_TracerouteExecuteExecute(); }

} // namespace tarvok
