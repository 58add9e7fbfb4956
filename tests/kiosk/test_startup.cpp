#include "httpserver.h"
#include "kioskfixture.h"
#include "layout.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <functional>

namespace {

using StartUp = KioskFixture;

// Confirms the next message box that opens, keeping its title and text; whileShown runs first.
struct MessageBoxWatcher
{
    QString title;
    QString text;
    bool seen = false;
    std::function<void()> whileShown = [] {};

    void arm()
    {
        QTimer::singleShot(50, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box) {
                arm();
                return;
            }
            seen = true;
            whileShown();
            title = box->windowTitle();
            text = box->text();
            box->button(QMessageBox::Ok)->click();
        });
    }
};

TEST_F(StartUp, AsksForTheStartPageOfTheFirstServerAndEndsInPlayWithItsControlsLaidOutOnTheScreen)
{
    TestHttpServer server;
    server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
    writeSettings(settingsFor(server.baseUrl() + " , http://second.invalid/", "geturl_interval=10\r\n"));

    auto w = makeWindow();
    w->Form_Load();
    EXPECT_EQ(w->lastRequestedAddress().toStdString(), server.baseUrl() + "start.html");
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.requestCount("/start.html") > 0; }, 20000));

    EXPECT_EQ(status(*w), "Service play");
    EXPECT_FALSE(control(*w, "lblPlay")->isEnabled());
    EXPECT_TRUE(control(*w, "lblPause")->isEnabled());
    EXPECT_TRUE(control(*w, "lblStop")->isEnabled());
    for (const char *on : {"tmrUpdate", "tmrShutdown", "tmrTestWebServer", "tmrLoadTimeout"})
        EXPECT_TRUE(timer(*w, on)->isEnabled()) << on;
    for (const char *off : {"tmrRestartApp", "tmrRefreshPage", "tmrOpenAdmin", "tmrIdleReset", "tmrMetrics"})
        EXPECT_FALSE(timer(*w, off)->isEnabled()) << off;
    EXPECT_FALSE(timer(*w, "tmrUnloadAdmin")->isEnabled()) << "play switches the panel's hide timer off";
    EXPECT_FALSE(timer(*w, "tmrTestWebServer")->isActive()) << "interval 0: on, but never fires";
    EXPECT_TRUE(control(*w, "pitAdmin")->isHidden());
    EXPECT_EQ(readCrLfLines(dir / "tesmora.lck"), (std::vector<std::string>{"07/12/2026 09:00:00"}));
    EXPECT_EQ(immediateEnds, 0);

    EXPECT_EQ(w->windowTitle(), "Tesmora");
    EXPECT_EQ(control<QLabel>(*w, "pitAdmin")->pixmap().size(), QSize(330, 119));
    EXPECT_EQ(w->windowIcon().availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));
    EXPECT_TRUE(w->windowFlags() & Qt::FramelessWindowHint);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const KioskLayout l = layoutForScreen(screen.width() * TwipsPerPixel, screen.height() * TwipsPerPixel);
    EXPECT_EQ(w->geometry(), toPixels(l.window).translated(screen.topLeft()));
    const std::pair<const char *, TwipsRect> places[] = {
        {"WebBrowser", l.WebBrowser},         {"cmdTesmora", l.cmdTesmora}, {"cmdAdminPannel", l.cmdAdminPannel},
        {"cmdLogOut", l.cmdLogOut},           {"cmdClose", l.cmdClose},     {"pitAdmin", l.pitAdmin},
        {"lblButton1", l.lblButton1},         {"lblButton2", l.lblButton2}, {"shpBase", l.shpBase},
        {"shpRiempimento", l.shpRiempimento}, {"lblStatus", l.lblStatus},   {"ptcStop", l.ptcStop},
        {"ptcRefresh", l.ptcRefresh}};
    for (const auto &[name, place] : places)
        EXPECT_EQ(control(*w, name)->geometry(), toPixels(place)) << name;
}

