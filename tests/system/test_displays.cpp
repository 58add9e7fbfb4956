// The real kiosk on the two kinds of display session it supports: a Wayland one under cage, the
// kiosk compositor, and an X one. Each shows the start page and ends the orderly way.

#include "httpserver.h"
#include "platform.h"
#include "process.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Upper half red, lower half blue: a screenshot tells the page from a black or frozen frame.
const std::string colouredPage = "<html><body style='margin:0'><div style='height:50vh;background:#f00'></div>"
                                 "<div style='height:50vh;background:#00f'></div></body></html>";

bool onPath(const std::string &program)
{
    return std::system(("command -v " + program + " >/dev/null").c_str()) == 0;
}

// In a binary PPM (grim -t ppm), the colour in the middle of the row at the given fraction of
// the height; {-1, -1, -1} where the text is no such picture.
std::array<int, 3> colourAt(const std::string &ppm, double down)
{
    int width = 0, height = 0, maximum = 0, header = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &width, &height, &maximum, &header) != 3 || maximum != 255)
        return {-1, -1, -1};
    const size_t at = static_cast<size_t>(header) + 1
        + (static_cast<size_t>(height * down) * width + static_cast<size_t>(width / 2)) * 3;
    if (at + 3 > ppm.size())
        return {-1, -1, -1};
    return {static_cast<unsigned char>(ppm[at]), static_cast<unsigned char>(ppm[at + 1]),
            static_cast<unsigned char>(ppm[at + 2])};
}

class Displays : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server.serve("/start.html", colouredPage, 200, "text/html");
        installProgram("tesmora", dir.path());
        writeFile(dir / "tesmora.ini",
                  "[data]\r\nweb_server=" + server.baseUrl()
                      + "\r\nstart_page=start.html\r\nshutdown_check_interval=1\r\n");
    }

    void requestShutdown() { writeFile(dir / "Shutdown.txt", "07/12/2026 07:06:00\r\n"); }

    TestHttpServer server;
    TempFolder dir;
};

// cage will not run as root: as root, the kiosk's user is nobody, who then owns the folder.
class UnderCage : public Displays
{
protected:
    void SetUp() override
    {
        if (!onPath("cage") || !onPath("grim"))
            GTEST_SKIP() << "needs cage and grim (scripts/setup.sh installs them)";
        Displays::SetUp();
        fs::create_directory(dir / "run");
        fs::create_directory(dir / "home");
        fs::permissions(dir / "run", fs::perms::owner_all);
        if (platform::runningAsRoot()) {
            ASSERT_EQ(::chown(dir.path().c_str(), nobody, nobody), 0);
            for (const auto &entry : fs::recursive_directory_iterator(dir.path()))
                ASSERT_EQ(::chown(entry.path().c_str(), nobody, nobody), 0);
        }
    }

    // A program run as the kiosk's user in cage's session, with cage's headless back end: no
    // screen, no input devices.
    std::unique_ptr<ChildProcess> start(std::vector<std::string> command, const std::string &output)
    {
        const std::map<std::string, std::string> env{
            {"HOME", (dir / "home").string()},
            {"XDG_RUNTIME_DIR", (dir / "run").string()},
            {"WLR_BACKENDS", "headless"},
            {"WLR_LIBINPUT_NO_DEVICES", "1"},
            // cage's first socket in its own runtime folder, which it names to its client too.
            {"WAYLAND_DISPLAY", "wayland-0"},
            {"DISPLAY", ""},
            {"QT_QPA_PLATFORM", ""},
            // The browser's sandbox needs user namespaces, which a container does not give.
            {"QTWEBENGINE_DISABLE_SANDBOX", "1"}};
        fs::path program = command.front();
        if (platform::runningAsRoot()) {
            const std::string id = std::to_string(nobody);
            command.insert(command.begin(), {"--reuid=" + id, "--regid=" + id, "--clear-groups"});
            program = "/usr/bin/setpriv";
        } else {
            command.erase(command.begin());
        }
        return std::make_unique<ChildProcess>(program, dir.path(), env, dir / output, command);
    }

    // grim's picture of cage's screen, as a PPM; "" when it could not take one.
    std::string screenshot()
    {
        fs::remove(dir / "screen.ppm");
        const auto grim = start({"grim", "-t", "ppm", (dir / "screen.ppm").string()}, "grim.txt");
        return grim->waitForExit(20s) && grim->exitCode() == 0 ? readFile(dir / "screen.ppm") : std::string();
    }

    static constexpr unsigned nobody = 65534;
};

// The headless output turned by 180 degrees: its unturned output would show the kiosk's surface
// directly, which the headless back end cannot, and keep a stale frame (see the guide).
TEST_F(UnderCage, TheKioskRunsAsCagesOwnClientShowsThePageAndEndsWithCage)
{
    const auto cage = start({"cage", "-r", "-r", "--", (dir / "tesmora").string()}, "cage.txt");
    ASSERT_TRUE(server.waitForRequest("/start.html", 20s)) << readFile(dir / "cage.txt");
    EXPECT_TRUE(waitUntil([&] { return fs::exists(dir / "tesmora.lck"); }, 5s));

    // Above the strip of buttons at the bottom: a quarter and three quarters down the screen.
    std::string shot;
    const auto pageShown = [&] {
        shot = screenshot();
        return colourAt(shot, 0.25) == std::array{255, 0, 0} && colourAt(shot, 0.75) == std::array{0, 0, 255};
    };
    EXPECT_TRUE(waitUntil(pageShown, 20s))
        << "the page's colours, not a black frame; grim: " << readFile(dir / "grim.txt");

    requestShutdown();
    ASSERT_TRUE(cage->waitForExit(15s)) << "cage ends with its one client";
    EXPECT_FALSE(fs::exists(dir / "tesmora.lck")) << "the orderly end";
    const std::string output = readFile(dir / "cage.txt");
    EXPECT_EQ(output.find("Setting cursor position"), std::string::npos) << output;
    EXPECT_EQ(output.find("qt.qpa."), std::string::npos) << output;
}

// Run on a virtual X display (CMake runs it under xvfb-run): the kiosk takes X11 by itself.
TEST_F(Displays, OnAnXDisplayTheKioskShowsThePageWithoutAWarningAndEndsTheOrderlyWay)
{
    const char *display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
        GTEST_SKIP() << "needs an X display (xvfb-run)";
    ChildProcess kiosk(dir / "tesmora", dir.path(), {{"QT_QPA_PLATFORM", ""}, {"WAYLAND_DISPLAY", ""}},
                       dir / "kiosk.txt");
    ASSERT_TRUE(server.waitForRequest("/start.html", 20s)) << readFile(dir / "kiosk.txt");
    EXPECT_TRUE(waitUntil([&] { return fs::exists(dir / "tesmora.lck"); }, 5s));
    requestShutdown();
    ASSERT_TRUE(kiosk.waitForExit(15s));
    EXPECT_EQ(kiosk.exitCode(), 0);
    EXPECT_FALSE(fs::exists(dir / "tesmora.lck"));
    const std::string output = readFile(dir / "kiosk.txt");
    EXPECT_EQ(output.find("qt.qpa."), std::string::npos) << output;
}

} // namespace
