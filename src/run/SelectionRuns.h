#pragma once
// Runs over a subset of the targets: the subset chosen in the target
// selection dialog, or the rows selected in the statistics list. Either
// replaces the TargetList; the ordinary ping or trace run then works on it.

#include <QtGlobal>
#include <vector>

class QAbstractItemModel;

namespace tarvok {

class TargetList;

// The dialog's answer: keeps the entries whose row is chosen (rows and
// entries correspond by position), in their order. Entries without a row
// count as not chosen.
void KeepChosenTargets(TargetList& list, const std::vector<bool>& chosen);

// The statistics list's selected rows as the new TargetList, in the order in
// which the rows stand now (after the operator's sorting): the address from
// the first column, the comment from the last. With no rows or no selected
// row the list stays as it is and the result is false.
bool TargetsFromStatistics(const QAbstractItemModel& stats, const std::vector<int>& selectedRows, TargetList& list);

} // namespace tarvok
