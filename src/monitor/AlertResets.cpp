#include "monitor/AlertResets.h"

namespace tarvok {

void ResetOKFlags(std::vector<TargetState>& states, bool okCheckBefore)
{
    if (!okCheckBefore)
        return;
    for (TargetState& s : states) {
        if (s.LastResult == LastResult::OK)
            s.LastResult = LastResult::None;
    }
}

void ResetNGFlags(std::vector<TargetState>& states)
{
    for (TargetState& s : states) {
        if (s.LastResult == LastResult::NG)
            s.LastResult = LastResult::None;
        s.NGNotified = false;
        s.NGCount = 0;
    }
}

} // namespace tarvok
