#include "httpserver.h"
#include "kioskfixture.h"
#include "pagedialog.h"

#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QWebEngineView>

#include <algorithm>

namespace {

using namespace std::chrono_literals;

// The fleet settings in the whole window, its timers running, its pages from real servers.
class Fleet : public KioskFixture
{
protected:
    std::unique_ptr<frmTesmora> started(const std::string &servers, const std::string &extraData,
                                        const std::string &extraFailure = {})
    {
        writeSettings("[data]\r\n" + extraData + "web_server=" + servers
                      + "\r\nstart_page=start.html\r\nadmin_page=admin.html\r\n"
                        "shutdown_check_interval=600\r\n[failure]\r\n"
                      + extraFailure + "error_page=file:///error.html\r\n");
        auto w = makeWindow();
        w->Form_Load();
        return w;
    }

    static bool loaded(frmTesmora &w, const std::string &address)
    {
        return QTest::qWaitFor(
            [&] { return browserView(w)->url().toString().toStdString() == address && !w.page()->isLoading(); }, 30000);
    }
};

TEST_F(Fleet, AnIdleResetEmptiesTheSessionEvenWhileThePageKeepsAskingQuestions)
{
    TestHttpServer server;
    server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
    auto w = started(server.baseUrl(), "idle_reset=2\r\n");
    ASSERT_TRUE(loaded(*w, server.baseUrl() + "start.html"));
    const QString session = "document.cookie + '|' + localStorage.getItem('v') + '|' + sessionStorage.getItem('v')";
    evaluate(*w,
             "document.cookie = 'v=1; max-age=3600'; localStorage.setItem('v', '1'); sessionStorage.setItem('v', '1')");
    ASSERT_EQ(evaluate(*w, session).toString(), "v=1|1|1");

    // A visitor's key, then a page that asks again as soon as it is answered.
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(browserView(*w)->focusProxy(), &key);
    evaluate(*w, "setTimeout(() => { for (;;) alert('Sessione in scadenza'); }, 0)");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !kioskLog().empty(); }, 20000));
    EXPECT_EQ(kioskLog(), "Sessione azzerata dopo 2 secondi di inattività\r\n");
    EXPECT_EQ(w->pageDialog()->message->text(), "Sessione in scadenza") << "the page was asking";
    ASSERT_TRUE(loaded(*w, server.baseUrl() + "start.html"));
    EXPECT_EQ(evaluate(*w, session).toString(), "|null|null");
}

TEST_F(Fleet, TheAllowListRefusesLinksAndRedirectsToOtherHostsAndLogsItsUnusableEntries)
{
    TestHttpServer server;
    const std::string outside = "http://localhost:" + std::to_string(server.port()) + "/other.html";
    server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
    server.serve("/other.html", "<html><body>other</body></html>", 200, "text/html");
    server.serveRedirect("/moved", outside);
    // 256 characters: the last entry, cut to "*.bank.co", would allow another domain.
    const std::string list = "*.example.org, https://pay.example.org, " + std::string(200, 'x') + ".net, *.bank.com";
    auto w = started(server.baseUrl(), "allowed_hosts=" + list + "\r\n");
    ASSERT_TRUE(loaded(*w, server.baseUrl() + "start.html"));
    const std::string bad = "Voce troncata in allowed_hosts (oltre 255 caratteri): '*.bank.co'\r\n"
                            "Voce non valida in allowed_hosts: 'https://pay.example.org'\r\n";
    const std::string refused = "Navigazione rifiutata verso localhost: non in allowed_hosts\r\n";
    const auto go = [&](const std::string &address) {
        evaluate(*w, QString::fromStdString("location.href = '" + address + "'"));
    };
    QSignalSpy refusals(w->page(), &KioskPage::navigationRefused);
    go(outside);
    ASSERT_TRUE(QTest::qWaitFor([&] { return kioskLog() == bad + refused; }, 10000));
    go("/moved"); // refused before the other host is asked, and within the minute
    ASSERT_TRUE(QTest::qWaitFor([&] { return refusals.size() == 2; }, 10000));
    EXPECT_EQ(server.requestCount("/moved"), 1u);
    clock.advance(61s);
    w->page()->load(QUrl(QString::fromStdString("blob:" + outside))); // a document a frame of that host made
    ASSERT_TRUE(QTest::qWaitFor([&] { return kioskLog() == bad + refused + refused; }, 10000));
    EXPECT_EQ(server.requestCount("/other.html"), 0u);
    EXPECT_EQ(evaluate(*w, "location.href").toString().toStdString(), server.baseUrl() + "start.html");
}

TEST_F(Fleet, TheWatchSeesTheOutageFailoverMovesOnAndFailbackComesBackWhenTheFirstAnswersAgain)
{
    // A page that never reloads itself: only the watch can see its server go.
    auto first = std::make_unique<TestHttpServer>();
    const int port = first->port();
    const std::string firstBase = first->baseUrl();
    first->serve("/start.html", "<html><body>first</body></html>", 200, "text/html");
    TestHttpServer second;
    second.serve("/start.html", "<html><body>second</body></html>", 200, "text/html");
    auto w = started(firstBase + ", " + second.baseUrl(), "",
                     "failover=1\r\nfailback_interval=1\r\nwatch_interval=5\r\ntime_restart_exe=1\r\n");
    ASSERT_TRUE(loaded(*w, firstBase + "start.html"));
    first.reset();
    ASSERT_TRUE(requested(second, "/start.html")) << kioskLog();
    ASSERT_TRUE(loaded(*w, second.baseUrl() + "start.html"));

    first = std::make_unique<TestHttpServer>(port);
    first->serve("/start.html", "<html><body>first again</body></html>", 200, "text/html");
    ASSERT_TRUE(loaded(*w, firstBase + "start.html")) << kioskLog();
    EXPECT_EQ(kioskLog(),
              "Passaggio al server " + second.baseUrl() + "\r\nRitorno al primo server " + firstBase + "\r\n");
    EXPECT_EQ(first->requests().at(0).userAgent, "tesmora/1.0.1 (server check)") << "the check, then the page";
    EXPECT_EQ(status(*w), "Service play");
}

} // namespace
