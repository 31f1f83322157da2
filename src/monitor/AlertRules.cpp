#include "monitor/AlertRules.h"

#include "monitor/ShellEx.h"

namespace tarvok {

QString PopupHostText(const QString& target, const QString& comment)
{
    if (comment.isEmpty())
        return target;
    return target + QStringLiteral(" (") + comment + QStringLiteral(")");
}

namespace {

bool ngAlertRaised(const TargetState& state, const Preferences& prefs)
{
    if (prefs.NGCheckAddress && state.NGNotified)
        return false;
    const bool previousNG = state.LastResult == LastResult::NG;
    if (prefs.UseNGPassCount) {
        // n counts the NG judgements including this one (consecutive ones when
        // the OK replies set the count back).
        const qint64 n = qint64(state.NGCount) + 1;
        if (n < prefs.NGPassCount)
            return false;
        if (n == prefs.NGPassCount)
            return true; // reaching the count alerts whatever came before
        return !(prefs.NGCheckBefore && previousNG);
    }
    return !(prefs.NGCheckBefore && previousNG);
}

void fillPopup(AlertActions& a, const AlertEcho& echo)
{
    a.popup = true;
    a.popupDateTime = echo.dateTime;
    a.popupHost = PopupHostText(echo.target, echo.comment);
    a.popupMessage = echo.message;
}

void fillCommand(AlertActions& a, const AlertEcho& echo, const QString& program, const QString& option,
                 const QString& workDir)
{
    a.runCommand = true;
    a.program = program;
    a.arguments = BuildCommandArguments(option, {echo.target, echo.dateTime, echo.message, echo.comment});
    a.workDir = workDir;
}

} // namespace

AlertActions DecideAlertActions(const TargetState& state, const Preferences& prefs, const AlertEcho& echo)
{
    AlertActions a;
    a.isNG = echo.isNG;

    if (echo.isNG) {
        if (!ngAlertRaised(state, prefs))
            return a;
        a.alert = true;
        a.setNGNotified = true;
        a.changeTrayIcon = prefs.NGChangeIcon;
        if (prefs.NGSound && !prefs.NGSoundFile.isEmpty()) {
            a.playSound = true;
            a.soundFile = prefs.NGSoundFile;
        }
        if (prefs.NGPopup)
            fillPopup(a, echo);
        if (prefs.NGCommandExec)
            fillCommand(a, echo, prefs.NGCommand, prefs.NGCommandOption, prefs.NGCommandWorkDir);
        return a;
    }

    // OK: the popup shows every OK echo, before the repeated-OK test.
    if (prefs.OKPopup)
        fillPopup(a, echo);
    if (prefs.OKCheckBefore && state.LastResult == LastResult::OK)
        return a;
    a.alert = true;
    if (prefs.OKSound && !prefs.OKSoundFile.isEmpty()) {
        a.playSound = true;
        a.soundFile = prefs.OKSoundFile;
    }
    if (prefs.OKCommandExec)
        fillCommand(a, echo, prefs.OKCommand, prefs.OKCommandOption, prefs.OKCommandWorkDir);
    return a;
}

} // namespace tarvok
