#include "httpserver.h"
#include "kioskfixture.h"
#include "nginxserver.h"

#include <QSignalSpy>
#include <QWebEngineView>

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

} // namespace