TEST_F(StartUp, MissingSettingsFileShowsTheMessageLogsAndEndsKeepingTheLockFile)
{
    writeFile(dir / "tesmora.lck", "06/12/2026 08:00:00\r\n");
    auto w = makeWindow();
    MessageBoxWatcher box;
    bool ticking = false;
    box.whileShown = [&] {
        for (const QTimer *t : w->findChildren<QTimer *>(Qt::FindDirectChildrenOnly))
            ticking = ticking || t->isActive();
    };
    box.arm();
    w->Form_Load();

    ASSERT_TRUE(box.seen);
    EXPECT_FALSE(ticking) << "nothing ticks while the message waits";
    EXPECT_EQ(box.title, "Tesmora");
    EXPECT_EQ(box.text.toStdString(), "File di configurazione mancante:\r\n" + (dir / "tesmora.ini").string());
    EXPECT_EQ(kioskLog(), "File di configurazione mancante: impossibile avviare applicazione.\r\n");
    EXPECT_EQ(immediateEnds, 1);
    EXPECT_TRUE(w->lastRequestedAddress().isEmpty()) << "nothing is loaded";
    EXPECT_EQ(readCrLfLines(dir / "tesmora.lck"),
              (std::vector<std::string>{"06/12/2026 08:00:00", "07/12/2026 09:00:00"}));
}

TEST_F(StartUp, ASecondInstanceEndsAtOnceTouchingNothing)
{
    writeSettings(settingsFor("http://127.0.0.1:9/"));
    auto first = makeWindow();
    first->Form_Load();
    const std::string lockBefore = readFile(dir / "tesmora.lck");

    auto second = makeWindow();
    second->Form_Load();
    EXPECT_EQ(immediateEnds, 1);
    EXPECT_TRUE(second->lastRequestedAddress().isEmpty());
    EXPECT_EQ(readFile(dir / "tesmora.lck"), lockBefore);
    EXPECT_FALSE(std::filesystem::exists(dir / ("tesmora." + monthStamp(clock.localNow()) + ".log")));

    // Once the first one is gone, a new start runs.
    first.reset();
    auto third = makeWindow();
    third->Form_Load();
    EXPECT_EQ(immediateEnds, 1);
    EXPECT_EQ(readCrLfLines(dir / "tesmora.lck").size(), 2u);
}

TEST_F(StartUp, UnloadDeletesTheLockAndRequestFilesAndEnds)
{
    writeSettings(settingsFor("http://127.0.0.1:9/"));
    auto w = makeWindow();
    w->Form_Load();
    writeFile(dir / "Shutdown.txt", "07/12/2026 09:00:01\r\n");
    w->close();
    EXPECT_EQ(immediateEnds, 1);
    EXPECT_FALSE(std::filesystem::exists(dir / "tesmora.lck"));
    EXPECT_FALSE(std::filesystem::exists(dir / "Shutdown.txt"));

    // Nothing to delete is no error, and an orderly end followed by a start leaves one line.
    auto again = makeWindow();
    again->Form_Load();
    again->close();
    EXPECT_EQ(immediateEnds, 2);
    auto third = makeWindow();
    third->Form_Load();
    EXPECT_EQ(readCrLfLines(dir / "tesmora.lck").size(), 1u);
}

TEST_F(StartUp, ARequestFileEndsItTheOrderlyWayAtTheNextLook)
{
    writeSettings(settingsFor("http://127.0.0.1:9/", "shutdown_check_interval=1\r\n"));
    auto w = makeWindow();
    w->Form_Load();
    writeFile(dir / "Shutdown.txt", "07/12/2026 09:00:00\r\n");
    ASSERT_TRUE(QTest::qWaitFor([&] { return immediateEnds == 1; }, 10000)) << "a look every second";
    EXPECT_FALSE(std::filesystem::exists(dir / "tesmora.lck"));
    EXPECT_FALSE(std::filesystem::exists(dir / "Shutdown.txt"));
}

TEST_F(StartUp, SigintAndSighupEndItLikeTheStopControl)
{
    // A look for the request so rare that only the signal can end it here.
    writeSettings(settingsFor("http://127.0.0.1:9/", "shutdown_check_interval=600\r\n"));
    for (const int signal : {SIGINT, SIGHUP}) {
        auto w = makeWindow();
        w->Form_Load();
        writeFile(dir / "Shutdown.txt", "07/12/2026 09:00:01\r\n");
        ::raise(signal);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !std::filesystem::exists(dir / "tesmora.lck"); }, 10000)) << signal;
        EXPECT_FALSE(std::filesystem::exists(dir / "Shutdown.txt")) << signal;
    }
    EXPECT_EQ(immediateEnds, 2);
}

} // namespace
