// The real TesmoraUpdate in a temporary program folder, against a real HTTP server on 127.0.0.1
// and stand-in kiosk processes.

#include "logreading.h"
#include "signingkey.h"
#include "updaterfolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <regex>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using namespace RunLines;
using Names = std::set<std::string>;
using Kiosk = UpdaterFolder::Kiosk;
using std::chrono::seconds;

constexpr auto Day = std::chrono::hours(24);
const std::string NotFound = "Error (53) File not found";

void setAge(const fs::path &path, std::chrono::system_clock::duration age)
{
    fs::last_write_time(path, std::chrono::file_clock::from_sys(std::chrono::system_clock::now() - age));
}

void setPerms(const fs::path &path, int bits)
{
    fs::permissions(path, fs::perms(bits), fs::perm_options::replace);
}

// Names in the backup folder that are backup copies of entry, checked against the stamp format;
// a copy made in the same second as another carries a counter.
Names backupsOf(const UpdaterFolder &folder, const std::string &entry)
{
    const std::regex copy(std::regex_replace(entry, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)")
                          + R"(\.\d{14}(-[1-9]\d*)?\.bak)");
    Names found;
    for (const auto &name : folder.namesIn("backup")) {
        if (std::regex_match(name, copy))
            found.insert(name);
    }
    return found;
}

// --- A whole update --------------------------------------------------------------------------

TEST(UpdateRun, EntriesAroundTheKioskWithTheKioskRunning)
{
    UpdaterFolder folder;
    folder.installKiosk(Kiosk::Obliging, "old");
    writeFile(folder / "a", "old a");
    setPerms(folder / "a", 0640);
    setPerms(folder / "tesmora", 0750);
    writeFile(folder / "expired.bku", "x");
    setAge(folder / "expired.bku", 16 * Day);
    writeFile(folder / "recent.bku", "x");
    setAge(folder / "recent.bku", 14 * Day);
    fs::create_directory(folder / "sub");
    writeFile(folder / "sub" / "deep.bku", "x");
    setAge(folder / "sub" / "deep.bku", 16 * Day);

    const std::string newKiosk = UpdaterFolder::kioskScript(Kiosk::Passing, "new");
    folder.publishManifest({"a", "tesmora", "b"});
    folder.publish("a", "new a");
    folder.publish("tesmora", newKiosk);
    folder.publish("b", arbitraryBytes(5000, 7));
    auto kiosk = folder.startKiosk();

    EXPECT_EQ(folder.runUpdater(), 0);
    EXPECT_EQ(folder.log(),
              (Lines{Start, Check, Unverified, "Download file a", "Download file tesmora", "Download file b", Cleanup,
                     "Backup file a", "Aggiornamento file a", StopKiosk, "Backup file tesmora",
                     "Aggiornamento file tesmora", "Aggiornamento file b", EmptyUpdate, StartKiosk}));

    EXPECT_EQ(readFile(folder / "a"), "new a");
    EXPECT_EQ(readFile(folder / "tesmora"), newKiosk);
    EXPECT_EQ(readFile(folder / "b"), arbitraryBytes(5000, 7));
    // The installed files keep the bits of those they replaced.
    EXPECT_EQ(folder.permsOf("a"), fs::perms(0640));
    EXPECT_EQ(folder.permsOf("tesmora"), fs::perms(0750));

    const Names aCopies = backupsOf(folder, "a");
    const Names kioskCopies = backupsOf(folder, "tesmora");
    ASSERT_EQ(aCopies.size(), 1u);
    ASSERT_EQ(kioskCopies.size(), 1u);
    // None for b, which was not installed before; the record of this update beside them.
    EXPECT_EQ(folder.namesIn("backup").size(), 3u);
    EXPECT_TRUE(fs::exists(folder / "backup" / "update.last"));
    EXPECT_EQ(readFile(folder / "backup" / *aCopies.begin()), "old a");
    EXPECT_EQ(readFile(folder / "backup" / *kioskCopies.begin()), UpdaterFolder::kioskScript(Kiosk::Obliging, "old"));

    EXPECT_FALSE(fs::exists(folder / "expired.bku"));
    EXPECT_TRUE(fs::exists(folder / "recent.bku"));
    EXPECT_TRUE(fs::exists(folder / "sub" / "deep.bku"));
    EXPECT_EQ(folder.namesIn("update"), Names{});

    // The old kiosk was asked to quit and found its executable still in place; the new one was
    // started in the program folder once the run was over.
    ASSERT_TRUE(kiosk->waitForExit(seconds(5)));
    ASSERT_TRUE(folder.waitForKioskEvents(3, seconds(10)));
    EXPECT_EQ(folder.kioskEvents(), (Lines{"old started", "old executable in place", "new started"}));
    EXPECT_FALSE(fs::exists(folder / "Shutdown.txt"));
    EXPECT_FALSE(fs::exists(folder / "tesmora.lck"));
}

