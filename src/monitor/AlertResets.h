#pragma once
// The resets run between the passes of a periodic ping run, so that alerts
// can be raised again in the next pass.

#include "monitor/TargetState.h"

#include <vector>

namespace tarvok {

// Forgets the remembered OK judgements (LastResult OK -> None), so that the
// next OK echo raises the OK sound and command again. Does nothing unless
// okCheckBefore (the preference OKCheckBefore) is on.
void ResetOKFlags(std::vector<TargetState>& states, bool okCheckBefore);

// Forgets the NG judgements, notices and counts: LastResult NG -> None,
// NGNotified false, NGCount 0, for every target.
void ResetNGFlags(std::vector<TargetState>& states);

} // namespace tarvok
