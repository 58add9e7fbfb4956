#include "httpserver.h"
#include "kioskfixture.h"
#include "kioskpage.h"

#include <QSignalSpy>
#include <QTest>
#include <QWebEngineView>

#include <csignal>
#include <memory>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The real browser engine loading from a real server: failures arrive as the engine reports them.
class Navigation : public KioskFixture
{
protected:
    std::unique_ptr<frmTesmora> startedOn(const std::string &startServer, const std::string &errorPage,
                                          int restartSeconds, const std::string &extraFailure = {})
    {
        writeSettings("[data]\r\nweb_server=" + startServer
                      + "\r\nstart_page=start.html\r\n"
                        "admin_page=admin.html\r\nshutdown_check_interval=600\r\n[failure]\r\ntime_restart_exe="
                      + std::to_string(restartSeconds) + "\r\nerror_page=" + errorPage + "\r\n" + extraFailure);
        auto w = makeWindow();
        w->Form_Load();
        return w;
    }

    static QString shownText(frmTesmora &w) { return evaluate(w, "document.body.innerText").toString(); }

    TestHttpServer server;
};

TEST_F(Navigation, AnUnreachableStartPageShowsTheErrorPageAndIsRetriedAfterTheCountdown)
{
    server.serve("/error.html", "<html><body>error page</body></html>", 200, "text/html");
    RefusingPort dead;
    const std::string deadServer = dead.baseUrl();
    auto w = startedOn(deadServer, server.baseUrl() + "error.html", 1);
    QSignalSpy requests(w.get(), &frmTesmora::navigationRequested);

    ASSERT_TRUE(requested(server, "/error.html", 1));
    EXPECT_EQ(status(*w), "Service pause");
    // One second later the countdown asks for the start page, which fails again.
    ASSERT_TRUE(requested(server, "/error.html", 2));
    ASSERT_GE(requests.count(), 3);
    EXPECT_EQ(requests[0][0].toString().toStdString(), server.baseUrl() + "error.html");
    EXPECT_EQ(requests[1][0].toString().toStdString(), deadServer + "start.html");
    EXPECT_EQ(requests[2][0].toString().toStdString(), server.baseUrl() + "error.html");
}

TEST_F(Navigation, AnHttpErrorStatusIsANavigationError)
{
    server.serve("/start.html", "<html><body>overloaded</body></html>", 503, "text/html");
    server.serve("/error.html", "<html><body>error page</body></html>", 200, "text/html");
    auto w = startedOn(server.baseUrl(), server.baseUrl() + "error.html", 600);
    ASSERT_TRUE(requested(server, "/error.html", 1));
    EXPECT_FALSE(control(*w, "lblPause")->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return status(*w) == "Service error 600"; }, 10000)) << "the countdown runs";
}

TEST_F(Navigation, AGoodPageRaisesNoError)
{
    server.serve("/start.html", "<html><body>fine</body></html>", 200, "text/html");
    auto w = startedOn(server.baseUrl(), server.baseUrl() + "error.html", 600);
    QSignalSpy loaded(browserView(*w), &QWebEngineView::loadFinished);
    ASSERT_TRUE(loaded.wait(30000));
    EXPECT_TRUE(loaded[0][0].toBool());
    QTest::qWait(300);
    EXPECT_EQ(server.requestCount("/error.html"), 0u);
    EXPECT_EQ(status(*w), "Service play");
}

TEST_F(Navigation, AnErrorPageThatCannotBeLoadedDoesNotLoop)
{
    // The error page answers 404 and the start page's server is gone.
    RefusingPort dead;
    const std::string deadServer = dead.baseUrl();
    auto w = startedOn(deadServer, server.baseUrl() + "missing-error.html", 600);
    QSignalSpy requests(w.get(), &frmTesmora::navigationRequested);
    ASSERT_TRUE(requested(server, "/missing-error.html", 1));
    QTest::qWait(2500);
    EXPECT_EQ(server.requestCount("/missing-error.html"), 1u);
    EXPECT_EQ(requests.count(), 1);
    EXPECT_TRUE(w->showsBuiltInErrorText());

    EXPECT_TRUE(
        QTest::qWaitFor([&] { return shownText(*w).contains("Servizio momentaneamente non disponibile"); }, 10000));
    EXPECT_TRUE(status(*w).startsWith("Service error")) << "the countdown runs";
}

