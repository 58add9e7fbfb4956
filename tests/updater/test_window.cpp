#include "activityblinker.h"
#include "frmtesmoraupdate.h"
#include "modmain.h"
#include "tempfolder.h"
#include "testclock.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

// The window is only built here, never shown: showing it starts the run.
class Window : public ::testing::Test
{
protected:
    UpdaterEnvironment bind(const std::string &exeName)
    {
        UpdaterEnvironment env;
        env.paths = {dir.path(), exeName};
        env.clock = &clock;
        return env;
    }
    QWidget *control(const frmTesmoraUpdate &form, const char *name) { return form.findChild<QWidget *>(name); }

    TempFolder dir;
    TestClock clock;
};

TEST_F(Window, CaptionIsExecutableNameAndBuildVersion)
{
    EXPECT_EQ(frmTesmoraUpdate(bind("TesmoraUpdate")).windowTitle(), "TesmoraUpdate v1.0.1");
    EXPECT_EQ(frmTesmoraUpdate(bind("OtherName")).windowTitle(), "OtherName v1.0.1");
}

TEST_F(Window, ProgressBarStartsEmptyUnderItsFullFrame)
{
    frmTesmoraUpdate form(bind("TesmoraUpdate"));
    EXPECT_EQ(form.progressWidthTwips(), 0);
    ASSERT_NE(control(form, "ShpFileA"), nullptr);
    EXPECT_EQ(control(form, "ShpFileA")->width(), 0);
    EXPECT_EQ(control(form, "ShpFileB")->geometry(), QRect(8, 24, 297, 17));
    EXPECT_EQ(control(form, "ShpActivity")->geometry(), QRect(8, 48, 297, 9));
    EXPECT_EQ(form.size(), QSize(312, 65));
}

TEST_F(Window, LabelAndButtonAsDesigned)
{
    frmTesmoraUpdate form(bind("TesmoraUpdate"));
    auto *label = form.findChild<QLabel *>("lblFile");
    auto *button = form.findChild<QPushButton *>("cmdUpDate");
    ASSERT_NE(label, nullptr);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(label->text(), "...");
    EXPECT_EQ(label->pos(), QPoint(8, 8));
    EXPECT_EQ(button->text(), "UpDate");
    EXPECT_EQ(button->geometry(), QRect(240, 0, 65, 25));
    EXPECT_FALSE(button->isHidden());
}

TEST(ActivityBar, ChangesWithEveryBlockAndShowsItsLastStateAtTheEnd)
{
    QWidget window;
    auto *bar = new QWidget(&window);
    ActivityBlinker blinker(window, *bar);
    EXPECT_TRUE(blinker.barVisible());
    blinker.onBlock();
    EXPECT_TRUE(bar->isHidden()) << "the first block of a download reaches the screen at once";
    for (int i = 0; i < 4; ++i)
        blinker.onBlock();
    EXPECT_FALSE(blinker.barVisible()) << "an odd number of blocks leaves it changed";
    blinker.onBlock();
    EXPECT_TRUE(blinker.barVisible());
    blinker.finish();
    EXPECT_FALSE(bar->isHidden()) << "the end shows the last state";
    blinker.onBlock();
    EXPECT_TRUE(bar->isHidden()) << "a new download starts a new frame";
}

TEST(Progress, GrowsByTheBarWidthDividedByTheEntries)
{
    EXPECT_EQ(progressStep(4455, 3), 1485);
    EXPECT_EQ(progressStep(4455, 7), 636);
    EXPECT_EQ(7 * progressStep(4455, 7), 4452);
    EXPECT_EQ(progressStep(4455, 32767), 0);
    EXPECT_EQ(twipsToPixels(4455), 297);
    EXPECT_EQ(twipsToPixels(1485), 99);
    EXPECT_EQ(twipsToPixels(636), 42);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
