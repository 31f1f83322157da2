#include "ui/alerts/TrayIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

using namespace tarvok;

namespace {
QIcon numbered(int i)
{
    QPixmap pm(16, 16);
    pm.fill(QColor(i * 20, 0, 0));
    QIcon icon(pm);
    return icon;
}
} // namespace

TEST(TrayIcon, ShowsWhatTheStateSaysAndAnimates)
{
    Preferences prefs;
    QWidget main;
    QMenu menu;
    menu.setObjectName("PopupMenu1");
    QList<int> requested;
    TrayIcon tray(prefs, &main, &menu, nullptr, [&](int i) {
        requested << i;
        return numbered(i);
    });
    ASSERT_NE(tray.Tray1(), nullptr);
    EXPECT_EQ(tray.Tray1()->objectName(), "Tray1");
    EXPECT_EQ(tray.Tray1()->toolTip(), "Tarvok");
    EXPECT_EQ(tray.Tray1()->contextMenu(), &menu);
    EXPECT_EQ(requested, QList<int>({3}));

    prefs.BlinkTrayIcon = true;
    tray.runStarting();
    EXPECT_EQ(tray.currentImage(), 3);
    tray.nextFrame();
    EXPECT_EQ(tray.currentImage(), 4);
    tray.nextFrame();
    EXPECT_EQ(tray.currentImage(), 3);
    tray.ngAlert();
    tray.nextFrame();
    EXPECT_EQ(tray.currentImage(), 6);
    EXPECT_EQ(requested.last(), 6);
    tray.runEnded();
    EXPECT_EQ(tray.currentImage(), 3);
    tray.nextFrame(); // a late tick changes nothing
    EXPECT_EQ(tray.currentImage(), 3);
}

TEST(TrayIcon, DoubleClickBringsTheWindowBackAndAcknowledges)
{
    Preferences prefs;
    prefs.BlinkTrayIcon = false;
    QWidget main;
    TrayIcon tray(prefs, &main, nullptr);
    tray.runStarting();
    tray.ngAlert();
    main.showMinimized();
    main.hide();

    tray.Tray1DblClick();
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(main.windowState() & Qt::WindowMinimized);
    EXPECT_FALSE(tray.ngIndicated());
    EXPECT_FALSE(tray.state().animated());
    EXPECT_EQ(tray.currentImage(), TrayState::StillImage);

    // The tray's own activation signal reaches the same handler.
    tray.ngAlert();
    emit tray.Tray1()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(tray.ngIndicated());
}