TEST(UpdateRun, KioskThatCannotStartIsReported)
{
    UpdaterFolder folder;
    writeFile(folder / "tesmora", "not a program");
    setPerms(folder / "tesmora", 0644);
    folder.publishManifest({});
    EXPECT_EQ(folder.runUpdater(), 0);
    EXPECT_EQ(
        folder.log(),
        (Lines{Start, Check, Unverified, Cleanup, EmptyUpdate, StartKiosk, "Impossibile riavviare servizio Tesmora"}));
}

// The real kiosk as the update's new one: stopped once it has written its lock file, it runs on,
// lock file and all, and only its lock file's time tells that it is stuck.
TEST(UpdateRun, ANewKioskThatStopsAnsweringIsRolledBack)
{
    UpdaterFolder folder;
    folder.installKiosk(Kiosk::Obliging, "old");
    const std::string oldKiosk = readFile(folder / "tesmora");
    folder.server().serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
    writeFile(folder / "tesmora.ini",
              "[data]\r\nweb_server=" + folder.server().baseUrl()
                  + "\r\nstart_page=start.html\r\nshutdown_check_interval=1\r\n");
    writeFile(folder / "TesmoraUpdate.ini",
              "[data]\r\nupdate_url=" + folder.server().baseUrl() + "\r\nhealth_check_seconds=15\r\n");
    folder.publish("tesmora", readFile(builtProgram("tesmora")));
    folder.publishManifest({"tesmora"});
    auto oldProcess = folder.startKiosk();
    auto updater = folder.startUpdater();

    pid_t stopped = 0;
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto running = processesRunning(folder / "tesmora");
            if (running.empty() || !fs::exists(folder / "tesmora.lck"))
                return false;
            stopped = running.front();
            return true;
        },
        seconds(60)));
    ASSERT_EQ(::kill(stopped, SIGSTOP), 0);
    ASSERT_TRUE(updater->waitForExit(seconds(60)));
    EXPECT_EQ(updater->exitCode(), 1);
    const Lines log = folder.log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string &line) {
        return std::regex_match(line,
                                std::regex(R"(Aggiornamento annullato: tesmora\.lck non aggiornato da 1\d secondi)"));
    })) << testing::PrintToString(log);
    EXPECT_EQ(readFile(folder / "tesmora"), oldKiosk);
    EXPECT_TRUE(
        waitUntil([&] { return std::ranges::count(processesRunning(folder / "tesmora"), stopped) == 0; }, seconds(10)))
        << "the stuck kiosk was ended";
}

// --- Downloads -------------------------------------------------------------------------------

TEST(UpdateDownloads, ErrorStatusIsAFailedDownloadNotAFile)
{
    UpdaterFolder folder;
    writeFile(folder / "a", "installed a");
    folder.publishManifest({"a", "missing"});
    folder.publish("a", "new a");
    EXPECT_EQ(folder.runUpdater(), 1);
    EXPECT_EQ(folder.log(),
              (Lines{Start, Check, Unverified, "Download file a", "Download file missing",
                     "Error download (-2147220504) Risposta del server: 404", NotFound}));
    EXPECT_EQ(readFile(folder / "a"), "installed a");
    EXPECT_FALSE(fs::exists(folder / "missing"));
    EXPECT_EQ(folder.namesIn("update"), (Names{"update.txt", "a"}));
}

// --- One updater at a time, and the updater alone ---------------------------------------------

