#include "monitor/AlertRules.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace tarvok;

namespace {

// One echo of a sequence: 'N' no reply, 'S' slow reply (NG by CheckRTT),
// 'O' OK reply, 'R' the resets between periodic passes (ResetNGFlags).
// Drives the rules the way the reply handler does: the rules first, then
// LastResult / NGCount, and NGNotified when the actions say so.
struct Outcome {
    std::string ngAlerts; // per echo: '1' NG alert raised, '.' none, ' ' for OK echoes
    std::string okAlerts; // per echo: '1' OK sound/command stage reached, '.' none, ' ' for NG echoes
};

Outcome runSequence(const Preferences& prefs, const std::string& seq)
{
    TargetState st;
    Outcome out;
    for (char c : seq) {
        if (c == 'R') {
            if (st.LastResult == LastResult::NG)
                st.LastResult = LastResult::None;
            st.NGNotified = false;
            st.NGCount = 0;
            continue;
        }
        const bool ng = c != 'O';
        const AlertActions a = DecideAlertActions(st, prefs, {"2026/12/07 09:30:00", "host", "", "msg", ng});
        if (a.setNGNotified)
            st.NGNotified = true;
        out.ngAlerts += ng ? (a.alert ? '1' : '.') : ' ';
        out.okAlerts += ng ? ' ' : (a.alert ? '1' : '.');
        if (ng) {
            st.LastResult = LastResult::NG;
            ++st.NGCount;
        } else {
            st.LastResult = LastResult::OK;
            if (prefs.ContinuationNGCount)
                st.NGCount = 0;
        }
    }
    return out;
}

struct RuleCase {
    const char* name;
    std::function<void(Preferences&)> setup;
    std::string sequence;
    std::string ngAlerts;
    std::string okAlerts;
};

} // namespace

TEST(AlertRules, SuppressionTable)
{
    const RuleCase cases[] = {
        {"defaults: only the first NG alerts; NGNotified holds after an OK", [](Preferences&) {}, "NNON",
         "1. .", "  1 "},
        {"slow reply counts as NG, the fast one after it is a recovery", [](Preferences&) {}, "SO", "1 ", " 1"},
        {"NGCheckAddress off: an NG after an OK alerts again", [](Preferences& p) { p.NGCheckAddress = false; },
         "NNON", "1. 1", "  1 "},
        {"NGCheckAddress and NGCheckBefore off: every NG alerts",
         [](Preferences& p) {
             p.NGCheckAddress = false;
             p.NGCheckBefore = false;
         },
         "NNNON", "111 1", "   1 "},
        {"pass count 3: the third NG alerts; with counting across OK the next NG alerts at once",
         [](Preferences& p) {
             p.NGCheckAddress = false;
             p.UseNGPassCount = true;
             p.NGPassCount = 3;
         },
         "NNNONN", "..1 1.", "   1  "},
        {"pass count 3 with continuation: an OK starts the count again",
         [](Preferences& p) {
             p.NGCheckAddress = false;
             p.UseNGPassCount = true;
             p.NGPassCount = 3;
             p.ContinuationNGCount = true;
         },
         "NNNONNNN", "..1 ..1.", "   1    "},
        {"pass count 2: reaching the count alerts although the previous result was NG",
         [](Preferences& p) {
             p.NGCheckAddress = false;
             p.UseNGPassCount = true;
             p.NGPassCount = 2;
         },
         "NNN", ".1.", "   "},
        {"pass count beyond reach with NGCheckBefore off: every NG past the count alerts",
         [](Preferences& p) {
             p.NGCheckAddress = false;
             p.NGCheckBefore = false;
             p.UseNGPassCount = true;
             p.NGPassCount = 2;
         },
         "NNNN", ".111", "    "},
        {"pass count 1 behaves like no pass count",
         [](Preferences& p) {
             p.NGCheckAddress = false;
             p.UseNGPassCount = true;
             p.NGPassCount = 1;
         },
         "NNON", "1. 1", "  1 "},
        {"pass count with NGCheckAddress on: one alert per run",
         [](Preferences& p) {
             p.UseNGPassCount = true;
             p.NGPassCount = 2;
         },
         "NNONNN", ".1 ...", "  1   "},
        {"OKCheckBefore: first OK after start and after every NG", [](Preferences&) {}, "OOONOO", "   1  ",
         "1.. 1."},
        {"OKCheckBefore off: every OK", [](Preferences& p) { p.OKCheckBefore = false; }, "OOO", "   ", "111"},
        {"ResetNGFlag: one NG alert per pass", [](Preferences&) {}, "NNRNNRN", "1.1.1", "     "},
        {"without resets, a target NG in every pass alerts once", [](Preferences&) {}, "NNNNN", "1....",
         "     "},
    };
    for (const RuleCase& c : cases) {
        Preferences p;
        c.setup(p);
        const Outcome o = runSequence(p, c.sequence);
        EXPECT_EQ(o.ngAlerts, c.ngAlerts) << c.name;
        EXPECT_EQ(o.okAlerts, c.okAlerts) << c.name;
    }
}

