#include "httpserver.h"
#include "kioskbrowser.h"
#include "kioskfixture.h"
#include "kiosksettings.h"
#include "pagedialog.h"
#include "serverlist.h"

#include <QSignalSpy>
#include <QWebEngineView>

namespace {

// The real browser engine loading from a real server, without the window; the test gives the
// seconds of the load timeout.
class KioskBrowserTest : public RuleFixture
{
protected:
    void configure(const std::string &servers, int16_t loadTimeout = 30)
    {
        KioskSettings settings;
        settings.serverList = servers;
        settings.loadTimeout = loadTimeout;
        ServerList list;
        list.configure(settings);
        browser.configure(settings, list, log);
    }
    // Every frame of the page that can get a document has it (a frame of another origin is not
    // looked into).
    bool framesDone()
    {
        return QTest::qWaitFor(
            [&] {
                return evaluate(browser.page(),
                                "Array.from(document.querySelectorAll('iframe')).every(f => "
                                "!f.contentDocument || f.contentDocument.readyState === 'complete')")
                    .toBool();
            },
            10000);
    }
    void secondsPass(int seconds)
    {
        // The frames report from their own processes: each second lets their reports arrive.
        for (int second = 0; second < seconds; ++second, browser.secondPassed())
            QTest::qWait(50);
    }

    // The view goes before its page, as in the window.
    void TearDown() override { view.reset(); }

    TestHttpServer server;
    std::unique_ptr<QWebEngineView> view = std::make_unique<QWebEngineView>();
    KioskBrowser browser{view.get(), new PageDialog(view.get())};
    QSignalSpy errors{&browser, &KioskBrowser::navigateError};
    QSignalSpy loaded{&browser, &KioskBrowser::documentComplete};
};

TEST_F(KioskBrowserTest, ALoadWithoutAnAnswerIsStoppedAfterTheLoadTimeoutAndIsANavigationError)
{
    server.serveNoAnswer("/start.html");
    configure(server.baseUrl(), 3);
    browser.Navigate(server.baseUrl() + "start.html");
    ASSERT_TRUE(requested(server, "/start.html"));
    secondsPass(3);
    EXPECT_TRUE(errors.isEmpty());
    browser.secondPassed();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0][0].toUrl().toString().toStdString(), server.baseUrl() + "start.html");
    EXPECT_EQ(errors[0][2].toString(), "no answer in time");
    EXPECT_FALSE(browser.page()->isLoading()) << "the load is stopped";
}

TEST_F(KioskBrowserTest, AFrameThatGetsNoDocumentWithinTheLoadTimeoutIsANavigationError)
{
    // Frames answered with a page, a 404 and a redirect get their documents, as does an empty
    // one; the admin page adds one on a port that refuses, which gets none.
    RefusingPort dead;
    const std::string frames = "<iframe src=\"/frame.html\"></iframe><iframe src=\"/missing.html\"></iframe>"
                               "<iframe src=\"/moved\"></iframe><iframe></iframe>";
    server.serve("/start.html", frames, 200, "text/html");
    server.serve("/admin.html", frames + "<iframe src=\"" + dead.baseUrl() + "\"></iframe>", 200, "text/html");
    server.serve("/frame.html", "frame", 200, "text/html");
    server.serveRedirect("/moved", "/frame.html?moved");
    configure(server.baseUrl(), 2);
    browser.Navigate(server.baseUrl() + "start.html");
    ASSERT_TRUE(loaded.wait(30000));
    ASSERT_TRUE(framesDone());
    secondsPass(10);
    EXPECT_TRUE(errors.isEmpty());

    browser.Navigate(server.baseUrl() + "admin.html");
    ASSERT_TRUE(loaded.wait(30000));
    ASSERT_TRUE(framesDone());
    secondsPass(2);
    EXPECT_TRUE(errors.isEmpty());
    secondsPass(1);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0][0].toUrl().toString().toStdString(), dead.baseUrl());
}

TEST_F(KioskBrowserTest, ANewSessionKeepsThePolicyOfTheSettings)
{
    writeFile(dir / "page.html", "<html><body>file</body></html>");
    const std::string file = "file://" + (dir / "page.html").string();
    QSignalSpy refused(&browser, &KioskBrowser::navigationRefused);
    configure(server.baseUrl());
    browser.Navigate(file);
    ASSERT_TRUE(refused.wait(30000)) << "no file page unless the settings name one";

    configure("file:///demo/");
    browser.startNewSession();
    browser.Navigate(file);
    ASSERT_TRUE(loaded.wait(30000));
    EXPECT_EQ(loaded.last()[0].toUrl().toString().toStdString(), file);
    EXPECT_EQ(refused.size(), 1);
}

} // namespace
