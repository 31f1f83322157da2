#include "ui/alerts/AlertCenter.h"

#include "monitor/SoundPlayer.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace tarvok;

namespace {

struct Fixture {
    Preferences prefs;
    QWidget mainWindow;
    QMenu menu;
    SoundPlayer sound;
    QList<QStringList> started; // program followed by its arguments
    std::unique_ptr<AlertCenter> alerts;

    Fixture()
    {
        ShellLauncher l;
        l.startProgram = [this](const QString& p, const QStringList& a, const QString&) {
            started.append(QStringList{p} + a);
            return true;
        };
        l.openDocument = [](const QString&) { return true; };
        alerts = std::make_unique<AlertCenter>(prefs, &mainWindow, &menu, nullptr, &sound, l,
                                               [](int i) { (void)i;
                                                   return QIcon(); });
    }
    void ng(TargetState& st, const QString& target = "srv1")
    {
        alerts->ApplyAlertRules(st, "2026/12/07 09:30:00", target, "gw", "Request Timed Out.", true);
        st.LastResult = LastResult::NG;
        ++st.NGCount;
    }
    void ok(TargetState& st)
    {
        alerts->ApplyAlertRules(st, "2026/12/07 09:31:00", "srv1", "gw", "Ping OK （2ms）", false);
        st.LastResult = LastResult::OK;
    }
    void flush() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

} // namespace

TEST(AlertCenter, NGThenRecoveryWithEveryAction)
{
    Fixture f;
    QTemporaryDir dir;
    const QString wav = dir.filePath("ng.wav");
    {
        QFile file(wav);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("RIFF");
    }
    f.prefs.BlinkTrayIcon = false;
    f.prefs.NGPopup = f.prefs.OKPopup = true;
    f.prefs.NGSound = true;
    f.prefs.NGSoundFile = wav;
    f.prefs.NGCommandExec = f.prefs.OKCommandExec = true;
    f.prefs.NGCommand = "sh";
    f.prefs.NGCommandOption = "-c \"%n %s\"";
    f.prefs.OKCommand = "sh";
    f.prefs.OKCommandOption = "%e";

    TargetState st;
    f.alerts->RunStarting();
    EXPECT_FALSE(f.alerts->tray().state().animated());

    f.ng(st);
    EXPECT_TRUE(st.NGNotified);
    EXPECT_TRUE(f.alerts->tray().ngIndicated());
    EXPECT_TRUE(f.alerts->tray().state().animated());
    EXPECT_EQ(f.alerts->tray().currentImage(), TrayState::NGFrame1);
    EXPECT_EQ(f.sound.startCount(), 1);
    EXPECT_EQ(f.sound.lastStarted(), wav);
    ASSERT_NE(f.alerts->windows().frmNGMessage(), nullptr);
    EXPECT_EQ(f.alerts->windows().frmNGMessage()->lblHostName->text(), "srv1 (gw)");
    ASSERT_EQ(f.started.size(), 1);
    EXPECT_TRUE(f.started[0][0].endsWith("/sh"));
    EXPECT_EQ(f.started[0].mid(1), QStringList({"-c", "srv1 Request Timed Out."}));

    // A second NG of the same target is suppressed entirely.
    f.ng(st);
    EXPECT_EQ(f.sound.startCount(), 1);
    EXPECT_EQ(f.started.size(), 1);

    // The recovery: OK popup and command; NG indication untouched.
    f.ok(st);
    ASSERT_NE(f.alerts->windows().frmOKMessage(), nullptr);
    EXPECT_EQ(f.alerts->windows().frmOKMessage()->lblError->text(), "Ping OK （2ms）");
    ASSERT_EQ(f.started.size(), 2);
    EXPECT_EQ(f.started[1].mid(1), QStringList({"gw"}));
    EXPECT_TRUE(f.alerts->tray().ngIndicated());

    // The NG window's OK: normal frames, the animation stays on.
    QTest::mouseClick(f.alerts->windows().frmNGMessage()->Button1, Qt::LeftButton);
    f.flush();
    EXPECT_FALSE(f.alerts->tray().ngIndicated());
    EXPECT_TRUE(f.alerts->tray().state().animated());
    EXPECT_EQ(f.alerts->tray().currentImage(), TrayState::NormalFrame1);

    f.alerts->RunEnded();
    EXPECT_EQ(f.alerts->tray().currentImage(), TrayState::StillImage);
}

TEST(AlertCenter, MissingSoundAndNoIconChange)
{
    Fixture f;
    f.prefs.NGChangeIcon = false;
    f.prefs.NGSound = true;
    f.prefs.NGSoundFile = "/nonexistent/ng.wav";
    TargetState st;
    f.alerts->RunStarting();
    f.ng(st);
    EXPECT_TRUE(st.NGNotified);
    EXPECT_EQ(f.sound.startCount(), 0);
    EXPECT_FALSE(f.alerts->tray().ngIndicated());
    EXPECT_EQ(f.alerts->windows().frmNGMessage(), nullptr);
}
