#include "formtimer.h"
#include "inputwatch.h"
#include "kioskfixture.h"
#include "pagewatchdog.h"

#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>

namespace {

using namespace std::chrono_literals;

// A page that answers, draws and uses memory as the test says, and notes what is done to it.
class TestPage final : public WatchedPage
{
public:
    void askScript(std::function<void()> answered) override { questions.push_back(std::move(answered)); }
    QImage picture() const override
    {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::white);
        if (drawn)
            image.setPixel(10, 10, qRgb(0, 0, 0));
        return image;
    }
    bool loading() const override { return isLoading; }
    QUrl address() const override { return QUrl(QStringLiteral("http://kiosk.invalid/start.html")); }
    std::optional<long> rendererMemoryKiB() const override { return memoryKiB; }
    long rendererPid() const override { return pid; }
    void endRenderer(std::function<void()> then) override { ends.push_back(std::move(then)); }
    void reloadFromServer() override { ++reloads; }

    std::vector<std::function<void()>> questions;
    bool drawn = true;
    bool isLoading = false;
    std::optional<long> memoryKiB;
    long pid = 100;
    std::vector<std::function<void()>> ends;
    int reloads = 0;
};

class PageWatchdogTest : public RuleFixture
{
protected:
    void start(const std::string &failure)
    {
        watchdog.configure(readSettings("", failure));
        watchdog.pageLoaded();
    }
    // Seconds pass; a page that answers answers at each.
    void seconds(int n, bool answering = true)
    {
        for (int i = 0; i < n; ++i) {
            clock.advance(1s);
            watchdog.tick();
            for (auto &answered : answering ? std::exchange(page.questions, {}) : decltype(page.questions){})
                answered();
        }
    }
    void touch()
    {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
        QApplication::sendEvent(&timer, &key);
    }

    TestPage page;
    FormTimer timer{0};
    InputWatch input{clock};
    bool busy = false;
    PageWatchdog watchdog{&timer, page, input, log, [this] { return busy; }};
    QSignalSpy failures{&watchdog, &PageWatchdog::pageFailed};
};

TEST_F(PageWatchdogTest, AHungPageIsThreeUnansweredChecksInARowAndItsRendererGoesFirst)
{
    start("page_check_interval=5\r\n");
    seconds(60);
    seconds(15, false); // two unanswered, then an answer: the row starts again
    page.questions.front()();
    seconds(10, false);
    page.isLoading = true; // neither a load nor an error countdown counts
    seconds(30, false);
    page.isLoading = false;
    busy = true;
    seconds(30, false);
    busy = false;
    seconds(5, false);
    EXPECT_TRUE(page.ends.empty());
    seconds(5, false);
    ASSERT_EQ(page.ends.size(), 1u);
    EXPECT_EQ(failures.size(), 0) << "not before the renderer has gone";
    page.ends.front()();
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures.last()[2].toString(), "pagina bloccata");
    EXPECT_EQ(kioskLog(), "Pagina bloccata da 3 controlli, renderer terminato: http://kiosk.invalid/start.html\r\n");
    EXPECT_EQ(watchdog.recoveries(PageWatchdog::Reason::Hung), 1u);
}

TEST_F(PageWatchdogTest, APageThatWasDrawnAndTurnsFlatIsBlankButAPlainPageNeverIs)
{
    start("page_check_interval=5\r\n");
    page.drawn = false;
    seconds(120);
    // Drawn for a second after loading, flat before the first check; drawn once in between.
    page.drawn = true;
    watchdog.pageLoaded();
    seconds(1);
    for (const bool drawn : {false, true, false}) {
        page.drawn = drawn;
        seconds(drawn ? 5 : 10);
    }
    EXPECT_EQ(failures.size(), 0);
    seconds(5);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures.last()[2].toString(), "pagina vuota");
    EXPECT_TRUE(page.ends.empty());
    EXPECT_EQ(kioskLog(), "Pagina vuota da 3 controlli: http://kiosk.invalid/start.html\r\n");
}

TEST_F(PageWatchdogTest, ARendererOverTheLimitIsReplacedOnceNobodyHasTouchedTheScreenForAMinute)
{
    start("page_check_interval=4\r\nrenderer_memory_limit=300\r\n");
    EXPECT_EQ(kioskLog(), CountSettingReader::fallbackMessage(KioskKeys::pageCheckInterval, "4") + "\r\n");
    page.memoryKiB = 301 * 1024;
    touch();
    seconds(59);
    page.pid = 101; // an idle reset's new renderer is small again
    page.memoryKiB = 100 * 1024;
    seconds(10);
    page.memoryKiB = 400 * 1024;
    touch();
    seconds(59);
    EXPECT_TRUE(page.ends.empty());
    seconds(5);
    ASSERT_EQ(page.ends.size(), 1u) << "once, while the renderer goes";
    page.ends.front()();
    EXPECT_EQ(page.reloads, 1);
    EXPECT_EQ(failures.size(), 0) << "no navigation error";
    EXPECT_NE(kioskLog().find("Renderer oltre renderer_memory_limit (400 MiB), pagina ricaricata: "
                              "http://kiosk.invalid/start.html\r\n"),
              std::string::npos);
    const auto figures = watchdog.metrics();
    ASSERT_EQ(figures.size(), 4u);
    EXPECT_EQ(figures[2].labels.at("reason"), "memory");
    EXPECT_EQ(figures[2].value, 1);
    EXPECT_EQ(figures[3].value, 400.0 * 1024 * 1024);
}

} // namespace
