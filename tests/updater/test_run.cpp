// The update run's installation, its handling of the kiosk and its recovery, in this process.

#include "platform.h"
#include "runfixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace RunLines;

TEST_F(Run, TouchesOnlyWhatItPutInTheUpdateFolderWhereverThatLies)
{
    // The folder moved to a bigger disk, beside files that are not the updater's, and with the
    // temporary files of many killed downloads.
    TempFolder elsewhere;
    fs::remove(dir / "update");
    fs::create_directory_symlink(elsewhere.path(), dir / "update");
    writeFile(elsewhere / "holiday.jpg", "not the updater's");
    for (int n = 0; n < 150; ++n)
        writeFile(elsewhere / (".a.download-" + std::to_string(n)), "cut short");
    publishManifest({"a"});
    publish("a", "new a");

    EXPECT_EQ(run(), RunEnd::Finished);
    EXPECT_EQ(readFile(dir / "a"), "new a");
    EXPECT_EQ(folderNames(elsewhere.path()), Names{"holiday.jpg"});

    publish("update.txt", "<html>not a manifest</html>");
    EXPECT_EQ(run(), RunEnd::Refused);
    EXPECT_EQ(exitCodes.back(), 1);
    EXPECT_EQ(folderNames(elsewhere.path()), Names{"holiday.jpg"});
}

TEST_F(Run, ARefusedManifestIsNamedShortlyAndNothingMoreIsFetched)
{
    publishManifest({"a", "SHUTDOWN.TXT"});
    EXPECT_EQ(run(), RunEnd::Refused);
    publishManifest({"a", std::string(300, 'n') + "\n01/01/2026 00:00:00 - forged"});
    EXPECT_EQ(run(), RunEnd::Refused);
    EXPECT_EQ(log(),
              (Lines{Start, Check, "Voce non valida nel file semaforo: 'SHUTDOWN.TXT'", Start, Check,
                     "Voce non valida nel file semaforo: '" + std::string(200, 'n') + "'"}));
    EXPECT_EQ(server.requestCount("/a"), 0u);
    EXPECT_EQ(exitCodes, (std::vector<int>{1, 1}));
}

