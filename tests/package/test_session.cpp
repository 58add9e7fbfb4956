// The session script that keeps the kiosk on the screen, with the real kiosk.

#include "httpserver.h"
#include "platform.h"
#include "process.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <regex>
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
        startSession();
        ASSERT_TRUE(server.waitForRequest("/start.html", 30s));
    }

    void startSession()
    {
        server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
        writeSettings("start.html");
        auto env = headlessEnvironment();
        env["TESMORA_RESTART_PAUSE"] = "0.2";
        env.emplace("TESMORA_KIOSK_WAIT_TRIES", "2");
        env["TESMORA_SESSION_ENDED"] = (dir / "ended").string();
        session = std::make_unique<ChildProcess>(dir / "tesmora-session", dir.path(), env, dir / "session.txt");
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
        writeFile(dir / "tesmora.ini",
                  "[data]\r\nweb_server=" + server.baseUrl() + "\r\nstart_page=" + startPage
                      + "\r\nshutdown_check_interval=1\r\n");
    }

    // The session's own log of this month, as its lines without their CR LF.
    std::vector<std::string> sessionLog()
    {
        const auto names = folderNames(dir.path());
        const auto log =
            std::ranges::find_if(names, [](const std::string &name) { return name.starts_with("tesmora-session."); });
        return log == names.end() ? std::vector<std::string>{} : readCrLfLines(dir / *log);
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
    EXPECT_FALSE(fs::exists(dir / "ended")) << "a crash is no end of the session";

    requestShutdown();
    ASSERT_TRUE(session->waitForExit(20s)) << "the orderly end is final";
    EXPECT_EQ(session->exitCode(), 0);
    EXPECT_TRUE(processesRunning(kiosk).empty());
    EXPECT_EQ(server.requestCount("/start.html"), 2u);
    EXPECT_TRUE(fs::exists(dir / "ended")) << "a console login that started the session learns that the end is final";

    // Dated as the updater's log, in a file of its own, and on standard error still.
    const std::vector<std::string> lines = sessionLog();
    ASSERT_FALSE(lines.empty()) << readFile(dir / "session.txt");
    const std::regex dated(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - (.*))");
    std::vector<std::string> messages;
    for (const std::string &line : lines)
        messages.push_back(std::regex_replace(line, dated, "$1"));
    EXPECT_EQ(messages,
              (std::vector<std::string>{"the session starts the kiosk from " + fs::canonical(dir.path()).string(),
                                        "the kiosk ended abnormally (status 137); starting it again in 0.2 s",
                                        "the kiosk ended the orderly way; the session ends"}));
    EXPECT_NE(readFile(dir / "session.txt").find("tesmora-session: " + lines.back() + "\n"), std::string::npos);
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

// The folder after an update: its record in backup/, the new kiosk in place and the old one as its
// copy. The real updater undoes it when the session asks.
class SessionAfterAnUpdate : public Session
{
protected:
    void SetUp() override
    {
        fs::copy_file(SESSION_SCRIPT, dir / "tesmora-session");
        installProgram("TesmoraUpdate", dir.path());
        fs::create_directory(dir / "backup");
    }

    void installScript(const fs::path &path, const std::string &body)
    {
        writeFile(path, "#!/bin/sh\n" + body);
        fs::permissions(path, fs::perms::owner_all);
    }

    static constexpr const char *record = "installed\ntesmora\ttesmora.20261207070602.bak\n";
    const fs::path oldKiosk = dir / "backup/tesmora.20261207070602.bak";
};

TEST_F(SessionAfterAnUpdate, AnUpdateCutShortIsUndoneBeforeTheKioskStarts)
{
    // A power cut while the updater watched a new kiosk that hangs.
    kiosk = installProgram("tesmora", dir / "backup", oldKiosk.filename().string());
    installScript(dir / "tesmora", "touch hung.txt; exec sleep 600\n");
    writeFile(dir / "backup/update.journal", record);

    startSession();
    ASSERT_TRUE(server.waitForRequest("/start.html", 30s)) << readFile(dir / "session.txt");
    EXPECT_FALSE(fs::exists(dir / "hung.txt")) << "the new kiosk never started";
    EXPECT_FALSE(fs::exists(dir / "backup/update.journal"));
    EXPECT_NE(readFile(dir / "session.txt").find(" - an update was cut short"), std::string::npos);
}

TEST_F(SessionAfterAnUpdate, ThreeAbnormalEndsWithinTenMinutesOfTheUpdateBringTheOldKioskBack)
{
    installScript(oldKiosk, "echo old >>starts.txt; exec sleep 600\n");
    // The new kiosk crashes at its first two starts and stays up at its third.
    installScript(dir / "tesmora",
                  "echo new >>starts.txt; [ \"$(grep -c new starts.txt)\" -lt 3 ] && exit 1\n"
                  "echo $$ >new.pid; exec sleep 600\n");
    writeFile(dir / "backup/update.last", record);
    const auto kept = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) - 1000s;
    fs::last_write_time(dir / "backup/update.last", fs::file_time_type::clock::from_sys(kept));
    // Ends an earlier session counted: one before the update was kept, one too long ago.
    const auto seconds = [](std::chrono::sys_seconds t) { return std::to_string(t.time_since_epoch().count()); };
    writeFile(dir / "tesmora-session.crashes", seconds(kept - 100s) + "\n" + seconds(kept + 300s) + "\n");

    startSession();
    ASSERT_TRUE(waitUntil([&] { return fs::exists(dir / "new.pid"); }, 20s)) << readFile(dir / "session.txt");
    EXPECT_TRUE(fs::exists(dir / "backup/update.last")) << "two ends in the window are not three";
    ::kill(std::stoi(readFile(dir / "new.pid")), SIGKILL);

    ASSERT_TRUE(waitUntil([&] { return readFile(dir / "starts.txt").ends_with("old\n"); }, 20s))
        << readFile(dir / "session.txt");
    EXPECT_EQ(readFile(dir / "starts.txt"), "new\nnew\nnew\nold\n");
    EXPECT_EQ(readFile(dir / "tesmora"), readFile(oldKiosk));
    EXPECT_NE(readFile(dir / "session.txt").find(" - the kiosk ended abnormally 3 times within 600 s"),
              std::string::npos)
        << readFile(dir / "session.txt");
}

