#include "formtimer.h"
#include "operatorgesture.h"
#include "servicestatus.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

class OperatorGestureTest : public ::testing::Test
{
protected:
    FormTimer openTimer{0};
    FormTimer hideTimer{0};
    OperatorGesture gesture{&openTimer, &hideTimer};
    QSignalSpy shown{&gesture, &OperatorGesture::panelShown};
};

TEST_F(OperatorGestureTest, BothCornersWithinTheTimeOpenThePanelForAWhile)
{
    gesture.rightCornerClicked();
    EXPECT_TRUE(openTimer.isEnabled()) << "the first click starts the 5 seconds";
    gesture.leftCornerClicked();
    EXPECT_TRUE(gesture.panelOpen());
    EXPECT_EQ(shown.size(), 1);
    EXPECT_FALSE(openTimer.isEnabled());
    EXPECT_EQ(gesture.marks(), "00");
    EXPECT_TRUE(hideTimer.isEnabled());
    gesture.hideTimeUp();
    EXPECT_FALSE(gesture.panelOpen());
    EXPECT_EQ(shown.last()[0].toBool(), false);
    EXPECT_FALSE(hideTimer.isEnabled());
}

TEST_F(OperatorGestureTest, TheMarksGoWhenTheTimeIsUpAndOneCornerAloneOpensNothing)
{
    for (int i = 0; i < 5; ++i)
        gesture.leftCornerClicked();
    gesture.openTimeUp();
    EXPECT_EQ(gesture.marks(), "00");
    EXPECT_FALSE(openTimer.isEnabled());
    gesture.rightCornerClicked();
    EXPECT_FALSE(gesture.panelOpen()) << "the left mark has gone";
    gesture.leftCornerClicked();
    EXPECT_TRUE(gesture.panelOpen()) << "within the time of the right one";
    gesture.hideTimeUp();
    gesture.rightCornerClicked();
    EXPECT_FALSE(gesture.panelOpen()) << "marks are \"0\" after opening, not empty";
    EXPECT_EQ(gesture.marks(), "03");
}

TEST_F(OperatorGestureTest, PlayHoldsThePanelAndPauseLetsItHide)
{
    gesture.statusChanged(ServiceStatus::Pause);
    EXPECT_TRUE(hideTimer.isEnabled());
    gesture.statusChanged(ServiceStatus::Play);
    EXPECT_FALSE(hideTimer.isEnabled());
    gesture.statusChanged(ServiceStatus::Error);
    EXPECT_FALSE(hideTimer.isEnabled()) << "error leaves the panel's hide timer";
}

} // namespace
