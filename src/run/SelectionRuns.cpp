#include "run/SelectionRuns.h"

#include "targets/TargetList.h"

#include <QAbstractItemModel>

namespace tarvok {

void KeepChosenTargets(TargetList& list, const std::vector<bool>& chosen)
{
    for (int i = list.count() - 1; i >= 0; --i)
        if (i >= static_cast<int>(chosen.size()) || !chosen[static_cast<size_t>(i)])
            list.removeAt(i);
}

bool TargetsFromStatistics(const QAbstractItemModel& stats, const std::vector<int>& selectedRows, TargetList& list)
{
    const int rows = stats.rowCount();
    std::vector<bool> selected(static_cast<size_t>(rows), false);
    bool any = false;
    for (int r : selectedRows)
        if (r >= 0 && r < rows)
            selected[static_cast<size_t>(r)] = any = true;
    if (!any)
        return false;
    const int last = stats.columnCount() - 1;
    list.clear();
    for (int r = 0; r < rows; ++r)
        if (selected[static_cast<size_t>(r)])
            list.append(stats.index(r, 0).data().toString(), stats.index(r, last).data().toString());
    return true;
}

} // namespace tarvok
