#include "ui/alerts/TrayIcon.h"

#include "ui/widgets/Images.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace tarvok {

TrayIcon::TrayIcon(const Preferences& prefs, QWidget* mainWindow, QMenu* menu, QObject* parent, IconSource icons)
    : QObject(parent), prefs_(prefs), mainWindow_(mainWindow), icons_(icons ? std::move(icons) : IconSource(listIcon))
{
    tray_ = new QSystemTrayIcon(this);
    tray_->setObjectName(QStringLiteral("Tray1"));
    tray_->setToolTip(QStringLiteral("Tarvok"));
    if (menu)
        tray_->setContextMenu(menu);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            Tray1DblClick();
    });

    frameTimer_.setInterval(TrayState::FrameIntervalMs);
    connect(&frameTimer_, &QTimer::timeout, this, &TrayIcon::nextFrame);

    render();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        tray_->show();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::runStarting()
{
    state_.runStarting(prefs_.BlinkTrayIcon);
    render();
}

void TrayIcon::runEnded()
{
    state_.runEnded();
    render();
}

void TrayIcon::ngAlert()
{
    if (state_.ngAlert())
        render();
}

void TrayIcon::ngPopupAcknowledged()
{
    state_.popupAcknowledged();
    render();
}

void TrayIcon::Tray1DblClick()
{
    if (QWidget* w = mainWindow_) {
        w->show();
        if (w->windowState() & Qt::WindowMinimized)
            w->setWindowState((w->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        w->raise();
        w->activateWindow();
    }
    state_.doubleClicked(prefs_.BlinkTrayIcon);
    render();
}

void TrayIcon::nextFrame()
{
    phase_ = state_.animated() ? 1 - phase_ : 0;
    render();
}

void TrayIcon::render()
{
    if (state_.animated()) {
        if (!frameTimer_.isActive()) {
            phase_ = 0;
            frameTimer_.start();
        }
    } else {
        frameTimer_.stop();
        phase_ = 0;
    }
    const int image = currentImage();
    if (image != shownImage_) {
        shownImage_ = image;
        tray_->setIcon(icons_(image));
    }
}

} // namespace tarvok
