#include "httpserver.h"
#include "process.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <regex>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

class KioskProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        program = installProgram("tesmora", dir.path());
        server.serve("/kiosk/start.html", "<html><body>start</body></html>", 200, "text/html");
    }

    void writeSettings()
    {
        writeFile(dir / "tesmora.ini",
                  "[data]\r\nweb_server=" + server.baseUrl()
                      + "kiosk/, http://unused.invalid/\r\n"
                        "start_page=start.html\r\nshutdown_check_interval=2\r\n"
                        "[failure]\r\nerror_page="
                      + server.baseUrl() + "error.html\r\n");
    }

    std::unique_ptr<ChildProcess> startKiosk()
    {
        return std::make_unique<ChildProcess>(program, dir.path(), headlessEnvironment(), dir / "output.txt");
    }

    TempFolder dir;
    TestHttpServer server;
    std::filesystem::path program;
};

// The program as it is started: the program folder is the executable's, not the working folder.
TEST_F(KioskProcess, StartsInItsOwnFolderOnTheFirstServerAndRefusesASecondInstance)
{
    writeSettings();
    TempFolder elsewhere;
    ChildProcess kiosk(program, elsewhere.path(), headlessEnvironment(), dir / "output.txt");
    ASSERT_TRUE(server.waitForRequest("/kiosk/start.html", 30s)) << readFile(dir / "output.txt");
    const auto lockLines = readCrLfLines(dir / "tesmora.lck");
    ASSERT_EQ(lockLines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lockLines[0], std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)"))) << lockLines[0];
    EXPECT_FALSE(std::filesystem::exists(elsewhere / "tesmora.lck"));
    EXPECT_TRUE(kiosk.running());

    const std::string lockBefore = readFile(dir / "tesmora.lck");
    auto second = startKiosk();
    ASSERT_TRUE(second->waitForExit(20s)) << "a second instance must end at once";
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(readFile(dir / "tesmora.lck"), lockBefore);
    EXPECT_EQ(server.requestCount("/kiosk/start.html"), 1u);
    EXPECT_TRUE(kiosk.running());
}

TEST_F(KioskProcess, SigtermEndsItTheOrderlyWayAndItKeepsNothingItWasGivenNorOpensADebuggingPort)
{
    writeFile(dir / "tesmora.ini",
              "[data]\r\nweb_server=" + server.baseUrl()
                  + "kiosk/\r\nstart_page=start.html\r\n"
                    "shutdown_check_interval=600\r\n");
    // A descriptor the kiosk would inherit, and the three ways of asking the engine for a
    // debugging port (a flag wins over the variable, so each way gets a port of its own).
    const int given = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    const int ports[] = {unusedPort(), unusedPort(), unusedPort()};
    auto env = headlessEnvironment();
    env["QTWEBENGINE_REMOTE_DEBUGGING"] = "127.0.0.1:" + std::to_string(ports[0]);
    env["QTWEBENGINE_CHROMIUM_FLAGS"] = "--remote-debugging-port=" + std::to_string(ports[1]);
    ChildProcess kiosk(program, dir.path(), env, dir / "output.txt",
                       {"--remote-debugging-port=" + std::to_string(ports[2])});
    ::close(given);
    ASSERT_TRUE(server.waitForRequest("/kiosk/start.html", 30s)) << readFile(dir / "output.txt");
    std::this_thread::sleep_for(500ms); // the engine starts its helpers and would open its ports
    EXPECT_GT(processesInGroup(kiosk.pid()).size(), 1u) << "the browser runs helper processes";
    std::error_code ec;
    EXPECT_NE(
        std::filesystem::read_symlink("/proc/" + std::to_string(kiosk.pid()) + "/fd/" + std::to_string(given), ec),
        dir.path());
    for (const int port : ports)
        EXPECT_NO_THROW(TestHttpServer{port}) << "the kiosk listens on " << port;

    writeFile(dir / "Shutdown.txt", "07/12/2026 09:00:00\r\n");
    ASSERT_EQ(::kill(kiosk.pid(), SIGTERM), 0);
    ASSERT_TRUE(kiosk.waitForExit(10s));
    EXPECT_EQ(kiosk.exitCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "tesmora.lck"));
    EXPECT_FALSE(std::filesystem::exists(dir / "Shutdown.txt"));
    EXPECT_TRUE(waitUntil([&] { return processesInGroup(kiosk.pid()).empty(); }, 10s))
        << "no browser helper outlives the kiosk";
}

} // namespace