TEST_F(Run, EntriesNameFilesAsTheFolderHasThemAndTravelEncoded)
{
    writeFile(dir / "Data.CFG", "old data");
    writeFile(dir / "OLD.BKU", "expired");
    fs::last_write_time(dir / "OLD.BKU", std::chrono::file_clock::from_sys(clock.now() - 16 * 24h));
    publishManifest({"data.cfg", "Tesmora", "DATA.cfg", "x#y", "50% off"});
    publish("data.cfg", "new data");
    publish("Tesmora", "#!/bin/sh\n");
    publish("x#y", "exactly x#y");
    publish("x", "the wrong file");
    publish("50% off", "half");

    EXPECT_EQ(run(), RunEnd::Finished);
    EXPECT_EQ(folderNames(dir.path()),
              (Names{"50% off", "Data.CFG", "TesmoraUpdate.ini", "TesmoraUpdate202612.log", "backup", "tesmora",
                     "tesmora.lck", "update", "x#y"}));
    EXPECT_EQ(readFile(dir / "Data.CFG"), "new data");
    EXPECT_EQ(readFile(dir / "x#y"), "exactly x#y");
    EXPECT_EQ(readFile(dir / "50% off"), "half");
    EXPECT_EQ(server.requestCount("/x"), 0u);
    EXPECT_NE(fs::status(dir / "tesmora").permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_EQ(folderNames(dir / "backup"), (Names{"Data.CFG.20261207090000.bak", "update.last"}));
    EXPECT_EQ(started, Names{"tesmora"}) << "the kiosk the update brought is started";
    EXPECT_EQ(shown, (Names{"data.cfg", "Tesmora", "x#y", "50% off"}));
    EXPECT_EQ(progress, (std::vector<std::pair<size_t, size_t>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));

    // The same update again within the same second: a second copy, the first kept.
    fs::remove(dir / "tesmora.lck");
    EXPECT_EQ(run(), RunEnd::Finished);
    EXPECT_EQ(folderNames(dir / "backup"),
              (Names{"50% off.20261207090000.bak", "Data.CFG.20261207090000-1.bak", "Data.CFG.20261207090000.bak",
                     "tesmora.20261207090000.bak", "update.last", "x#y.20261207090000.bak"}));
    EXPECT_EQ(readFile(dir / "backup" / "Data.CFG.20261207090000.bak"), "old data");
}

TEST_F(Run, ABadTimeoutFallsBackBeforeTheRequestAndTheKioskIsWaitedFor)
{
    settings("shutdown_timeout=15s\r\n");
    writeFile(dir / "tesmora", "old kiosk");
    kioskRunning();
    publishManifest({"tesmora"});
    publish("tesmora", "new kiosk");
    onWait = [this] {
        EXPECT_TRUE(
            std::regex_match(readFile(dir / "Shutdown.txt"), std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\r\n)")));
        if (waits == 3)
            fs::remove(dir / "tesmora.lck"); // the kiosk ends the orderly way
    };

    EXPECT_EQ(run(), RunEnd::Finished);
    EXPECT_EQ(waits, 3);
    EXPECT_EQ(log(),
              (Lines{Start, Check, Unverified, "Download file tesmora", Cleanup, StopKiosk,
                     "Valore non valido per shutdown_timeout: '15s', uso il valore 15", "Backup file tesmora",
                     "Aggiornamento file tesmora", EmptyUpdate, StartKiosk}));
    EXPECT_FALSE(fs::exists(dir / "Shutdown.txt")) << "the new kiosk must not find the served request";
    EXPECT_EQ(readFile(dir / "tesmora"), "new kiosk");
}

TEST_F(Run, AKioskThatNeverQuitsIsGivenUpOnAndTheEntriesBeforeItAreUndone)
{
    settings("shutdown_timeout=4\r\n");
    writeFile(dir / "a", "old a");
    writeFile(dir / "tesmora", "old kiosk");
    kioskRunning();
    publishManifest({"a", "tesmora", "b"});
    publish("a", "new a");
    publish("tesmora", "new kiosk");
    publish("b", "new b");

    EXPECT_EQ(run(), RunEnd::GaveUp);
    EXPECT_EQ(waits, 4);
    EXPECT_EQ(
        log(),
        (Lines{Start, Check, Unverified, "Download file a", "Download file tesmora", "Download file b", Cleanup,
               "Backup file a", "Aggiornamento file a", StopKiosk,
               "Imposibile terminare il programma Tesmora, tentativi effettuati 4 in 4 secondi", "Ripristino file a"}));
    EXPECT_EQ(readFile(dir / "a"), "old a");
    EXPECT_EQ(readFile(dir / "tesmora"), "old kiosk");
    EXPECT_FALSE(fs::exists(dir / "Shutdown.txt"));
    EXPECT_EQ(started, Names{"tesmora"});
    EXPECT_EQ(exitCodes, std::vector<int>{1});

    // No checks: given up at once, the kiosk still started once more.
    settings("shutdown_timeout=0\r\n");
    publishManifest({"tesmora"});
    EXPECT_EQ(run(), RunEnd::GaveUp);
    EXPECT_EQ(waits, 4);
    EXPECT_EQ(log().back(), "Imposibile terminare il programma Tesmora, tentativi effettuati 0 in 0 secondi");
    EXPECT_FALSE(fs::exists(dir / "Shutdown.txt"));
    EXPECT_EQ(started, (Names{"tesmora", "tesmora"}));
}

TEST_F(Run, AKioskStoppedByARunThatFailsGetsItsOldFilesAndIsStartedAgain)
{
    writeFile(dir / "tesmora", "old kiosk");
    kioskRunning();
    onWait = [this] { fs::remove(dir / "tesmora.lck"); }; // it quits at the request
    publishManifest({"tesmora", "b"});
    publish("tesmora", "new kiosk");
    publish("b", "b");
    fs::create_directory(dir / "b"); // a folder where the file should go: its install fails

    EXPECT_EQ(run(), RunEnd::Failed);
    EXPECT_EQ(log(),
              (Lines{Start, Check, Unverified, "Download file tesmora", "Download file b", Cleanup, StopKiosk,
                     "Backup file tesmora", "Aggiornamento file tesmora", "Aggiornamento file b",
                     "Ripristino file tesmora", StartKiosk, "Error (75) Path/File access error"}));
    EXPECT_EQ(readFile(dir / "tesmora"), "old kiosk");
    EXPECT_EQ(started, Names{"tesmora"});
}

TEST_F(Run, TheKioskIsStartedOnlyWhereItIsInstalledAndNotRunning)
{
    publishManifest({});
    const auto runAlone = [this] {
        forgetLog();
        EXPECT_EQ(run(), RunEnd::Finished);
        return log();
    };
    const Lines installed{Start, Check, Unverified, Cleanup, EmptyUpdate};
    EXPECT_EQ(runAlone(), installed) << "none installed";

    writeFile(dir / "tesmora", "the kiosk");
    kioskRunning();
    EXPECT_EQ(runAlone(), installed) << "one running is left alone";
    EXPECT_FALSE(fs::exists(dir / "Shutdown.txt"));
    EXPECT_EQ(started, Names{});

    fs::remove(dir / "tesmora.lck");
    Lines lines = installed;
    lines.push_back(StartKiosk);
    EXPECT_EQ(runAlone(), lines);
    EXPECT_EQ(started, Names{"tesmora"});

    fs::remove(dir / "tesmora.lck");
    kioskStarts = false;
    lines.push_back("Impossibile riavviare servizio Tesmora");
    EXPECT_EQ(runAlone(), lines);
    EXPECT_EQ(exitCodes, (std::vector<int>{0, 0, 0, 0})) << "a kiosk that cannot start is no failure of the update";
}

TEST_F(Run, ExecutablesStayExecutableAndNewFilesKeepTheirOwnBits)
{
    writeFile(dir / "data.cfg", "old");
    fs::permissions(dir / "data.cfg", fs::perms(0600), fs::perm_options::replace);
    publishManifest({"tesmora", "TesmoraUpdate", "data.cfg", "fresh.txt"});
    publish("tesmora", "#!/bin/sh\n");
    publish("TesmoraUpdate", "#!/bin/sh\n# the next updater\n");
    publish("data.cfg", "new");
    publish("fresh.txt", "fresh");

    EXPECT_EQ(run(), RunEnd::Finished);
    const auto bits = [this](const char *name) { return fs::status(dir / name).permissions() & fs::perms::mask; };
    EXPECT_EQ(bits("tesmora") & fs::perms(0111), fs::perms(0111));
    EXPECT_EQ(bits("TesmoraUpdate") & fs::perms(0111), fs::perms(0111));
    EXPECT_EQ(readFile(dir / "TesmoraUpdate"), "#!/bin/sh\n# the next updater\n");
    EXPECT_EQ(bits("data.cfg"), fs::perms(0600));
    EXPECT_EQ(bits("fresh.txt") & fs::perms(0111), fs::perms::none);
    EXPECT_EQ(started, Names{"tesmora"}) << "a kiosk installed for the first time starts";
}

TEST_F(Run, AFailureHalfWayPutsEveryFileBack)
{
    writeFile(dir / "a", "old a");
    writeFile(dir / "b", "old b");
    fs::create_directory(dir / "c"); // a folder where a file should go: its install fails
    publishManifest({"a", "b", "c", "d"});
    for (const char *name : {"a", "b", "c", "d"})
        publish(name, std::string("new ") + name);

    EXPECT_EQ(run(), RunEnd::Failed);
    EXPECT_EQ(
        log(),
        (Lines{Start, Check, Unverified, "Download file a", "Download file b", "Download file c", "Download file d",
               Cleanup, "Backup file a", "Aggiornamento file a", "Backup file b", "Aggiornamento file b",
               "Aggiornamento file c", "Ripristino file b", "Ripristino file a", "Error (75) Path/File access error"}));
    EXPECT_EQ(readFile(dir / "a"), "old a");
    EXPECT_EQ(readFile(dir / "b"), "old b");
    EXPECT_FALSE(fs::exists(dir / "d"));
    EXPECT_FALSE(fs::exists(dir / "backup" / "update.journal"));
    EXPECT_TRUE(started.empty()) << "a kiosk the run did not stop is left alone";
    // The put-back file is a copy of its own: writing into it leaves the backup as it was.
    writeFile(dir / "a", "edited");
    EXPECT_EQ(readFile(dir / "backup" / "a.20261207090000.bak"), "old a");
}

TEST_F(Run, AFullDiskWhileInstallingIsDiskFullAndTheFolderStaysAsItWas)
{
    // The program folder on a small disk, the update folder on another one: installing copies.
    TempFolder program;
    const SmallDisk disk(program.path(), 256 * 1024);
    if (!disk.mounted())
        GTEST_SKIP() << "this system does not let the test mount a small file system";
    writeFile(program / "TesmoraUpdate.ini", readFile(dir / "TesmoraUpdate.ini"));
    fs::create_directory(program / "backup");
    fs::create_directory_symlink(dir / "update", program / "update");
    writeFile(program / "small", "old small");
    publishManifest({"small", "big"});
    publish("small", "new small");
    publish("big", std::string(512 * 1024, 'b'));

    EXPECT_EQ(perform(program.path()).end, RunEnd::Failed);
    const Lines messages = updaterLogMessages(program.path());
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], "Ripristino file small");
    EXPECT_EQ(messages.back(), "Error (61) Disk full");
    EXPECT_EQ(readFile(program / "small"), "old small");
    EXPECT_FALSE(fs::exists(program / "big"));
}

