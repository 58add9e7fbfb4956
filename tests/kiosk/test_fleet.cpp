#include "httpserver.h"
#include "kioskfixture.h"
#include "platform.h"
#include "updaterules.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QWebEngineView>

namespace {

using namespace std::chrono_literals;

class Fleet : public KioskFixture
{
protected:
    std::unique_ptr<frmTesmora> started(const std::string &servers, const std::string &extraData,
                                        const std::string &extraFailure, const std::string &errorPage)
    {
        writeSettings("[data]\r\n" + extraData + "web_server=" + servers + "\r\nstart_page=start.html\r\n"
                      "admin_page=admin.html\r\nshutdown_check_interval=600\r\n[failure]\r\n" + extraFailure
                      + "error_page=" + errorPage + "\r\n");
        auto w = makeWindow();
        w->Form_Load();
        return w;
    }

    // The test gives the seconds: the timer keeps its switch but no longer fires by itself.
    static void byHand(FormTimer *timer)
    {
        timer->stop();
        timer->setInterval(0);
    }

    static bool waitForLoad(frmTesmora &w, const std::string &address)
    {
        return QTest::qWaitFor([&] { return w.WebBrowser->url() == QUrl(QString::fromStdString(address)) && !w.page()->isLoading(); },
                               30000);
    }

    static size_t serverChecks(const TestHttpServer &server)
    {
        size_t n = 0;
        for (const auto &r : server.requests())
            n += r.userAgent.starts_with("tesmora/");
        return n;
    }

    std::vector<std::string> logLines() const { return readCrLfLines(dir / ("tesmora." + monthStamp(clock.localNow()) + ".log")); }
};

TEST_F(Fleet, FailoverMovesToTheNextEntryAtTheEndOfEachCountdownAndTheButtonsFollow)
{
    auto w = started("http://a.invalid/, http://b.invalid/", {}, "failover=1\r\ngeturl_failure_limit=2\r\n",
                     "file:///error.html");
    for (const char *expected : {"b", "a", "b", "a"}) {
        w->WebBrowser_NavigateError(QUrl(w->lastRequestedAddress()), 0, {});
        w->tmrRestartApp_Timer();
        EXPECT_EQ(w->lastRequestedAddress().toStdString(), "http://" + std::string(expected) + ".invalid/start.html");
    }
    EXPECT_EQ(w->ServerIndex, 0) << "after the last of a, b, a, b comes the first";
    w->WebBrowser_NavigateError(QUrl(), 0, {});
    w->tmrRestartApp_Timer();
    w->cmdAdminPannel_Click();
    EXPECT_EQ(w->lastRequestedAddress(), "http://b.invalid/admin.html");
    const auto line = [](const char *s) { return "Passaggio al server http://" + std::string(s) + ".invalid/"; };
    EXPECT_EQ(logLines(), (std::vector<std::string>{line("b"), line("a"), line("b"), line("a"), line("b")}));
}

TEST_F(Fleet, TheWatchFindsAServerThatStoppedAnsweringAndFailbackReturnsWhenTheFirstAnswersBelow400)
{
    auto first = std::make_unique<TestHttpServer>();
    const int port = first->port();
    const std::string firstStart = first->baseUrl() + "start.html";
    TestHttpServer backup;
    first->serve("/start.html", "<html><body>first</body></html>", 200, "text/html");
    backup.serve("/start.html", "<html><body>backup</body></html>", 200, "text/html");
    backup.serve("/error.html", "<html><body>error</body></html>", 200, "text/html");
    auto w = started(first->baseUrl() + ", " + backup.baseUrl(), {},
                     "failover=1\r\nfailback_interval=3\r\nwatch_interval=5\r\nload_timeout=2\r\ntime_restart_exe=1\r\n",
                     backup.baseUrl() + "error.html");
    byHand(w->tmrTestWebServer);
    byHand(w->tmrRestartApp);
    ASSERT_TRUE(waitForLoad(*w, firstStart));

    // The page stays on the screen while its server takes questions and answers none.
    first.reset();
    first = std::make_unique<TestHttpServer>(port);
    first->serveNoAnswer("/start.html");
    for (int second = 1; second <= 5; ++second)
        w->tmrTestWebServer_Timer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverChecks(*first) == 1; }, 10000));
    w->tmrTestWebServer_Timer();
    w->tmrTestWebServer_Timer();
    EXPECT_EQ(w->lastRequestedAddress().toStdString(), firstStart) << "the check waits load_timeout seconds";
    w->tmrTestWebServer_Timer();
    EXPECT_EQ(w->lastRequestedAddress().toStdString(), backup.baseUrl() + "error.html");
    EXPECT_TRUE(w->tmrRestartApp->isEnabled());

    w->tmrRestartApp_Timer();
    ASSERT_TRUE(waitForLoad(*w, backup.baseUrl() + "start.html"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w->lblStatus->text() == "Service play"; }, 5000))
        << "a page loaded again brings the status back to play, where the checks run";

    first.reset();
    first = std::make_unique<TestHttpServer>(port);
    first->serve("/start.html", "<html><body>first</body></html>", 503, "text/html");
    for (int second = 1; second <= 3; ++second)
        w->tmrTestWebServer_Timer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return serverChecks(*first) == 1; }, 10000));
    QTest::qWait(300);
    EXPECT_EQ(w->ServerIndex, 1) << "503 is no answer to return for";
    first->serve("/start.html", "<html><body>first</body></html>", 200, "text/html");
    for (int second = 1; second <= 3; ++second)
        w->tmrTestWebServer_Timer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->ServerIndex == 0; }, 10000));
    EXPECT_TRUE(waitForLoad(*w, firstStart));
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Passaggio al server " + backup.baseUrl(),
                                                    "Ritorno al primo server " + first->baseUrl()}));
}

