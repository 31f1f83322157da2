#include "ui/window/RunBinding.h"

#include "ui/alerts/AlertCenter.h"
#include "ui/widgets/SpinEdit.h"
#include "ui/window/RunParametersPage.h"
#include "ui/window/TarvokMain.h"

#include <QCheckBox>
#include <QRadioButton>

namespace tarvok {

QStringList RunBinding::targetLines() const { return w_.targetLines(); }
int RunBinding::pingCount() const { return w_.Parameters->edtPingCount->Value(); }
int RunBinding::pingWait() const { return w_.Parameters->edtPingWait->Value(); }
int RunBinding::timeOut() const { return w_.Parameters->edtTimeout->Value(); }
int RunBinding::blockSize() const { return w_.Parameters->edtBlockSize->Value(); }
int RunBinding::timeToLive() const { return w_.Parameters->edtTTL->Value(); }
int RunBinding::interval() const { return w_.Parameters->edtInterval->Value(); }
int RunBinding::maxHops() const { return w_.Parameters->edtMaxHops->Value(); }
bool RunBinding::orderTermToCycle() const { return w_.Parameters->chkTermToCycle->isChecked(); }
bool RunBinding::periodic() const { return w_.Parameters->chkInterval->isChecked(); }
bool RunBinding::resolveHostName() const { return w_.Parameters->chkResolveHostName->isChecked(); }
void RunBinding::setStatusText(const QString& text) { w_.setStatusText(text); }
void RunBinding::setIdleControls(bool idle) { w_.SetIdleControls(idle); }
void RunBinding::showTab(MainTab tab) { w_.showTab(tab); }
void RunBinding::setBusyCursor(bool busy) { w_.setBusyCursor(busy); }
void RunBinding::resultAppended() { w_.resultAppended(); }

void RunBinding::ApplyAlertRules(TargetState& state, const QString& dateTime, const QString& target,
                                 const QString& comment, const QString& message, bool isNG)
{
    w_.alerts().ApplyAlertRules(state, dateTime, target, comment, message, isNG);
}

void RunBinding::WriteLogLine(const QString& line)
{
    if (onLogLine)
        onLogLine(line);
}

void RunBinding::HoldLogLines(bool hold)
{
    if (onLogHold)
        onLogHold(hold);
}

void RunBinding::RunStarting() { w_.alerts().RunStarting(); }
void RunBinding::RunEnded() { w_.alerts().RunEnded(); }

} // namespace tarvok