TEST_F(Run, AKioskThatDoesNotComeUpAfterTheUpdateGetsItsOldFilesBack)
{
    struct Case
    {
        const char *what;
        bool starts, takesLock;
        int diesAfter;
        std::string reason;
        int seconds = 5;
    };
    // Stopped: it runs on with its lock file, which it no longer touches.
    for (const Case &c : {Case{"dies", true, true, 2, "Tesmora terminato dopo 2 secondi"},
                          Case{"hangs", true, false, 1 << 30, "tesmora.lck assente dopo 5 secondi"},
                          Case{"cannot start", false, false, 0, "Tesmora non si avvia"},
                          Case{"stopped", true, true, 1 << 30, "tesmora.lck non aggiornato da 15 secondi", 15}}) {
        SCOPED_TRACE(c.what);
        settings("health_check_seconds=" + std::to_string(c.seconds) + "\r\n");
        fs::remove(dir / "tesmora.lck");
        forgetLog();
        writeFile(dir / "tesmora", "old kiosk");
        writeFile(dir / "page.html", "old page");
        publishManifest({"page.html", "tesmora"});
        publish("page.html", "new page");
        publish("tesmora", "broken kiosk");
        kioskStarts = c.starts;
        kioskTakesItsLock = c.takesLock;
        kioskDiesAfter = waits + c.diesAfter;
        started.clear();
        killed.clear();
        exitCodes.clear();

        EXPECT_EQ(run(), RunEnd::RolledBack);
        const std::string startFailed = "Impossibile riavviare servizio Tesmora";
        Lines tail{StartKiosk, "Aggiornamento annullato: " + c.reason, "Ripristino file tesmora",
                   "Ripristino file page.html", StartKiosk};
        if (!c.starts) {
            tail.insert(tail.begin() + 1, startFailed);
            tail.push_back(startFailed);
        }
        const Lines messages = log();
        ASSERT_GE(messages.size(), tail.size());
        EXPECT_EQ(Lines(messages.end() - static_cast<long>(tail.size()), messages.end()), tail);
        EXPECT_EQ(readFile(dir / "tesmora"), "old kiosk");
        EXPECT_EQ(readFile(dir / "page.html"), "old page");
        EXPECT_EQ(started, (Names{"tesmora", "tesmora"})) << "the restored kiosk is started, and not watched";
        EXPECT_EQ(killed, c.starts && c.diesAfter > c.seconds ? std::vector<long>{4242} : std::vector<long>{});
        EXPECT_EQ(exitCodes, std::vector<int>{1});
        EXPECT_FALSE(fs::exists(dir / "backup" / "update.journal"));
        EXPECT_EQ(shown.back(), "Verifica avvio Tesmora...");
    }

    // One that keeps running and touching its lock file keeps the update.
    settings("health_check_seconds=15\r\n");
    kioskStarts = kioskTakesItsLock = true;
    kioskDiesAfter = 1 << 30;
    fs::remove(dir / "tesmora.lck");
    onWait = [this] {
        if (waits % 2 == 0 && fs::exists(dir / "tesmora.lck"))
            fs::last_write_time(dir / "tesmora.lck",
                                fs::last_write_time(dir / "tesmora.lck") + std::chrono::seconds(2));
    };
    const int before = waits;
    EXPECT_EQ(run(), RunEnd::Finished);
    EXPECT_EQ(waits - before, 15);
    EXPECT_EQ(readFile(dir / "tesmora"), "broken kiosk");
    EXPECT_FALSE(fs::exists(dir / "backup" / "update.journal"));
}