// The first one as over ssh: no display of any kind, and no platform asked for.
TEST(UpdaterProcess, ASecondUpdaterEndsAtOnceWhileOneRuns)
{
    UpdaterFolder folder;
    folder.publishManifest({"slow"});
    const std::string slow = arbitraryBytes(16 * 1024, 5);
    folder.server().serveSlowly("/slow", slow, 1024, std::chrono::milliseconds(100));

    auto first = folder.startUpdater({}, {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
    ASSERT_TRUE(folder.server().waitForRequest("/slow", seconds(10)));
    auto second = folder.startUpdater();
    ASSERT_TRUE(second->waitForExit(seconds(10)));
    EXPECT_EQ(second->exitCode(), 1);
    EXPECT_EQ(folder.server().requestCount("/update.txt"), 1u);

    ASSERT_TRUE(first->waitForExit(seconds(30)));
    EXPECT_EQ(first->exitCode(), 0);
    EXPECT_EQ(readFile(folder / "slow"), slow);
    EXPECT_EQ(updaterLogMessages(folder.path(), "TesmoraUpdate", LogLines::All),
              (Lines{"Nessuno schermo raggiungibile: aggiornamento senza finestra", Start, Check, Unverified,
                     "Download file slow", "Aggiornamento già in corso: questa istanza di TesmoraUpdate termina",
                     Cleanup, "Aggiornamento file slow", EmptyUpdate, Closing + "finished"}));
}

// What the session runs before it starts the kiosk, and when the kiosk an update brought keeps
// crashing: no window, no download, only the journals.
TEST(UpdaterProcess, AloneItUndoesAnUpdateCutShortAndOnRequestTheLastOneKept)
{
    UpdaterFolder folder;
    const fs::path updater = folder / "TesmoraUpdate";
    fs::create_directory(folder / "backup");
    writeFile(folder / "a", "new a");
    writeFile(folder / "backup" / "a.20261206090000.bak", "old a");
    // Cut short during the check of the new kiosk, which is not running (a power cut): undone.
    writeFile(folder / "backup" / "update.journal", "installed\na\ta.20261206090000.bak\n");
    writeFile(folder / "tesmora.lck", "left by the kiosk the power cut ended\r\n");
    EXPECT_EQ(runProgram(updater, {"--recover"}, folder.path()), 0);
    EXPECT_EQ(readFile(folder / "a"), "old a");
    EXPECT_FALSE(fs::exists(folder / "backup" / "update.journal"));
    EXPECT_EQ(
        folder.log(),
        (Lines{"Aggiornamento precedente interrotto: ripristino della versione precedente", "Ripristino file a"}));
    EXPECT_TRUE(folder.server().requests().empty());
    EXPECT_EQ(runProgram(updater, {"--recover"}, folder.path()), 0) << "nothing left to do";

    fs::remove(folder / "tesmora.lck");
    folder.publishManifest({"a"});
    folder.publish("a", "newer a");
    ASSERT_EQ(folder.runUpdater(), 0);
    ASSERT_EQ(readFile(folder / "a"), "newer a");
    EXPECT_EQ(runProgram(updater, {"--roll-back"}, folder.path()), 0);
    EXPECT_EQ(readFile(folder / "a"), "old a");
    EXPECT_FALSE(fs::exists(folder / "backup" / "update.last"));
    const Lines log = folder.log();
    EXPECT_EQ(Lines(log.end() - 2, log.end()),
              (Lines{"Ultimo aggiornamento annullato su richiesta: ripristino della versione precedente",
                     "Ripristino file a"}));
    EXPECT_EQ(runProgram(updater, {"--roll-back"}, folder.path()), 0) << "undone once";
    EXPECT_EQ(folder.log().size(), log.size());
}

} // namespace

// --- Signed updates ----------------------------------------------------------------------------

namespace {

TEST(SignedUpdates, OnlyAWholeSetSignedByATrustedKeyAndNoOlderThanTheLastOneInstalls)
{
    UpdaterFolder folder;
    TempFolder desk; // where the operator publishes, far from any kiosk
    const std::string trusted = makeMinisignKey(desk.path(), "trusted");
    ASSERT_FALSE(trusted.empty()) << readFile(desk / "output.txt");
    ASSERT_FALSE(makeMinisignKey(desk.path(), "other").empty()) << readFile(desk / "output.txt");
    fs::create_directory(desk / "set");
    writeFile(desk / "set" / "a", "new a");
    writeFile(desk / "set" / "page.html", "new page");
    const auto publishSet = [&](const std::string &key) {
        ASSERT_EQ(runProgram(PUBLISH_COMMAND, {"-s", key + ".sec", "set"}, desk.path()), 0)
            << readFile(desk / "output.txt");
        for (const std::string name : {"update.txt", "update.sha256", "update.sha256.minisig", "a", "page.html"})
            folder.publish(name, readFile(desk / "set" / name));
    };
    writeFile(folder / "TesmoraUpdate.ini",
              "[data]\r\nupdate_url=" + folder.server().baseUrl()
                  + "\r\nhealth_check_seconds=0\r\npublic_key=" + trusted + "\r\n");
    writeFile(folder / "a", "old a");
    const std::string verified = "Firma di update.sha256 verificata: firmato il ";

    publishSet("other");
    EXPECT_EQ(folder.runUpdater(), 1);
    ASSERT_FALSE(folder.log().empty());
    EXPECT_EQ(folder.log().back().rfind("Chiave sconosciuta (id ", 0), 0u) << folder.log().back();

    publishSet("trusted");
    folder.publish("a", "altered on the way");
    EXPECT_EQ(folder.runUpdater(), 1);
    EXPECT_EQ(folder.log().back(), "Hash errato per a");
    EXPECT_EQ(readFile(folder / "a"), "old a");
    EXPECT_FALSE(fs::exists(folder / "page.html"));
    EXPECT_EQ(folder.namesIn("backup"), Names{}) << "nothing was even prepared";

    publishSet("trusted");
    EXPECT_EQ(folder.runUpdater(), 0);
    EXPECT_EQ(readFile(folder / "a"), "new a");
    EXPECT_EQ(readFile(folder / "page.html"), "new page");
    const Lines log = folder.log();
    // The altered set's signature held too; only its file did not.
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [&](const std::string &l) { return l.rfind(verified, 0) == 0; }),
              2);

    // The same set again is fine; one older than the last installed is a replay.
    EXPECT_EQ(folder.runUpdater(), 0);
    const std::string state = readFile(folder / "TesmoraUpdate.trust");
    const long long signedAt = std::stoll(state.substr(state.find(':') + 1));
    writeFile(folder / "TesmoraUpdate.trust", "timestamp:" + std::to_string(signedAt + 1) + "\r\n");
    EXPECT_EQ(folder.runUpdater(), 1);
    EXPECT_NE(folder.log().back().find("più vecchio dell'ultimo accettato"), std::string::npos) << folder.log().back();

    // Freezing the fleet: "nothing to do" must be signed as well, and a kiosk whose newest set is
    // older than max_age_days says so whatever the server offers.
    writeFile(folder / "TesmoraUpdate.ini",
              "[data]\r\nupdate_url=" + folder.server().baseUrl() + "\r\npublic_key=" + trusted
                  + "\r\nmax_age_days=1\r\n" + "metrics_file=update.prom\r\n");
    writeFile(folder / "TesmoraUpdate.trust", "timestamp:" + std::to_string(signedAt - 2 * 86400) + "\r\n");
    for (const std::string name : {"update.txt", "update.sha256", "update.sha256.minisig"})
        folder.publish(name, "");
    EXPECT_EQ(folder.runUpdater(), 1);
    const Lines frozen = folder.log();
    EXPECT_EQ(frozen[frozen.size() - 2], "Aggiornamento non firmato: update.sha256.minisig assente o vuoto");
    EXPECT_EQ(
        frozen.back().rfind("Nessun aggiornamento firmato accettato da oltre 1 giorno (l'ultimo è firmato il ", 0), 0u)
        << frozen.back();
    EXPECT_NE(readFile(folder / "update.prom").find("tesmora_update_last_run_result{result=\"stale\"} 1"),
              std::string::npos);
}

} // namespace
