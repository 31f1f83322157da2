// The main window's alerts, tray icon, options dialog and status-bar clock.

#include "ui/window/TarvokMain.h"

#include "run/ClockTicker.h"
#include "ui/alerts/AlertCenter.h"
#include "ui/widgets/Images.h"
#include "ui/dialogs/frmOption.h"

#include <QAction>
#include <QEvent>
#include <QLabel>
#include <QSystemTrayIcon>
#include <QTimer>

namespace tarvok {

void TTarvokMain::createAlertsAndClock()
{
    alerts_ = new AlertCenter(prefs, this, PopupMenu1, this);
    alerts_->setObjectName(QStringLiteral("AlertCenter"));

    // The clock ticks from the moment the window exists until the close
    // sequence stops it.
    ClockTimer = new ClockTicker(clock_, LookupLocalIPv4Address, this);
    ClockTimer->setObjectName(QStringLiteral("ClockTimer"));
    connect(ClockTimer, &ClockTicker::clockText, Bar1Panels[2], &QLabel::setText);
    connect(ClockTimer, &ClockTicker::localAddress, Bar1Panels[1], &QLabel::setText);
    ClockTimer->start();
}

void TTarvokMain::Tray1DblClick()
{
    alerts_->tray().Tray1DblClick();
}

void TTarvokMain::mnuOptionClick()
{
    QAction* const items[] = {pmnShowMain, mnuOption, pmnOption, btnOption, mnuPing, pmnPing, btnPing};
    for (QAction* a : items)
        a->setEnabled(false);
    const bool accepted = TfrmOption::Execute(this, prefs, clock_);
    for (QAction* a : items)
        a->setEnabled(true);
    if (accepted)
        emit preferencesChanged();
}

void TTarvokMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Minimised with HideOnTaskBar: only the tray icon remains. Without a
    // notification area the window would be lost, so it stays on the task bar.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && prefs.HideOnTaskBar &&
        QSystemTrayIcon::isSystemTrayAvailable())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                hide();
        });
}

} // namespace tarvok