TEST_F(Run, AnUpdateCutShortIsUndoneBeforeAnythingElse)
{
    writeFile(dir / "a", "old a");
    writeFile(dir / "backup" / "a.20261206090000.bak", "old a");
    writeFile(dir / "backup" / "update.journal", "installing\na\ta.20261206090000.bak\nnew\t\n");
    writeFile(dir / "a", "new a"); // the kill came after two files were in place
    writeFile(dir / "new", "new file");
    publish("update.txt", "");

    EXPECT_EQ(run(), RunEnd::NothingToDo);
    EXPECT_EQ(log(),
              (Lines{"Aggiornamento precedente interrotto: ripristino della versione precedente", "Ripristino file new",
                     "Ripristino file a", Start}));
    EXPECT_EQ(readFile(dir / "a"), "old a");
    EXPECT_FALSE(fs::exists(dir / "new"));
    EXPECT_FALSE(fs::exists(dir / "backup" / "update.journal"));

    // Cut short while the kiosk it started was being watched: that kiosk runs (it holds its lock;
    // a lock file alone may be a dead kiosk's), the update stays.
    writeFile(dir / "backup" / "update.journal", "installed\na\ta.20261206090000.bak\n");
    writeFile(dir / "a", "new a");
    kioskRunning();
    {
        platform::InstanceLock kiosk;
        ASSERT_EQ(kiosk.tryLock(dir / ".tesmora.instance"), platform::InstanceLock::Result::Acquired);
        EXPECT_EQ(run(), RunEnd::NothingToDo);
    }
    EXPECT_EQ(readFile(dir / "a"), "new a");
    EXPECT_FALSE(fs::exists(dir / "backup" / "update.journal"));
    EXPECT_EQ(readFile(dir / "backup" / "update.last"), "installed\na\ta.20261206090000.bak\n")
        << "kept as the record of the last update";

    // One that cannot be undone keeps its journal, the only record of where each backup goes:
    // no new update may be installed over it.
    const std::string journal = "installing\na\ta.20261206090000.bak\n";
    writeFile(dir / "backup" / "update.journal", journal);
    fs::remove(dir / "backup" / "a.20261206090000.bak");
    publishManifest({"a"});
    publish("a", "newer a");
    EXPECT_EQ(run(), RunEnd::Failed);
    EXPECT_EQ(readFile(dir / "backup" / "update.journal"), journal);
    EXPECT_EQ(readFile(dir / "a"), "new a");
}

