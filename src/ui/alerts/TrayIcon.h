#pragma once
// The notification-area icon Tray1: tooltip "Tarvok", the main window's tray
// menu, the still icon or the two-frame animation (500 ms per frame) that the
// TrayState prescribes. On a desktop without a notification area the icon is
// simply never shown; everything else works the same.

#include "monitor/TrayState.h"
#include "store/Preferences.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace tarvok {

class TrayIcon : public QObject {
    Q_OBJECT
public:
    // Icon of an ImageList1 index.
    using IconSource = std::function<QIcon(int)>;

    // prefs: read when BlinkTrayIcon is needed (it may change at any time).
    // mainWindow: shown and raised by the double-click (may be null).
    // menu: the tray menu PopupMenu1 (may be null; not owned).
    TrayIcon(const Preferences& prefs, QWidget* mainWindow, QMenu* menu, QObject* parent = nullptr,
             IconSource icons = {});
    ~TrayIcon() override;

    QSystemTrayIcon* Tray1() const { return tray_; }
    const TrayState& state() const { return state_; }
    bool ngIndicated() const { return state_.ngIndicated(); }
    // The ImageList1 index shown at this moment.
    int currentImage() const { return state_.imageIndex(phase_); }

    // Ping run start: normal frames, NG indication cleared, blinking as
    // BlinkTrayIcon says. Run end: the still icon.
    void runStarting();
    void runEnded();
    // An NG alert with NGChangeIcon on: the NG pair, animated.
    void ngAlert();
    // The NG window's OK button.
    void ngPopupAcknowledged();

    // Advances the animation by one frame (the 500 ms timer's work).
    void nextFrame();

public slots:
    // Double-click on the icon and the menu item "メイン画面(&M)...": shows,
    // restores and raises the main window, then acknowledges an NG indication.
    void Tray1DblClick();

private:
    void render();

    const Preferences& prefs_;
    QPointer<QWidget> mainWindow_;
    IconSource icons_;
    QSystemTrayIcon* tray_ = nullptr;
    QTimer frameTimer_;
    TrayState state_;
    int phase_ = 0;
    int shownImage_ = -1;
};

} // namespace tarvok
