// The session script that keeps the kiosk on the screen, with the real kiosk.

#include "httpserver.h"
#include "platform.h"
#include "process.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class Session : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kiosk = installProgram("tesmora", dir.path());
        fs::copy_file(SESSION_SCRIPT, dir / "tesmora-session");
        server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
        writeSettings("start.html");
        auto env = headlessEnvironment();
        env["TESMORA_RESTART_PAUSE"] = "0.2";
        env.emplace("TESMORA_KIOSK_WAIT_TRIES", "2");
        session = std::make_unique<ChildProcess>(dir / "tesmora-session", dir.path(), env, dir / "session.txt");
        ASSERT_TRUE(server.waitForRequest("/start.html", 30s));
    }

    // The one kiosk running from the folder, or -1.
    pid_t runningKiosk()
    {
        std::vector<pid_t> pids;
        waitUntil([&] { return (pids = processesRunning(kiosk)).size() == 1; }, 20s);
        return pids.size() == 1 ? pids.front() : -1;
    }

    void requestShutdown() { writeFile(dir / "Shutdown.txt", "07/12/2026 07:06:00\r\n"); }

    void writeSettings(const std::string &startPage)
    {
        writeFile(dir / "tesmora.ini", "[data]\r\nweb_server=" + server.baseUrl() + "\r\nstart_page=" + startPage
                                           + "\r\nshutdown_check_interval=1\r\n");
    }

    // The operator's command on this folder; its exit status, its output in output.txt.
    int admin(const std::string &command)
    {
        return runProgram(ADMIN_SCRIPT, {command, "--folder", dir.path().string()}, dir.path());
    }

    TempFolder dir;
    TestHttpServer server;
    fs::path kiosk;
    std::unique_ptr<ChildProcess> session;
};

TEST_F(Session, AKioskThatCrashesIsStartedAgainAndAnOrderlyEndIsFinal)
{
    const pid_t first = runningKiosk();
    ASSERT_GT(first, 0);
    ::kill(first, SIGKILL); // as a crash ends it; SIGSEGV would be taken for a finding under the sanitizers
    ASSERT_TRUE(server.waitForRequest("/start.html", 30s, 2)) << readFile(dir / "session.txt");
    const pid_t second = runningKiosk();
    EXPECT_GT(second, 0);
    EXPECT_NE(second, first);

    requestShutdown();
    ASSERT_TRUE(session->waitForExit(20s)) << "the orderly end is final";
    EXPECT_EQ(session->exitCode(), 0);
    EXPECT_TRUE(processesRunning(kiosk).empty());
    EXPECT_EQ(server.requestCount("/start.html"), 2u);
}

TEST_F(Session, TheKioskTheUpdaterStartsIsWatchedInTurn)
{
    // While "the updater" runs, the kiosk ends the orderly way and the updater starts a new one.
    platform::InstanceLock updater;
    ASSERT_EQ(updater.tryLock(dir / ".TesmoraUpdate.instance"), platform::InstanceLock::Result::Acquired);
    requestShutdown();
    ASSERT_TRUE(waitUntil([&] { return processesRunning(kiosk).empty(); }, 20s));
    auto fromUpdater = std::make_unique<ChildProcess>(kiosk, dir.path(), headlessEnvironment());
    ASSERT_TRUE(server.waitForRequest("/start.html", 30s, 2));
    updater.release();
    std::this_thread::sleep_for(2s);
    EXPECT_TRUE(session->running()) << readFile(dir / "session.txt");

    // That kiosk crashes: the session starts one of its own.
    fromUpdater->kill();
    ASSERT_TRUE(server.waitForRequest("/start.html", 30s, 3)) << readFile(dir / "session.txt");

    // An updater that asks the kiosk to quit and is then killed, starting nothing.
    ASSERT_EQ(updater.tryLock(dir / ".TesmoraUpdate.instance"), platform::InstanceLock::Result::Acquired);
    requestShutdown();
    ASSERT_TRUE(waitUntil([&] { return processesRunning(kiosk).empty(); }, 20s));
    // A real updater goes on after the kiosk has gone: the session neither ends nor starts one
    // meanwhile.
    EXPECT_FALSE(waitUntil([&] { return !processesRunning(kiosk).empty() || !session->running(); }, 2s))
        << readFile(dir / "session.txt");
    EXPECT_EQ(server.requestCount("/start.html"), 3u);
    updater.release();
    ASSERT_TRUE(server.waitForRequest("/start.html", 40s, 4)) << readFile(dir / "session.txt");
    requestShutdown();
    ASSERT_TRUE(session->waitForExit(20s));
    EXPECT_EQ(session->exitCode(), 0);
}

TEST_F(Session, ARestartStartsTheKioskWithItsNewSettingsAndAStopAfterItIsFinal)
{
    const pid_t first = runningKiosk();
    server.serve("/other.html", "<html><body>other</body></html>", 200, "text/html");
    writeSettings("other.html");
    // Root writes in a folder the kiosk's group may write too: what stands at the name is not followed.
    TempFolder outside;
    writeFile(outside / "passwd", "root:x:0:0::/root:/bin/sh\n");
    fs::create_symlink(outside / "passwd", dir / "tesmora-session.restart");
    ASSERT_EQ(admin("restart"), 0) << readFile(dir / "output.txt") << readFile(dir / "session.txt");
    EXPECT_EQ(readFile(outside / "passwd"), "root:x:0:0::/root:/bin/sh\n");
    EXPECT_TRUE(server.waitForRequest("/other.html", 30s)) << "the new kiosk reads the settings anew";
    EXPECT_NE(runningKiosk(), first);
    EXPECT_FALSE(fs::exists(dir / "tesmora-session.restart"));

    writeFile(dir / "tesmora-session.restart", "left by a restart that was cut short\n");
    ASSERT_EQ(admin("stop"), 0) << readFile(dir / "output.txt");
    ASSERT_TRUE(session->waitForExit(20s)) << "the restart request is spent: the next orderly end is final";
    EXPECT_EQ(session->exitCode(), 0);
    EXPECT_NE(admin("restart"), 0) << "no kiosk runs to be restarted";
    EXPECT_EQ(server.requestCount("/other.html"), 1u);
}

} // namespace