TEST_F(Fleet, AnIdleResetEmptiesTheSessionOnlyAfterAVisitorAndNeverWhileThePanelOrACountdownRuns)
{
    TestHttpServer server;
    server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
    auto w = started(server.baseUrl(), "idle_reset=3\r\n", "time_restart_exe=600\r\n", server.baseUrl() + "error.html");
    byHand(w->tmrIdleReset);
    byHand(w->tmrRestartApp);
    ASSERT_TRUE(waitForLoad(*w, server.baseUrl() + "start.html"));
    const QString session = "document.cookie + '|' + localStorage.getItem('v') + '|' + sessionStorage.getItem('v')";
    evaluate(*w, "document.cookie = 'v=1; max-age=3600'; localStorage.setItem('v', '1'); sessionStorage.setItem('v', '1')");
    ASSERT_EQ(evaluate(*w, session).toString(), "v=1|1|1");
    const auto ticks = [&](int n) {
        for (int i = 0; i < n; ++i)
            w->tmrIdleReset_Timer();
    };
    ticks(10);
    EXPECT_TRUE(logLines().empty()) << "nobody has touched the screen";

    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(w->WebBrowser->focusProxy(), &key);
    ticks(2);
    w->pitAdmin->show();
    ticks(5);
    w->pitAdmin->hide();
    w->tmrRestartApp->setEnabled(true);
    ticks(5);
    w->tmrRestartApp->setEnabled(false);
    ticks(2);
    EXPECT_TRUE(logLines().empty());
    QSignalSpy requests(w.get(), &frmTesmora::navigationRequested);
    ticks(1);
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Sessione azzerata dopo 3 secondi di inattività"}));
    ASSERT_EQ(requests.count(), 1);
    ASSERT_TRUE(waitForLoad(*w, server.baseUrl() + "start.html"));
    EXPECT_EQ(evaluate(*w, session).toString(), "|null|null");
    ticks(10);
    EXPECT_EQ(logLines().size(), 1u) << "one reset per visitor";
}

TEST_F(Fleet, TheAllowListRefusesOtherHostsOnceAMinuteInTheLogAndAllowsTheServers)
{
    TestHttpServer server;
    const std::string outside = "http://localhost:" + std::to_string(server.port()) + "/other.html";
    server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
    server.serve("/other.html", "<html><body>other</body></html>", 200, "text/html");
    server.serveRedirect("/moved", outside);
    auto w = started(server.baseUrl(), "allowed_hosts=*.example.org, https://pay.example.org\r\n", {},
                     "file:///error.html");
    ASSERT_TRUE(waitForLoad(*w, server.baseUrl() + "start.html"));
    const std::string refused = "Navigazione rifiutata verso localhost: non in allowed_hosts";
    evaluate(*w, QString::fromStdString("location.href = '" + outside + "'"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return logLines().size() == 2; }, 10000));
    // A server's redirect is refused before the browser asks the other host.
    evaluate(*w, "location.href = '/moved'");
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requestCount("/moved") == 1; }, 10000));
    QTest::qWait(500);
    clock.advance(61s);
    evaluate(*w, QString::fromStdString("location.href = '" + outside + "'"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return logLines().size() == 3; }, 10000));
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Voce non valida in allowed_hosts: 'https://pay.example.org'",
                                                    refused, refused}));
    EXPECT_EQ(server.requestCount("/other.html"), 0u);
    EXPECT_EQ(w->WebBrowser->url().toString().toStdString(), server.baseUrl() + "start.html");

    evaluate(*w, "location.href = '/other.html'");
    EXPECT_TRUE(waitForLoad(*w, server.baseUrl() + "other.html")) << "the server's own host";
}

