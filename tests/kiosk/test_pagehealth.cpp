#include "httpserver.h"
#include "kioskfixture.h"
#include "nginxserver.h"

#include <QImage>
#include <QSignalSpy>
#include <QWebEngineView>

#include <atomic>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The whole window, its timers running, its pages from real servers: is what it reports, and
// what it shows, true of the page?
class PageHealth : public KioskFixture
{
protected:
    std::unique_ptr<frmTesmora> shown(const std::string &settings)
    {
        writeSettings(settings);
        auto w = makeWindow();
        w->Form_Load();
        // Only a shown view draws the page.
        w->show();
        return w;
    }
    static bool loaded(frmTesmora &w, const std::string &address, int ms = 30000)
    {
        return QTest::qWaitFor(
            [&] { return browserView(w)->url().toString().toStdString() == address && !w.page()->isLoading(); }, ms);
    }
    bool logged(const std::string &line) const { return kioskLog().find(line + "\r\n") != std::string::npos; }
};

TEST_F(PageHealth, AfterAnErrorOnlyThePageTheServerSendsCountsAsRecovered)
{
    // nginx's default headers for a file ten days old let a browser keep it for a day.
    TempFolder site;
    writeFile(site / "start.html", "<html><body>start</body></html>");
    std::filesystem::last_write_time(site / "start.html", std::filesystem::file_time_type::clock::now() - 240h);
    NginxServer nginx(site.path());
    const std::string start = nginx.baseUrl() + "start.html";
    auto w = shown(settingsFor(nginx.baseUrl(), "log_events=1\r\nmetrics_file=metrics.prom\r\n",
                               "watch_interval=5\r\ntime_restart_exe=2\r\n"));
    ASSERT_TRUE(loaded(*w, start));
    QSignalSpy asked(w.get(), &frmTesmora::navigationRequested);
    const auto retries = [&] {
        return std::count_if(asked.begin(), asked.end(),
                             [&](const QList<QVariant> &a) { return a[0].toString().toStdString() == start; });
    };

    nginx.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return retries() >= 3; }, 40000)) << kioskLog();
    EXPECT_FALSE(logged("Pagina di nuovo caricata: " + start)) << kioskLog();
    EXPECT_NE(readFile(dir / "metrics.prom").find("\ntesmora_kiosk_status 4\n"), std::string::npos);

    nginx.restart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return logged("Pagina di nuovo caricata: " + start); }, 10000)) << kioskLog();
    EXPECT_EQ(status(*w), "Service play");
    EXPECT_GE(nginx.requestCount("/start.html"), 2u);
}

TEST_F(PageHealth, TheWatchdogLoadsABlankPageAgainAndGivesAHungOneAFreshRenderer)
{
    TestHttpServer server;
    server.serve("/start.html",
                 "<html><body style='margin:0;background:#fff'><h1 style='background:#c00'>Orari</h1>"
                 "<script>setTimeout(() => { document.body.innerHTML = '' }, 5000)</script></body></html>",
                 200, "text/html");
    server.serve("/hung.html",
                 "<html><body><h1>Orari</h1><script>setTimeout(() => { while (true) {} }, 1000)</script></body></html>",
                 200, "text/html");
    server.serve("/error.html", "<html><body>Servizio non disponibile</body></html>", 200, "text/html");
    const std::string base = server.baseUrl();
    auto w = shown(settingsFor(base, "", "page_check_interval=5\r\ntime_restart_exe=1\r\n"));
    ASSERT_TRUE(loaded(*w, base + "start.html"));

    ASSERT_TRUE(requested(server, "/start.html", 2, 40000)) << kioskLog();
    EXPECT_TRUE(logged("Pagina vuota da 3 controlli: " + base + "start.html")) << kioskLog();

    ASSERT_TRUE(loaded(*w, base + "start.html"));
    evaluate(*w, "location.href = 'hung.html'");
    ASSERT_TRUE(loaded(*w, base + "hung.html"));
    const qint64 hungRenderer = w->page()->renderProcessPid();
    ASSERT_TRUE(requested(server, "/start.html", 3, 40000)) << kioskLog();
    EXPECT_TRUE(logged("Pagina bloccata da 3 controlli, renderer terminato: " + base + "hung.html")) << kioskLog();
    ASSERT_TRUE(loaded(*w, base + "start.html"));
    EXPECT_NE(w->page()->renderProcessPid(), hungRenderer);
    EXPECT_EQ(evaluate(*w, "document.querySelector('h1').textContent").toString(), "Orari");
}

TEST_F(PageHealth, ThePictureOfTheScreenShowsThePageAndIsNeverReadHalfWritten)
{
    TestHttpServer server;
    server.serve("/start.html",
                 "<html><body style='margin:0'><div style='height:50vh;background:#00a000'></div></body></html>", 200,
                 "text/html");
    auto w = shown(settingsFor(server.baseUrl(), "screenshot_file=screen.png\r\nscreenshot_interval=5\r\n"));
    clock.advance(10min); // nobody has touched the screen since
    const QString file = QString::fromStdString((dir / "screen.png").string());
    const auto upperQuarter = [&] {
        const QImage picture(file);
        return picture.isNull() ? QColor() : picture.pixelColor(picture.width() / 2, picture.height() / 4);
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return upperQuarter() == QColor(0, 0xa0, 0); }, 15000));

    // A reader on a desk, while the kiosk replaces the picture.
    std::atomic<int> reads = 0, broken = 0;
    std::thread reader([&] {
        for (; reads < 200; ++reads) {
            if (QImage::fromData(QByteArray::fromStdString(readFile(dir / "screen.png"))).isNull())
                ++broken;
            std::this_thread::sleep_for(40ms);
        }
    });
    const bool done = QTest::qWaitFor([&] { return reads == 200; }, 20000);
    reader.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(broken, 0);
}

TEST_F(PageHealth, TheKioskTouchesItsLockFileAndLeavesItsLineAsItIs)
{
    TestHttpServer server;
    server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
    auto w = shown(settingsFor(server.baseUrl()));
    const auto lock = dir / "tesmora.lck";
    const std::string line = readFile(lock);
    const auto old = std::filesystem::file_time_type::clock::now() - 1h;
    std::filesystem::last_write_time(lock, old);
    EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::last_write_time(lock) > old + 59min; }, 5000));
    EXPECT_EQ(readFile(lock), line);
}

} // namespace
