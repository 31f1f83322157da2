#pragma once
// The alerts of a ping run, end to end: decides with the alert rules and
// performs the actions (NG memory, tray icon, sound, popup window, external
// program). The main window owns one AlertCenter and forwards the run's
// hooks to it:
//
//   ApplyAlertRules(state, ...)  -> alerts.ApplyAlertRules(state, ...)
//   RunStarting() / RunEnded()   -> alerts.RunStarting() / RunEnded()
//   pmnShowMain                  -> alerts.tray().Tray1DblClick()

#include "monitor/AlertRules.h"
#include "monitor/ShellEx.h"
#include "monitor/TargetState.h"
#include "store/Preferences.h"
#include "ui/alerts/AlertWindows.h"
#include "ui/alerts/TrayIcon.h"

#include <QObject>

class QMenu;
class QWidget;

namespace tarvok {

class SoundPlayer;

class AlertCenter : public QObject {
    Q_OBJECT
public:
    // prefs: the live preferences (read at every alert). mainWindow: owner of
    // the popups and the window the tray brings back. trayMenu: PopupMenu1.
    // sound: null for the shared player. icons: ImageList1 icons by index
    // (empty for the program's own list).
    AlertCenter(const Preferences& prefs, QWidget* mainWindow, QMenu* trayMenu, QObject* parent = nullptr,
                SoundPlayer* sound = nullptr, ShellLauncher launcher = ShellLauncher::system(),
                TrayIcon::IconSource icons = {});
    ~AlertCenter() override;

    // One judged echo: called before LastResult, NGCount and Failures are
    // updated for it. Sets state.NGNotified when an NG alert is raised.
    void ApplyAlertRules(TargetState& state, const QString& dateTime, const QString& target,
                         const QString& comment, const QString& message, bool isNG);
    // Performs decided actions (ApplyAlertRules does both steps).
    void perform(const AlertActions& actions, TargetState& state);

    void RunStarting() { tray_->runStarting(); }
    void RunEnded() { tray_->runEnded(); }

    TrayIcon& tray() { return *tray_; }
    AlertWindows& windows() { return *windows_; }

private:
    const Preferences& prefs_;
    SoundPlayer* sound_;
    ShellLauncher launcher_;
    TrayIcon* tray_;
    AlertWindows* windows_;
};

} // namespace tarvok
