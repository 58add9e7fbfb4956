// The daily update as it happens on a kiosk: the real kiosk starts the real updater at its
// configured minute, the updater fetches the update from nginx, stops the kiosk through the
// request file, replaces its executable and starts it again.

#include "clock.h"
#include "nginxserver.h"
#include "platform.h"
#include "process.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// Messages of the updater's log, without their time stamps.
Lines updaterMessages(const fs::path &folder)
{
    Lines messages;
    for (const auto &entry : fs::directory_iterator(folder)) {
        if (!std::regex_match(entry.path().filename().string(), std::regex(R"(TesmoraUpdate\d{6}\.log)")))
            continue;
        for (const auto &line : readCrLfLines(entry.path())) {
            EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d - .*)"))) << line;
            messages.push_back(line.substr(std::min<size_t>(22, line.size())));
        }
    }
    return messages;
}

std::set<std::string> namesIn(const fs::path &folder)
{
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(DailyUpdate, TheKioskIsUpdatedAndRestartedUnattended)
{
    TempFolder www;
    fs::create_directories(www / "site");
    fs::create_directories(www / "update");
    writeFile(www / "site" / "start.html", "<html><body>start page</body></html>");
    writeFile(www / "site" / "error.html", "<html><body>error page</body></html>");
    NginxServer nginx(www.path());

    // The program folder as installed: both programs, their settings, a page file.
    TempFolder program;
    const fs::path kioskExe = installProgram("tesmora", program.path());
    installProgram("TesmoraUpdate", program.path());
    const std::string oldKiosk = readFile(kioskExe);
    writeFile(program / "page.html", "<html><body>old page</body></html>");

    // The update: a page file, the kiosk's executable (a build that differs in its last bytes,
    // which do not change how it runs) and a file not installed before.
    const std::string newKiosk = oldKiosk + "\n# tesmora, next build\n";
    const std::string newPage = "<html><body>new page</body></html>";
    const std::string newFile = "a file the update adds\r\n";
    writeFile(www / "update" / "page.html", newPage);
    writeFile(www / "update" / "tesmora", newKiosk);
    writeFile(www / "update" / "extra.txt", newFile);
    writeFile(www / "update" / "update.txt", "TesmoraUpdate:\r\npage.html\r\ntesmora\r\nextra.txt\r\n");

    // The current minute, unless it is about to end: the launch needs a tick within it.
    auto local = platform::toLocal(std::chrono::system_clock::now());
    if (local.second >= 55) {
        std::this_thread::sleep_for(std::chrono::seconds(61 - local.second));
        local = platform::toLocal(std::chrono::system_clock::now());
    }
    writeFile(program / "tesmora.ini",
              "[data]\r\nweb_server=" + nginx.baseUrl()
                  + "site/\r\nstart_page=start.html\r\n"
                    "shutdown_check_interval=1\r\nupdate_start="
                  + hourMinuteText(local)
                  + "\r\n"
                    "[failure]\r\nerror_page="
                  + nginx.baseUrl() + "site/error.html\r\n");
    writeFile(program / "TesmoraUpdate.ini",
              "[data]\r\nupdate_url=" + nginx.baseUrl()
                  + "update/\r\nshutdown_timeout=15\r\n"
                    "health_check_seconds=3\r\n");

    auto env = headlessEnvironment();
    env["no_proxy"] = "127.0.0.1"; // the updater inherits it from the kiosk
    ChildProcess oldKioskProcess(kioskExe, program.path(), env, program / "kiosk-output.txt");
    ASSERT_TRUE(nginx.waitForRequest("/site/start.html", 1, 30s)) << readFile(program / "kiosk-output.txt");
    EXPECT_EQ(readCrLfLines(program / "tesmora.lck").size(), 1u);
    EXPECT_GT(processesInGroup(oldKioskProcess.pid()).size(), 1u) << "the browser runs helper processes";

    // About a minute after the configured minute the kiosk starts the updater, which asks the
    // kiosk to quit; the kiosk ends the orderly way.
    ASSERT_TRUE(oldKioskProcess.waitForExit(150s)) << "the old kiosk was never asked to quit";
    EXPECT_EQ(oldKioskProcess.exitCode(), 0);

    // The updater installs the rest and starts the new kiosk, which asks for its start page.
    ASSERT_TRUE(waitUntil(
        [&] {
            return !updaterMessages(program.path()).empty()
                && updaterMessages(program.path()).back() == "Start servizio Tesmora";
        },
        60s))
        << testing::PrintToString(updaterMessages(program.path()));
    ASSERT_TRUE(nginx.waitForRequest("/site/start.html", 2, 30s));

    EXPECT_EQ(updaterMessages(program.path()),
              (Lines{"Download file semaforo", "Verifica autenticità file di upload",
                     "Aggiornamenti non verificati: impostare public_key in TesmoraUpdate.ini per verificarne la firma",
                     "Download file page.html", "Download file tesmora", "Download file extra.txt",
                     "Cancellazione file di backup, vecchi di 15 giorni", "Backup file page.html",
                     "Aggiornamento file page.html", "Stop servizio Tesmora", "Backup file tesmora",
                     "Aggiornamento file tesmora", "Aggiornamento file extra.txt",
                     "Cancellazione file temporanei (cartella update) ", "Start servizio Tesmora"}));
    // Neither kiosk had anything to report: the updater started, the settings were good.
    EXPECT_FALSE(fs::exists(program / ("tesmora." + monthStamp(local) + ".log")))
        << readFile(program / ("tesmora." + monthStamp(local) + ".log"));

    EXPECT_EQ(readFile(program / "page.html"), newPage);
    EXPECT_EQ(readFile(kioskExe), newKiosk);
    EXPECT_EQ(readFile(program / "extra.txt"), newFile);
    EXPECT_NE(fs::status(kioskExe).permissions() & fs::perms::owner_exec, fs::perms::none);

    // The updater keeps its journal until the new kiosk has kept running for the check's seconds.
    ASSERT_TRUE(waitUntil([&] { return !fs::exists(program / "backup" / "update.journal"); }, 30s));
    std::map<std::string, std::string> backups;
    EXPECT_TRUE(fs::exists(program / "backup" / "update.last")) << "the record of the update kept";
    for (const auto &name : namesIn(program / "backup")) {
        if (name == "update.last")
            continue;
        const std::smatch parts = [&] {
            std::smatch m;
            std::regex_match(name, m, std::regex(R"((.*)\.\d{14}\.bak)"));
            return m;
        }();
        ASSERT_FALSE(parts.empty()) << name;
        backups[parts[1]] = readFile(program / "backup" / name);
    }
    EXPECT_EQ(backups,
              (std::map<std::string, std::string>{{"page.html", "<html><body>old page</body></html>"},
                                                  {"tesmora", oldKiosk}}));
    EXPECT_TRUE(namesIn(program / "update").empty());

    // The old kiosk's orderly end deleted both files: the request is gone, and the lock file
    // holds only the new kiosk's line.
    EXPECT_FALSE(fs::exists(program / "Shutdown.txt"));
    EXPECT_EQ(readCrLfLines(program / "tesmora.lck").size(), 1u);
    // Nothing the old kiosk started outlives it: no descriptor of it was handed on to keep its
    // browser's helpers alive.
    EXPECT_TRUE(waitUntil([&] { return processesInGroup(oldKioskProcess.pid()).empty(); }, 10s))
        << processesInGroup(oldKioskProcess.pid()).size() << " helpers of the old kiosk are left";
    const auto running = processesRunning(kioskExe);
    ASSERT_EQ(running.size(), 1u) << "one new kiosk runs";
    EXPECT_NE(running.front(), oldKioskProcess.pid());
    for (const pid_t pid : running)
        ::kill(pid, SIGKILL);
}

} // namespace
