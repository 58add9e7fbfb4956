#include "kioskfixture.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>

namespace {

class Housekeeping : public KioskFixture
{
protected:
    // The window after start-up, on a server that is never contacted: these tests drive the
    // handlers themselves and never let the event loop run.
    std::unique_ptr<frmTesmora> started(const std::string &extraData = {}, const std::string &extraFailure = {})
    {
        writeSettings(settingsFor("http://kiosk.invalid/", extraData, extraFailure));
        auto w = makeWindow();
        w->Form_Load();
        return w;
    }

    QString status(frmTesmora &w) const { return w.lblStatus->text(); }
};

TEST_F(Housekeeping, ErrorCountdownCountsDownThenAsksForTheStartPageAgain)
{
    auto w = started({}, "time_restart_exe=3\r\n");
    QSignalSpy requests(w.get(), &frmTesmora::navigationRequested);
    w->WebBrowser_NavigateError(QUrl("http://kiosk.invalid/start.html"), 0, {});
    EXPECT_EQ(status(*w), "Service pause") << "the countdown text follows a tick later";
    EXPECT_TRUE(w->tmrRestartApp->isEnabled());

    w->tmrRestartApp_Timer();
    EXPECT_EQ(status(*w), "Service error 3");
    w->tmrRestartApp_Timer();
    EXPECT_EQ(status(*w), "Service error 2");
    EXPECT_EQ(requests.count(), 1);
    w->tmrRestartApp_Timer();
    EXPECT_EQ(status(*w), "Service error 1");

    ASSERT_EQ(requests.count(), 2);
    EXPECT_EQ(requests[0][0].toString(), "http://kiosk.invalid/error.html");
    EXPECT_EQ(requests[1][0].toString(), "http://kiosk.invalid/start.html");
    EXPECT_FALSE(w->tmrRestartApp->isEnabled());
    EXPECT_EQ(w->RestartCountdown, 3);
    EXPECT_FALSE(w->lblPlay->isEnabled()) << "the countdown changes no status";
    EXPECT_FALSE(w->lblPause->isEnabled());
}

TEST_F(Housekeeping, AFurtherErrorContinuesTheRunningCountdown)
{
    auto w = started({}, "time_restart_exe=3\r\n");
    w->WebBrowser_NavigateError(QUrl("http://kiosk.invalid/start.html"), 0, {});
    w->tmrRestartApp_Timer();
    EXPECT_EQ(w->RestartCountdown, 2);
    w->WebBrowser_NavigateError(QUrl("http://kiosk.invalid/error.html"), 0, {});
    EXPECT_TRUE(w->tmrRestartApp->isEnabled());
    EXPECT_EQ(w->RestartCountdown, 2);
    w->tmrRestartApp_Timer();
    EXPECT_EQ(status(*w), "Service error 2");
}

TEST_F(Housekeeping, TheCountdownReadsItsLengthAgainAfterEachUse)
{
    auto w = started({}, "time_restart_exe=1\r\n");
    w->WebBrowser_NavigateError(QUrl(), 0, {});
    writeSettings(settingsFor("http://kiosk.invalid/", {}, "time_restart_exe=4\r\n"));
    w->tmrRestartApp_Timer();
    EXPECT_EQ(status(*w), "Service error 1");
    EXPECT_EQ(w->RestartCountdown, 4);
    // A value that cannot be used falls back to 1 with one log line, and the kiosk goes on.
    writeSettings(settingsFor("http://kiosk.invalid/", {}, "time_restart_exe=0\r\n"));
    w->WebBrowser_NavigateError(QUrl(), 0, {});
    for (int i = 0; i < 4; ++i)
        w->tmrRestartApp_Timer();
    EXPECT_EQ(w->RestartCountdown, 1);
    EXPECT_EQ(kioskLog(), "Valore non valido per time_restart_exe: '0', uso il valore 1\r\n");
}

TEST_F(Housekeeping, ANavigationErrorAsksForTheErrorPageThenPauseThenError)
{
    auto w = started();
    w->ptcRefresh_Click();
    w->pitAdmin->show();
    w->WebBrowser_NavigateError(QUrl("http://kiosk.invalid/start.html"), 503, {});
    EXPECT_EQ(w->lastRequestedAddress(), "http://kiosk.invalid/error.html");
    EXPECT_EQ(status(*w), "Service pause");
    EXPECT_TRUE(w->tmrUnloadAdmin->isEnabled()) << "the pause on the way hides the panel later";
    EXPECT_FALSE(w->tmrRefreshPage->isEnabled());
    EXPECT_TRUE(w->tmrRestartApp->isEnabled());
    EXPECT_FALSE(w->tmrTestWebServer->isEnabled());
    EXPECT_FALSE(w->showsBuiltInErrorText());
}

TEST_F(Housekeeping, AFailingErrorPageShowsTheBuiltInTextInsteadOfLooping)
{
    auto w = started({}, "time_restart_exe=2\r\n");
    QSignalSpy requests(w.get(), &frmTesmora::navigationRequested);
    w->WebBrowser_NavigateError(QUrl("http://kiosk.invalid/start.html"), 0, {});
    w->WebBrowser_NavigateError(QUrl("http://kiosk.invalid/error.html"), 404, {});
    EXPECT_EQ(requests.count(), 1) << "the error page is not asked for again";
    EXPECT_TRUE(w->showsBuiltInErrorText());
    EXPECT_TRUE(w->tmrRestartApp->isEnabled());
    EXPECT_FALSE(w->lblPause->isEnabled()) << "still through pause to error";

    w->tmrRestartApp_Timer();
    w->tmrRestartApp_Timer();
    ASSERT_EQ(requests.count(), 2);
    EXPECT_EQ(requests[1][0].toString(), "http://kiosk.invalid/start.html");
    EXPECT_FALSE(w->showsBuiltInErrorText());
    // The next failure of the start page asks for the error page again, as the first did.
    w->WebBrowser_NavigateError(QUrl("http://kiosk.invalid/start.html"), 0, {});
    EXPECT_EQ(requests.count(), 3);
    EXPECT_EQ(w->lastRequestedAddress(), "http://kiosk.invalid/error.html");
}

TEST_F(Housekeeping, WithoutAnErrorPageTheBuiltInTextIsShown)
{
    writeSettings(
        "[data]\r\nweb_server=http://kiosk.invalid/\r\nstart_page=start.html\r\nshutdown_check_interval=5\r\n");
    auto w = makeWindow();
    w->Form_Load();
    QSignalSpy requests(w.get(), &frmTesmora::navigationRequested);
    w->WebBrowser_NavigateError(QUrl("http://kiosk.invalid/start.html"), 0, {});
    EXPECT_EQ(requests.count(), 0);
    EXPECT_TRUE(w->showsBuiltInErrorText());
    EXPECT_TRUE(w->tmrRestartApp->isEnabled());
    w->tmrRestartApp_Timer();
    EXPECT_EQ(w->lastRequestedAddress(), "http://kiosk.invalid/start.html");
}

TEST_F(Housekeeping, ChangeStatusForEveryCode)
{
    auto w = started();
    QLabel &label = *w->lblStatus;
    w->ChangeStatus(1);
    EXPECT_EQ(label.text(), "Service pause");
    EXPECT_TRUE(w->lblPlay->isEnabled());
    EXPECT_FALSE(w->lblPause->isEnabled());
    EXPECT_TRUE(w->tmrUnloadAdmin->isEnabled());
    EXPECT_FALSE(w->tmrTestWebServer->isEnabled());

    w->ChangeStatus(2);
    w->ChangeStatus(2);
    EXPECT_EQ(label.text(), "Service play");
    EXPECT_FALSE(w->lblPlay->isEnabled());
    EXPECT_TRUE(w->lblPause->isEnabled());
    EXPECT_FALSE(w->tmrUnloadAdmin->isEnabled());
    EXPECT_TRUE(w->tmrTestWebServer->isEnabled());

    w->ptcRefresh_Click();
    w->ChangeStatus(4);
    EXPECT_EQ(label.text(), "Service play") << "error leaves the text";
    EXPECT_FALSE(w->lblPlay->isEnabled());
    EXPECT_FALSE(w->lblPause->isEnabled());
    EXPECT_TRUE(w->lblStop->isEnabled());
    EXPECT_FALSE(w->tmrRefreshPage->isEnabled());
    EXPECT_TRUE(w->tmrRestartApp->isEnabled());
    EXPECT_FALSE(w->tmrTestWebServer->isEnabled());
    EXPECT_FALSE(w->tmrUnloadAdmin->isEnabled()) << "error leaves the panel's hide timer";

    for (const int16_t other : {0, 5, -1}) {
        w->ChangeStatus(other);
        EXPECT_EQ(label.text(), "Service play");
        EXPECT_FALSE(w->lblPause->isEnabled());
        EXPECT_TRUE(w->tmrRestartApp->isEnabled());
    }
    EXPECT_EQ(immediateEnds, 0);
    w->ChangeStatus(3);
    EXPECT_EQ(immediateEnds, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "tesmora.lck")) << "stop ends through the unload";
}

TEST_F(Housekeeping, ServiceTestSwitchIgnoresOtherValues)
{
    auto w = started();
    w->Serviziotesmora(0);
    w->Serviziotesmora(2);
    EXPECT_FALSE(w->tmrTestWebServer->isEnabled());
    w->Serviziotesmora(1);
    w->Serviziotesmora(-1);
    EXPECT_TRUE(w->tmrTestWebServer->isEnabled());
}

} // namespace
