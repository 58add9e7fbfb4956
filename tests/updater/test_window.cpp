#include "activityblinker.h"
#include "frmtesmoraupdate.h"
#include "httpserver.h"
#include "logreading.h"
#include "tempfolder.h"
#include "testclock.h"
#include "twips.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using namespace RunLines;

// Built here and driven through its handlers; never shown, which would start the run.
class Window : public ::testing::Test
{
protected:
    Window() { ini.setNomeFile((dir / "TesmoraUpdate.ini").string()); }

    std::unique_ptr<frmTesmoraUpdate> form(const std::string &exeName = "TesmoraUpdate")
    {
        UpdaterEnvironment env;
        env.paths = {dir.path(), exeName};
        env.clock = &clock;
        return std::make_unique<frmTesmoraUpdate>(env, readUpdateSettings(ini), counts);
    }
    template<typename T = QWidget>
    static T *control(const frmTesmoraUpdate &window, const char *name)
    {
        return window.findChild<T *>(name);
    }

    TempFolder dir;
    TestClock clock;
    clsFileIni ini;
    CountSettingReader counts{ini, {}};
};

TEST_F(Window, CaptionControlsAndAnEmptyBarAsDesigned)
{
    EXPECT_EQ(form("OtherName")->windowTitle(), "OtherName v1.0.1");
    const auto window = form();
    EXPECT_EQ(window->windowTitle(), "TesmoraUpdate v1.0.1");
    EXPECT_EQ(window->size(), QSize(312, 65));
    EXPECT_EQ(window->progressWidthTwips(), 0);
    ASSERT_NE(control(*window, "ShpFileA"), nullptr);
    EXPECT_EQ(control(*window, "ShpFileA")->width(), 0);
    EXPECT_EQ(control(*window, "ShpFileB")->geometry(), QRect(8, 24, 297, 17));
    EXPECT_EQ(control(*window, "ShpActivity")->geometry(), QRect(8, 48, 297, 9));
    const auto *label = control<QLabel>(*window, "lblFile");
    const auto *button = control<QPushButton>(*window, "cmdUpDate");
    ASSERT_NE(label, nullptr);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(label->text(), "...");
    EXPECT_EQ(label->pos(), QPoint(8, 8));
    EXPECT_EQ(button->text(), "UpDate");
    EXPECT_EQ(button->geometry(), QRect(240, 0, 65, 25));
    EXPECT_TRUE(button->isEnabled());
}

// The window lets its events through only between the blocks of a download: a close there
// stops the run at the next block, which takes its files away, and the window ends once.
TEST_F(Window, ClosingItDuringADownloadStopsTheRunAndEndsOnce)
{
    TestHttpServer server;
    writeFile(dir / "TesmoraUpdate.ini",
              "[data]\r\nupdate_url=" + server.baseUrl() + "\r\nmetrics_file=update.prom\r\n");
    fs::create_directory(dir / "update");
    writeFile(dir / "update" / "leftover", "not the run's");
    server.serve("/update.txt", "TesmoraUpdate:\r\na\r\nslow\r\nc\r\n");
    server.serve("/a", "a");
    server.serveSlowly("/slow", arbitraryBytes(64 * 1024, 6), 1024, std::chrono::milliseconds(100));
    server.serve("/c", "c");
    const auto window = form();
    const QSignalSpy finished(window.get(), &frmTesmoraUpdate::finished);
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (control<QLabel>(*window, "lblFile")->text() == "slow") {
            EXPECT_FALSE(control<QPushButton>(*window, "cmdUpDate")->isEnabled()) << "greyed while the run runs";
            window->close();
        }
    });
    user.start(20);

    window->cmdUpDate_Click();
    ASSERT_TRUE(window->outcome());
    EXPECT_EQ(window->outcome()->end, RunEnd::Closed);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), 1) << "no update took place";
    EXPECT_EQ(updaterLogMessages(dir.path()),
              (Lines{Start, Check, Unverified, "Download file a", "Download file slow"}));
    EXPECT_EQ(folderNames(dir / "update"), Lines{"leftover"}) << "only what the run put there goes";
    EXPECT_FALSE(fs::exists(dir / "a"));
    EXPECT_EQ(server.requestCount("/c"), 0u);
    EXPECT_NE(readFile(dir / "update.prom").find("tesmora_update_last_run_result{result=\"closed\"} 1"),
              std::string::npos);
    window->close();
    EXPECT_EQ(finished.count(), 1) << "ended once";
    server.stop();
}

TEST(ActivityBar, ChangesWithEveryBlockAndShowsItsLastStateAtTheEnd)
{
    QWidget window;
    auto *bar = new QWidget(&window);
    ActivityBlinker blinker(window, *bar);
    EXPECT_TRUE(blinker.barVisible());
    blinker.onBlock();
    EXPECT_TRUE(bar->isHidden()) << "the first block of a download reaches the screen at once";
    for (int i = 0; i < 4; ++i)
        blinker.onBlock();
    EXPECT_FALSE(blinker.barVisible()) << "an odd number of blocks leaves it changed";
    blinker.onBlock();
    EXPECT_TRUE(blinker.barVisible());
    blinker.finish();
    EXPECT_FALSE(bar->isHidden()) << "the end shows the last state";
    blinker.onBlock();
    EXPECT_TRUE(bar->isHidden()) << "a new download starts a new frame";
}

TEST(Progress, GrowsByTheBarWidthDividedByTheEntries)
{
    EXPECT_EQ(progressStep(4455, 3), 1485);
    EXPECT_EQ(progressStep(4455, 7), 636);
    EXPECT_EQ(7 * progressStep(4455, 7), 4452);
    EXPECT_EQ(progressStep(4455, 32767), 0);
    EXPECT_EQ(twipsToPixels(4455), 297);
    EXPECT_EQ(twipsToPixels(1485), 99);
    EXPECT_EQ(twipsToPixels(636), 42);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
