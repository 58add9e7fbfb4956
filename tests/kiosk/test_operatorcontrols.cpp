#include "kioskfixture.h"

#include <QCursor>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

namespace {

class OperatorControls : public KioskFixture
{
protected:
    void SetUp() override
    {
        writeSettings(settingsFor("http://kiosk.invalid/"));
        w = makeWindow();
        w->Form_Load();
        w->show(); // clicks reach only shown, enabled controls
    }

    void click(QWidget *area) { QTest::mouseClick(area, Qt::LeftButton, {}, area->rect().center()); }

    std::unique_ptr<frmTesmora> w;
};

TEST_F(OperatorControls, BothHiddenAreasInEitherOrderOpenThePanel)
{
    click(w->lblButton1);
    EXPECT_TRUE(w->pitAdmin->isHidden());
    EXPECT_TRUE(w->tmrOpenAdmin->isEnabled());
    click(w->lblButton2);
    EXPECT_TRUE(w->pitAdmin->isVisible());
    EXPECT_FALSE(w->tmrOpenAdmin->isEnabled());
    EXPECT_TRUE(w->tmrUnloadAdmin->isEnabled());

    w->tmrUnloadAdmin_Timer();
    EXPECT_TRUE(w->pitAdmin->isHidden());
    EXPECT_FALSE(w->tmrUnloadAdmin->isEnabled());

    click(w->lblButton2);
    click(w->lblButton1);
    EXPECT_TRUE(w->pitAdmin->isVisible()) << "right corner first works too";
}

TEST_F(OperatorControls, OneAreaAloneNeverOpensThePanel)
{
    for (int i = 0; i < 5; ++i)
        click(w->lblButton1);
    EXPECT_TRUE(w->pitAdmin->isHidden());
    w->tmrOpenAdmin_Timer();
    for (int i = 0; i < 5; ++i)
        click(w->lblButton2);
    EXPECT_TRUE(w->pitAdmin->isHidden());
}

TEST_F(OperatorControls, TheGestureWindowRunsOutAfterFiveSeconds)
{
    click(w->lblButton1);
    EXPECT_EQ(w->tmrOpenAdmin->interval(), 5000);
    w->tmrOpenAdmin_Timer(); // five seconds of nothing
    EXPECT_FALSE(w->tmrOpenAdmin->isEnabled());
    click(w->lblButton2);
    EXPECT_TRUE(w->pitAdmin->isHidden()) << "the left mark has gone";
    click(w->lblButton1);
    EXPECT_TRUE(w->pitAdmin->isVisible()) << "within five seconds of the right one";
}

TEST_F(OperatorControls, AfterOpeningOneMoreClickOpensNothing)
{
    click(w->lblButton1);
    click(w->lblButton2);
    w->tmrUnloadAdmin_Timer();
    click(w->lblButton2);
    EXPECT_TRUE(w->pitAdmin->isHidden()) << "marks are \"0\", not empty";
}

TEST_F(OperatorControls, PanelStaysAfterPlayAndHidesAgainOnPause)
{
    click(w->lblButton1);
    click(w->lblButton2);
    click(w->lblPause);
    EXPECT_EQ(w->lblStatus->text(), "Service pause");
    EXPECT_TRUE(w->tmrUnloadAdmin->isEnabled());
    click(w->lblPause);
    EXPECT_EQ(w->lblStatus->text(), "Service pause") << "pause is disabled while paused";
    click(w->lblPlay);
    EXPECT_EQ(w->lblStatus->text(), "Service play");
    EXPECT_FALSE(w->tmrUnloadAdmin->isEnabled()) << "play holds the panel";
    EXPECT_TRUE(w->pitAdmin->isVisible());
    click(w->lblPause);
    w->tmrUnloadAdmin_Timer();
    EXPECT_TRUE(w->pitAdmin->isHidden());
}

TEST_F(OperatorControls, InTheErrorStatusOnlyStopAnswers)
{
    click(w->lblButton1);
    click(w->lblButton2);
    w->WebBrowser_NavigateError(QUrl("http://kiosk.invalid/start.html"), 0, {});
    click(w->lblPlay);
    click(w->lblPause);
    EXPECT_EQ(w->lblStatus->text(), "Service pause");
    EXPECT_FALSE(w->lblPlay->isEnabled());
    EXPECT_EQ(immediateEnds, 0);
    click(w->lblStop);
    EXPECT_EQ(immediateEnds, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "tesmora.lck")) << "stop ends through the unload handler";
}

TEST_F(OperatorControls, ButtonsLoadTheirPagesOfTheFirstServer)
{
    QSignalSpy requests(w.get(), &frmTesmora::navigationRequested);
    w->cmdAdminPannel->click();
    w->cmdLogOut->click();
    w->cmdTesmora->click();
    ASSERT_EQ(requests.count(), 3);
    EXPECT_EQ(requests[0][0].toString(), "http://kiosk.invalid/admin.html");
    EXPECT_EQ(requests[1][0].toString(), "http://kiosk.invalid/logout.html");
    EXPECT_EQ(requests[2][0].toString(), "http://kiosk.invalid/start.html");
    EXPECT_EQ(w->lblStatus->text(), "Service play") << "buttons change no status";
}

TEST_F(OperatorControls, OnlyTheStartButtonParksThePointer)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCursor::setPos(10, 10);
    if (QCursor::pos() != QPoint(10, 10))
        GTEST_SKIP() << "this platform cannot move the pointer";
    w->cmdAdminPannel->click();
    w->cmdLogOut->click();
    EXPECT_EQ(QCursor::pos(), QPoint(10, 10));
    w->cmdTesmora->click();
    EXPECT_EQ(QCursor::pos(), screen.bottomRight());
}

TEST_F(OperatorControls, CloseEndsAtOnceKeepingTheLockFile)
{
    writeFile(dir / "Shutdown.txt", "x\r\n");
    w->cmdClose->click();
    EXPECT_EQ(immediateEnds, 1);
    EXPECT_TRUE(std::filesystem::exists(dir / "tesmora.lck"));
    EXPECT_TRUE(std::filesystem::exists(dir / "Shutdown.txt")) << "no unload handler ran";
}

} // namespace