TEST(AlertRules, NGAlertActionsFollowPreferences)
{
    Preferences p;
    p.NGPopup = true;
    p.NGSound = true;
    p.NGSoundFile = "/snd/ng.wav";
    p.NGCommandExec = true;
    p.NGCommand = "/usr/bin/notify";
    p.NGCommandOption = "\"%n\" %s";
    p.NGCommandWorkDir = "/tmp";
    const AlertActions a =
        DecideAlertActions(TargetState{}, p, {"2026/12/07 09:30:00", "srv1", "main gw", "Request Timed Out.", true});
    EXPECT_TRUE(a.alert && a.setNGNotified && a.changeTrayIcon);
    EXPECT_TRUE(a.playSound);
    EXPECT_EQ(a.soundFile, "/snd/ng.wav");
    EXPECT_TRUE(a.popup);
    EXPECT_EQ(a.popupDateTime, "2026/12/07 09:30:00");
    EXPECT_EQ(a.popupHost, "srv1 (main gw)");
    EXPECT_EQ(a.popupMessage, "Request Timed Out.");
    EXPECT_TRUE(a.runCommand);
    EXPECT_EQ(a.program, "/usr/bin/notify");
    EXPECT_EQ(a.arguments, QStringList({"srv1", "Request Timed Out."}));
    EXPECT_EQ(a.workDir, "/tmp");

    // Each action switched off on its own; an empty sound file plays nothing;
    // an empty program name still asks for the (silently failing) start.
    p.NGChangeIcon = false;
    p.NGSoundFile.clear();
    p.NGPopup = false;
    p.NGCommand.clear();
    const AlertActions b = DecideAlertActions(TargetState{}, p, {"d", "srv1", "", "m", true});
    EXPECT_TRUE(b.setNGNotified);
    EXPECT_FALSE(b.changeTrayIcon || b.playSound || b.popup);
    EXPECT_TRUE(b.runCommand);
    EXPECT_TRUE(b.program.isEmpty());
}

TEST(AlertRules, OKPopupComesBeforeTheRepeatedOKTest)
{
    Preferences p;
    p.OKPopup = true;
    p.OKSound = true;
    p.OKSoundFile = "/snd/ok.wav";
    p.OKCommandExec = true;
    p.OKCommand = "prog";
    TargetState st;
    st.LastResult = LastResult::OK;
    st.NGNotified = true;
    const AlertActions a = DecideAlertActions(st, p, {"d", "10.0.0.1", "", "Ping OK （3ms）", false});
    EXPECT_TRUE(a.popup);
    EXPECT_EQ(a.popupHost, "10.0.0.1");
    EXPECT_EQ(a.popupMessage, "Ping OK （3ms）");
    EXPECT_FALSE(a.playSound || a.runCommand || a.alert);
    // An OK never touches the NG memory or the tray.
    EXPECT_FALSE(a.setNGNotified || a.changeTrayIcon);

    st.LastResult = LastResult::NG;
    const AlertActions b = DecideAlertActions(st, p, {"d", "10.0.0.1", "", "Ping OK （3ms）", false});
    EXPECT_TRUE(b.popup && b.playSound && b.runCommand);
    EXPECT_FALSE(b.setNGNotified || b.changeTrayIcon);
}
