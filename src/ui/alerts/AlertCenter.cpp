#include "ui/alerts/AlertCenter.h"

#include "monitor/SoundPlayer.h"

namespace tarvok {

AlertCenter::AlertCenter(const Preferences& prefs, QWidget* mainWindow, QMenu* trayMenu, QObject* parent,
                         SoundPlayer* sound, ShellLauncher launcher, TrayIcon::IconSource icons)
    : QObject(parent),
      prefs_(prefs),
      sound_(sound),
      launcher_(std::move(launcher)),
      tray_(new TrayIcon(prefs, mainWindow, trayMenu, this, std::move(icons))),
      windows_(new AlertWindows(mainWindow, this))
{
    connect(windows_, &AlertWindows::ngAcknowledged, tray_, &TrayIcon::ngPopupAcknowledged);
}

AlertCenter::~AlertCenter() = default;

void AlertCenter::ApplyAlertRules(TargetState& state, const QString& dateTime, const QString& target,
                                  const QString& comment, const QString& message, bool isNG)
{
    perform(DecideAlertActions(state, prefs_, {dateTime, target, comment, message, isNG}), state);
}

void AlertCenter::perform(const AlertActions& a, TargetState& state)
{
    if (a.setNGNotified)
        state.NGNotified = true;
    if (a.changeTrayIcon)
        tray_->ngAlert();
    if (a.playSound) {
        // The player plays nothing (and says nothing) when no file exists there.
        SoundPlayer& player = sound_ ? *sound_ : SoundPlayer::instance();
        player.play(a.soundFile);
    }
    if (a.popup) {
        if (a.isNG)
            windows_->showNG(a.popupDateTime, a.popupHost, a.popupMessage);
        else
            windows_->showOK(a.popupDateTime, a.popupHost, a.popupMessage);
    }
    if (a.runCommand)
        TKtShellEx::start(a.program, a.arguments, a.workDir, launcher_);
}

} // namespace tarvok