TEST_F(Run, AForgedJournalIsSetAsideAndNothingIsRestoredOrDeleted)
{
    TempFolder outside;
    writeFile(outside / "victim", "not the kiosk's");
    writeFile(dir / "tesmora", "the kiosk");
    writeFile(dir / "a", "new a");
    writeFile(dir / "backup" / "a.20261206090000.bak", "old a");
    const std::string forged =
        "installing\na\ta.20261206090000.bak\n" + (outside / "victim").string() + "\t\ntesmora\t\n";
    writeFile(dir / "backup" / "update.journal", forged);
    publish("update.txt", "");

    EXPECT_EQ(run(), RunEnd::NothingToDo);
    EXPECT_EQ(log().front(),
              "Giornale di aggiornamento non valido: backup/update.journal (riga 3), nessun file "
              "ripristinato; spostato in backup/update.journal.20261207090000.refused");
    EXPECT_EQ(readFile(outside / "victim"), "not the kiosk's");
    EXPECT_EQ(readFile(dir / "tesmora"), "the kiosk");
    EXPECT_EQ(readFile(dir / "a"), "new a");
    EXPECT_FALSE(fs::exists(dir / "backup" / "update.journal"));
    EXPECT_EQ(readFile(dir / "backup" / "update.journal.20261207090000.refused"), forged);

    // Well-formed, but its copy is a link to a file outside: nothing is copied from there.
    writeFile(outside / "secret", "private");
    fs::create_symlink(outside / "secret", dir / "backup" / "a.20261206100000.bak");
    writeFile(dir / "backup" / "update.journal", "installing\na\ta.20261206100000.bak\n");
    EXPECT_EQ(run(), RunEnd::Failed);
    EXPECT_EQ(readFile(dir / "a"), "new a");
    EXPECT_EQ(log().back().rfind("Ripristino non completato: Error (", 0), 0u) << log().back();
}

} // namespace

