// The main window's alerts and options dialog wiring: a failed echo reaches
// the alert rules, the tray and the popup; the options dialog locks the seven
// items that would reopen it or start a run.

#include "support/FakeIcmp.h"

#include "icmp/KtIcmp.h"
#include "run/ClockTicker.h"
#include "ui/alerts/AlertCenter.h"
#include "ui/window/TarvokMain.h"
#include "ui/dialogs/frmOption.h"
#include "ui/widgets/SpinEdit.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

using namespace tarvok;
using namespace tarvok::test;

namespace {

struct Rig {
    ManualClock clock;
    FakeTransport* net = new FakeTransport(clock);
    std::unique_ptr<TTarvokMain> w;
    Rig()
    {
        auto engine = std::make_unique<TKtICMP>(std::unique_ptr<IcmpTransport>(net),
                                                std::make_unique<FakeResolver>(), clock);
        w = std::make_unique<TTarvokMain>(std::move(engine), clock);
    }
};

} // namespace

TEST(MainWindowAlerts, FailedEchoRaisesTheNgAlertOnceAndRecoveryClearsNothing)
{
    Rig r;
    r.w->prefs.NGPopup = true;
    r.w->Parameters->edtPingCount->setValue(1);
    r.w->Parameters->edtPingWait->setValue(1);
    r.w->Memo1->setPlainText(QStringLiteral("198.18.9.9 core switch"));
    r.net->push({FakeOutcome::silence(), FakeOutcome::reply("198.18.9.9", 60, 5)});

    r.w->mnuPingClick();
    advance(r.clock, 5000);
    ASSERT_FALSE(r.w->run().Busy());
    TfrmNGMessage* ng = r.w->alerts().windows().frmNGMessage();
    ASSERT_NE(ng, nullptr);
    EXPECT_EQ(ng->findChild<QLabel*>("lblHostName")->text(), QStringLiteral("198.18.9.9 (core switch)"));
    EXPECT_EQ(ng->findChild<QLabel*>("lblError")->text(), QStringLiteral("Request timed out"));
    EXPECT_TRUE(r.w->alerts().tray().ngIndicated());

    // The next run starts with the NG indication cleared; its OK echo raises
    // no NG popup of its own.
    ng->close();
    r.w->mnuPingClick();
    EXPECT_FALSE(r.w->alerts().tray().ngIndicated());
    advance(r.clock, 5000);
    EXPECT_EQ(r.w->alerts().windows().frmNGMessage(), nullptr);
    EXPECT_FALSE(r.w->alerts().tray().ngIndicated());
}

TEST(MainWindowAlerts, OptionsDialogLocksItsSevenItemsWhileOpen)
{
    Rig r;
    QAction* const items[] = {r.w->pmnShowMain, r.w->mnuOption, r.w->pmnOption, r.w->btnOption,
                              r.w->mnuPing,     r.w->pmnPing,   r.w->btnPing};
    std::vector<bool> whileOpen;
    QTimer::singleShot(0, [&] {
        for (QAction* a : items)
            whileOpen.push_back(a->isEnabled());
        if (auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dlg->reject();
    });
    r.w->prefs.AutoDeleteCount = 77;
    r.w->mnuOptionClick();
    EXPECT_EQ(whileOpen, std::vector<bool>(7, false));
    for (QAction* a : items)
        EXPECT_TRUE(a->isEnabled()) << a->objectName().toStdString();
    EXPECT_EQ(r.w->prefs.AutoDeleteCount, 77);
}

TEST(MainWindowAlerts, ClockFillsTheStatusBarPanels)
{
    Rig r;
    r.w->ClockTimer->tickNow();
    EXPECT_EQ(r.w->Bar1Panels[2]->text(), QStringLiteral("2026/12/07 09:30"));
}