TEST_F(Fleet, MetricsAndTheEventLogFollowErrorsRecoveryStatusAndTheUpdaterLaunch)
{
    auto w = started("http://kiosk.invalid/", "metrics_file=metrics/kiosk.prom\r\nlog_events=1\r\nupdate_start=9:0\r\n",
                     {}, "file:///error.html");
    const std::string failure = "Impossibile scrivere metrics_file '" + (dir / "metrics/kiosk.prom").string()
        + "' (76) Path not found";
    for (int i = 0; i < 3; ++i)
        w->tmrMetrics_Timer();
    std::filesystem::create_directory(dir / "metrics");
    const QUrl start("http://kiosk.invalid/start.html");
    for (int countdown = 0; countdown < 2; ++countdown) {
        w->WebBrowser_NavigateError(start, 503, "Service Unavailable");
        w->WebBrowser_NavigateError(start, 503, "Service Unavailable");
        w->tmrRestartApp_Timer();
    }
    clock.advance(5s);
    w->WebBrowser_DocumentComplete(start);
    w->tmrUpdate_Timer();
    clock.advance(60s);
    w->tmrUpdate_Timer();

    const std::string error = "Errore di navigazione: http://kiosk.invalid/start.html (503) Service Unavailable";
    const std::string at0 = "07/12/2026 09:00:00 - ", at5 = "07/12/2026 09:00:05 - ", at65 = "07/12/2026 09:01:05 - ";
    EXPECT_EQ(logLines(), (std::vector<std::string>{at0 + "Stato del servizio: play", at0 + failure, at0 + error,
                                                    at0 + "Stato del servizio: error", at0 + error,
                                                    at5 + "Pagina di nuovo caricata: http://kiosk.invalid/start.html",
                                                    at5 + "Stato del servizio: play", at65 + "Avvio di tesmoraUpdate",
                                                    at65 + "Errore nell'avvio di tesmoraUpdate"}));
    const std::string loaded = std::to_string(std::chrono::system_clock::to_time_t(clock.now()) - 60);
    const std::string metrics = readFile(dir / "metrics/kiosk.prom");
    for (const std::string &sample : std::vector<std::string>{"\ntesmora_kiosk_status 2\n", "\ntesmora_kiosk_navigation_errors_total 4\n",
          "\ntesmora_kiosk_last_page_loaded_timestamp_seconds " + loaded + "\n",
          "\ntesmora_kiosk_server{index=\"0\",url=\"http://kiosk.invalid/\"} 1\n",
          "\ntesmora_kiosk_info{version=\"" TESMORA_VERSION_TEXT "\"} 1\n", "# TYPE tesmora_kiosk_navigation_errors_total counter\n"})
        EXPECT_NE(metrics.find(sample), std::string::npos) << sample << " in\n" << metrics;
}

TEST_F(Fleet, ASpreadLaunchesTheUpdaterItsOwnDelayAfterTheUsualMinute)
{
    auto w = started("http://kiosk.invalid/", "update_start=7:5\r\nupdate_spread=2\r\n", {}, "file:///error.html");
    const int delay = updateSpreadSeconds(platform::machineIdentity(), 2);
    clock.setLocal({2026, 12, 7, 7, 5, 0});
    w->tmrUpdate_Timer();
    clock.setLocal({2026, 12, 7, 7, 6, 0});
    w->tmrUpdate_Timer();
    EXPECT_EQ(w->tmrUpdate->interval(), 1000);
    for (int s = 1; s <= delay; ++s) {
        ASSERT_TRUE(logLines().empty()) << s;
        clock.setLocal({2026, 12, 7, 7, 6, s});
        w->tmrUpdate_Timer();
    }
    EXPECT_EQ(logLines(), (std::vector<std::string>{"Avvio di tesmoraUpdate con un ritardo di " + std::to_string(delay) + " secondi",
                                                    "Errore nell'avvio di tesmoraUpdate"}));
}

} // namespace