namespace {

TEST_F(Run, TheLastRunsFiguresGoToTheMetricsFile)
{
    settings("metrics_file=tesmora-update.prom\r\n");
    writeFile(dir / "a", "old a");
    publishManifest({"a", "b"});
    publish("a", "new a");
    publish("b", "0123456789");
    ASSERT_EQ(run(), RunEnd::Finished);
    const std::string metrics = readFile(dir / "tesmora-update.prom");
    for (const char *line : {"\ntesmora_update_last_run_success 1\n", "\ntesmora_update_files_installed 2\n",
                             "\ntesmora_update_last_run_result{result=\"finished\"} 1\n",
                             "\ntesmora_update_info{version=\"1.0.1\"} 1\n", "\ntesmora_update_duration_seconds 0\n"})
        EXPECT_NE(metrics.find(line), std::string::npos) << line << " in\n" << metrics;
    const size_t manifestBytes = std::string("TesmoraUpdate:\r\na\r\nb\r\n").size();
    EXPECT_NE(metrics.find("\ntesmora_update_downloaded_bytes " + std::to_string(manifestBytes + 15) + "\n"),
              std::string::npos)
        << metrics;

    publish("update.txt", "not a manifest");
    settings("metrics_file=" + (dir / "absent" / "m.prom").string() + "\r\n");
    ASSERT_EQ(run(), RunEnd::Refused);
    EXPECT_EQ(log().back(),
              "Impossibile scrivere metrics_file '" + (dir / "absent" / "m.prom").string() + "' (76) Path not found");
}

} // namespace