// Neither Xvfb nor Xorg's dummy driver can turn a screen: stand-ins for xrandr and xinput, first
// on the PATH, record what the session asks of them, and the kiosk ends at once.
class SessionRotation : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::copy_file(SESSION_SCRIPT, dir / "tesmora-session");
        fs::create_directory(dir / "bin");
        script(dir / "tesmora", "exit 0\n");
        script(dir / "bin/xrandr",
               "echo \"xrandr $*\" >>asked.txt\n"
               "[ \"$1\" != --query ] || printf 'Screen 0: minimum 8 x 8\\n"
               "HDMI-1 connected primary 1920x1080+0+0 (normal left inverted right) 521mm x 293mm\\n"
               "DP-1 disconnected (normal left inverted right)\\n'\n");
        script(dir / "bin/xinput",
               "echo \"xinput $*\" >>asked.txt\n"
               "[ \"$1\" != list ] || printf '\\342\\216\\241 Virtual core pointer\\tid=2\\t[master pointer  (3)]\\n"
               "\\342\\216\\234   \\342\\206\\263 ELAN Touchscreen\\tid=10\\t[slave  pointer  (2)]\\n"
               "\\tReporting 2 classes:\\n\\t\\tClass originated from: 10. Type: XITouchClass\\n"
               "\\t\\tTouch mode: direct\\n"
               "\\342\\216\\234   \\342\\206\\263 USB Mouse\\tid=11\\t[slave  pointer  (2)]\\n"
               "\\tReporting 1 classes:\\n\\t\\tClass originated from: 11. Type: XIButtonClass\\n'\n");
    }

    void script(const fs::path &path, const std::string &body)
    {
        writeFile(path, "#!/bin/sh\n" + body);
        fs::permissions(path, fs::perms::owner_all);
    }

    // One session on an X display with rotation as given ("" for none); what it asked of xrandr
    // and xinput, then empties the record.
    std::string sessionWith(const std::string &rotation, const std::vector<std::string> &arguments = {})
    {
        writeFile(dir / "tesmora.ini",
                  "[data]\r\nweb_server=http://127.0.0.1:9/\r\n"
                      + (rotation.empty() ? "" : "rotation=" + rotation + "\r\n"));
        ChildProcess session(
            dir / "tesmora-session", dir.path(),
            {{"PATH", (dir / "bin").string() + ":" + std::getenv("PATH")}, {"DISPLAY", ":98"}, {"WAYLAND_DISPLAY", ""}},
            dir / "session.txt", arguments);
        EXPECT_TRUE(session.waitForExit(30s));
        const std::string asked = readFile(dir / "asked.txt");
        fs::remove(dir / "asked.txt");
        return asked;
    }

    TempFolder dir;
};

TEST_F(SessionRotation, TurnsScreenAndTouchInputUnderXPutsThemBackWhenTheSettingGoesAndRefusesOtherValues)
{
    const std::string xquery = "xrandr --query\n", touchList = "xinput list --long\n";
    EXPECT_EQ(sessionWith("90"),
              xquery + "xrandr --output HDMI-1 --rotate right\n" + touchList
                  + "xinput set-prop 10 Coordinate Transformation Matrix 0 1 0 -1 0 1 0 0 1\n");
    EXPECT_EQ(sessionWith(""),
              xquery + "xrandr --output HDMI-1 --rotate normal\n" + touchList
                  + "xinput set-prop 10 Coordinate Transformation Matrix 1 0 0 0 1 0 0 0 1\n");
    EXPECT_EQ(sessionWith(""), "") << "a screen this session did not turn is left as it is";
    EXPECT_EQ(sessionWith("45"), "");
    const std::string said = readFile(dir / "session.txt");
    EXPECT_NE(said.find(" - the screen is turned by 90 degrees (xrandr --rotate right on HDMI-1); touch screens "
                        "mapped to it: 1\n"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find(" - Valore non valido per rotation: '45', uso il valore 0\n"), std::string::npos) << said;

    // cage turns its output itself, as it starts: the session gives it its options.
    fs::remove(dir / "session.txt");
    sessionWith("270", {"--cage-options"});
    const std::string options = readFile(dir / "session.txt");
    EXPECT_TRUE(options.ends_with("\n-r -r -r\n")) << options;
}

} // namespace
