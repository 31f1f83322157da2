#include "monitor/TrayState.h"

#include <gtest/gtest.h>

using namespace tarvok;

namespace {
// frames, animated, flag
void expectState(const TrayState& t, int f1, int f2, bool animated, bool flag, const char* where)
{
    EXPECT_EQ(t.frame1(), f1) << where;
    EXPECT_EQ(t.frame2(), f2) << where;
    EXPECT_EQ(t.animated(), animated) << where;
    EXPECT_EQ(t.ngIndicated(), flag) << where;
}
} // namespace

TEST(TrayState, RunWithoutBlinkNGThenDoubleClick)
{
    TrayState t;
    EXPECT_EQ(t.imageIndex(0), TrayState::StillImage);
    t.runStarting(false);
    expectState(t, 3, 4, false, false, "run start, no blink");
    EXPECT_EQ(t.imageIndex(1), 3);

    EXPECT_TRUE(t.ngAlert());
    expectState(t, 5, 6, true, true, "NG blinks although blinking is off");
    EXPECT_EQ(t.imageIndex(0), 5);
    EXPECT_EQ(t.imageIndex(1), 6);
    EXPECT_FALSE(t.ngAlert()); // a second NG changes nothing

    t.doubleClicked(false);
    expectState(t, 3, 4, false, false, "double-click stops the blinking");
    EXPECT_EQ(t.imageIndex(1), TrayState::StillImage);
}

TEST(TrayState, RunWithBlinkNGThenPopupOK)
{
    TrayState t;
    t.runStarting(true);
    expectState(t, 3, 4, true, false, "run start, blink");
    t.ngAlert();
    t.popupAcknowledged();
    expectState(t, 3, 4, true, false, "popup OK keeps it animated, normal colours");
    t.ngAlert();
    t.doubleClicked(true);
    expectState(t, 3, 4, true, false, "double-click with blinking preferred");
    t.runEnded();
    expectState(t, 3, 4, false, false, "run end");
}

TEST(TrayState, AcknowledgementsOutsideARunKeepTheFlagForTheNextRun)
{
    TrayState t;
    t.runStarting(false);
    t.ngAlert();
    t.runEnded();
    expectState(t, 5, 6, false, true, "run ended with NG shown");
    t.doubleClicked(true);
    t.popupAcknowledged();
    expectState(t, 5, 6, false, true, "not animated: acknowledgements do nothing");
    EXPECT_EQ(t.imageIndex(0), TrayState::StillImage);
    t.runStarting(true);
    expectState(t, 3, 4, true, false, "the next run clears it");
}
