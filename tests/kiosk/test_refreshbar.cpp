#include "formtimer.h"
#include "kioskfixture.h"
#include "kiosksettings.h"
#include "refreshbar.h"
#include "servicestatus.h"

#include <QSignalSpy>

namespace {

class RefreshBarTest : public ::testing::Test
{
protected:
    RefreshBarTest()
    {
        KioskSettings settings;
        settings.refreshInterval = 4;
        bar.configure(settings);
        bar.setWidths(1695, 0);
    }

    FormTimer timer{0};
    RefreshBar bar{&timer, 1695, 495};
    QSignalSpy drawn{&bar, &RefreshBar::fillChanged};
};

TEST_F(RefreshBarTest, TheBarFillsInStepsAndEmptiesOnTheLastTick)
{
    for (int i = 0; i < 3; ++i)
        bar.tick();
    EXPECT_FLOAT_EQ(bar.fillWidth(), 1695.0f / 4 * 3);
    EXPECT_EQ(bar.ticks(), 3);
    EXPECT_FLOAT_EQ(drawn.last()[0].toFloat(), bar.fillWidth()) << "what the window draws";
    bar.tick();
    EXPECT_FLOAT_EQ(bar.fillWidth(), 0);
    EXPECT_EQ(bar.ticks(), 0);
    EXPECT_FLOAT_EQ(drawn.last()[0].toFloat(), 0);
}

TEST_F(RefreshBarTest, StopHoldsTheBarAndRefreshEmptiesAndRestartsItInAnyStatus)
{
    bar.restart();
    EXPECT_TRUE(bar.running());
    bar.tick();
    bar.tick();
    bar.stop();
    EXPECT_FALSE(bar.running());
    EXPECT_FLOAT_EQ(bar.fillWidth(), 1695.0f / 4 * 2) << "stopped, not emptied";

    bar.restart();
    bar.statusChanged(ServiceStatus::Play);
    EXPECT_TRUE(bar.running());
    bar.statusChanged(ServiceStatus::Error);
    EXPECT_FALSE(bar.running()) << "error stops the bar";
    bar.restart();
    EXPECT_TRUE(bar.running()) << "refresh works in the error status too";
    EXPECT_EQ(bar.ticks(), 0);
    EXPECT_FLOAT_EQ(bar.fillWidth(), 0);
}

} // namespace
