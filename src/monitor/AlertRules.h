#pragma once
// The NG/OK alert rules: for one judged echo, what the operator is told.
//
// DecideAlertActions is a pure function of the target's state (as left by the
// previous echo), the preferences and the echo; it returns the actions to
// perform, in the order they are performed. Performing them (tray, sound,
// popup, external program) is the user interface's job (ui/alerts/AlertCenter.h).

#include "monitor/TargetState.h"
#include "store/Preferences.h"

#include <QString>
#include <QStringList>

namespace tarvok {

// One judged echo, as the reply handler reports it.
struct AlertEcho {
    QString dateTime; // "yyyy/mm/dd hh:nn:ss"
    QString target;   // as written in the target list
    QString comment;  // empty when none
    QString message;  // status text, "レスポンス遅延（…ms）" or "Ping OK （…ms）"
    bool isNG = false;
};

struct AlertActions {
    bool isNG = false;

    // NG: an NG alert is raised (NGNotified := true). OK: the sound and
    // command stage is reached (the popup comes before that test).
    bool alert = false;
    bool setNGNotified = false;

    // Switch the tray icon to the NG pair and animate it, unless the
    // NG indication is already set.
    bool changeTrayIcon = false;

    bool playSound = false; // only when a file exists at soundFile
    QString soundFile;

    bool popup = false; // show or refresh the window of this kind
    QString popupDateTime;
    QString popupHost; // target, with " (comment)" when there is one
    QString popupMessage;

    // Start the external program. Runs even when program is empty (which
    // then starts nothing).
    bool runCommand = false;
    QString program;
    QStringList arguments; // already split and filled in
    QString workDir;

    bool any() const { return setNGNotified || changeTrayIcon || playSound || popup || runCommand; }
};

AlertActions DecideAlertActions(const TargetState& state, const Preferences& prefs, const AlertEcho& echo);

// Target, followed by " (" + comment + ")" when the comment is not empty.
QString PopupHostText(const QString& target, const QString& comment);

} // namespace tarvok