TEST_F(Navigation, AMissingErrorFileDoesNotLoopEither)
{
    RefusingPort dead;
    const std::string deadServer = dead.baseUrl();
    auto w = startedOn(deadServer, "file://" + (dir / "no-such-error.html").string(), 600);
    QSignalSpy requests(w.get(), &frmTesmora::navigationRequested);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->showsBuiltInErrorText(); }, 30000));
    QTest::qWait(1500);
    EXPECT_EQ(requests.count(), 1) << "the error page was asked for once";
}

TEST_F(Navigation, ARendererThatDiesIsANavigationErrorAndTheStartPageComesBack)
{
    server.serve("/start.html", "<html><body>fine</body></html>", 200, "text/html");
    server.serve("/error.html", "<html><body>error page</body></html>", 200, "text/html");
    auto w = startedOn(server.baseUrl(), server.baseUrl() + "error.html", 1);
    QSignalSpy loaded(browserView(*w), &QWebEngineView::loadFinished);
    ASSERT_TRUE(loaded.wait(30000));
    const qint64 renderer = w->page()->renderProcessPid();
    ASSERT_GT(renderer, 0);
    ::kill(static_cast<pid_t>(renderer), SIGKILL);
    ASSERT_TRUE(requested(server, "/error.html", 1));

    // The countdown asks for the start page again, and a new renderer shows it.
    ASSERT_TRUE(requested(server, "/start.html", 2));
    const QUrl start(QString::fromStdString(server.baseUrl() + "start.html"));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return browserView(*w)->url() == start && !loaded.isEmpty() && loaded.last()[0].toBool()
                && shownText(*w).contains("fine");
        },
        30000));
    EXPECT_GT(w->page()->renderProcessPid(), 0);
    EXPECT_NE(w->page()->renderProcessPid(), renderer);
}

TEST_F(Navigation, AfterEachOfThreeOutagesTheStartPageIsBackWithinTheCountdownAndItsLoad)
{
    using Clock = std::chrono::steady_clock;
    constexpr int restartSeconds = 2;
    // Timer ticks and event delivery on a busy machine; far below a countdown period.
    constexpr auto slack = 1500ms;

    // The start page reloads itself every second, as a service's status screen does, so the
    // kiosk meets each outage without anyone touching it. The error page lies elsewhere.
    const std::string startPage = "<html><head><meta http-equiv=\"refresh\" content=\"1\"></head>"
                                  "<body>start</body></html>";
    auto service = std::make_unique<TestHttpServer>();
    const int port = service->port();
    const std::string base = service->baseUrl();
    service->serve("/start.html", startPage, 200, "text/html");
    server.serve("/error.html", "<html><body>error page</body></html>", 200, "text/html");

    auto w = startedOn(base, server.baseUrl() + "error.html", restartSeconds);
    const QUrl start(QString::fromStdString(base + "start.html"));
    std::vector<Clock::time_point> startRequested;
    std::vector<Clock::time_point> startShown;
    QObject::connect(w.get(), &frmTesmora::navigationRequested, [&](const QString &address) {
        if (QUrl(address) == start)
            startRequested.push_back(Clock::now());
    });
    QObject::connect(browserView(*w), &QWebEngineView::loadFinished, [&](bool ok) {
        if (ok && browserView(*w)->url() == start)
            startShown.push_back(Clock::now());
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !startShown.empty(); }, 30000));

    for (int outage = 1; outage <= 3; ++outage) {
        SCOPED_TRACE("outage " + std::to_string(outage));
        service.reset();
        // The kiosk notices at the next reload, shows the error page, and its retry fails too.
        const size_t errorsBefore = server.requestCount("/error.html");
        ASSERT_TRUE(requested(server, "/error.html", errorsBefore + 2));

        service = std::make_unique<TestHttpServer>(port);
        service->serve("/start.html", startPage, 200, "text/html");
        const auto back = Clock::now();
        const size_t shownBefore = startShown.size();
        ASSERT_TRUE(QTest::qWaitFor([&] { return startShown.size() > shownBefore; }, 30000));

        // The retry that succeeded, and how long its page took to load.
        const auto shown = startShown[shownBefore];
        Clock::time_point retried{};
        for (const auto t : startRequested) {
            if (t <= shown)
                retried = t;
        }
        const auto loadTime = shown - retried;
        EXPECT_LE(shown - back, std::chrono::seconds(restartSeconds) + loadTime + slack)
            << "back after " << std::chrono::duration_cast<std::chrono::milliseconds>(shown - back).count()
            << " ms, of which the load took " << std::chrono::duration_cast<std::chrono::milliseconds>(loadTime).count()
            << " ms";
        EXPECT_GE(retried, back - slack) << "the page came back through the countdown's retry";
    }
}

} // namespace
