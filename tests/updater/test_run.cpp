// The update run in this process: downloads from a real server on 127.0.0.1, a test clock, and
// a pause and program starts that only count.

#include "httpserver.h"
#include "logreading.h"
#include "platform.h"
#include "tempfolder.h"
#include "testclock.h"
#include "updaterun.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using namespace RunLines;
using Names = std::vector<std::string>;

class Run : public ::testing::Test, public RunObserver
{
protected:
    void SetUp() override
    {
        fs::create_directory(dir / "update");
        fs::create_directory(dir / "backup");
        settings();
    }

    // Extra lines come first: the first of duplicate keys counts.
    void settings(const std::string &extra = {})
    {
        writeFile(dir / "TesmoraUpdate.ini",
                  "[data]\r\n" + extra + "update_url=" + server.baseUrl() + "\r\nhealth_check_seconds=0\r\n");
    }
    void publish(const std::string &name, const std::string &body) { server.serve("/" + name, body); }
    void publishManifest(const Names &entries)
    {
        std::string manifest = "TesmoraUpdate:\r\n";
        for (const auto &entry : entries)
            manifest += entry + "\r\n";
        publish("update.txt", manifest);
    }
    void kioskRunning() { writeFile(dir / "tesmora.lck", "07/12/2026 09:00:00\r\n"); }

    UpdaterEnvironment environment(const fs::path &folder)
    {
        UpdaterEnvironment env;
        env.paths = {folder, "TesmoraUpdate"};
        env.clock = &clock;
        env.waitOneSecond = [this] {
            clock.advance(1s);
            ++waits;
            if (onWait)
                onWait();
        };
        env.startProgram = [this](const fs::path &program) -> Result<long> {
            started.push_back(program.filename().string());
            if (!kioskStarts)
                return Result<long>::failure(errorFor(ErrorNumber::PermissionDenied));
            if (kioskTakesItsLock)
                kioskRunning();
            return {4242, {}};
        };
        env.processRunning = [this](long) { return kioskKeepsRunning && waits < kioskDiesAfter; };
        env.killProcess = [this](long pid) { killed.push_back(pid); };
        return env;
    }
    // One run in the folder, as the window performs it: its settings read first, its metrics
    // written last.
    RunOutcome perform(const fs::path &folder)
    {
        clsFileIni ini;
        ini.setNomeFile((folder / "TesmoraUpdate.ini").string());
        const MonthlyLog updaterLog(LogStyle::Updater, folder, "TesmoraUpdate", clock);
        CountSettingReader counts(ini, [&updaterLog](const std::string &line) { updaterLog.write(line); });
        UpdateRun updateRun(environment(folder), readUpdateSettings(ini), counts, *this);
        running = &updateRun;
        const RunOutcome outcome = updateRun.perform();
        running = nullptr;
        updateRun.writeMetrics(outcome);
        exitCodes.push_back(outcome.exitCode());
        return outcome;
    }
    RunEnd run() { return perform(dir.path()).end; }
    Lines log() const { return updaterLogMessages(dir.path()); }

    void paintNow() override { }
    void showText(const std::string &text) override { shown.push_back(text); }
    void showProgress(size_t done, size_t total) override { progress.emplace_back(done, total); }
    void blockArrived() override
    {
        if (onBlock)
            onBlock();
    }
    void downloadEnded() override { }

    TempFolder dir;
    TestClock clock{{2026, 12, 7, 9, 0, 0}};
    TestHttpServer server;
    int waits = 0;
    std::function<void()> onWait;
    bool kioskStarts = true;
    bool kioskTakesItsLock = true;
    bool kioskKeepsRunning = true;
    int kioskDiesAfter = 1 << 30;
    Names started;
    std::vector<long> killed;
    std::vector<int> exitCodes;
    // What the run showed.
    Names shown;
    std::vector<std::pair<size_t, size_t>> progress;
    std::function<void()> onBlock;
    UpdateRun *running = nullptr;
};

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
    };
    for (const Case &c : {Case{"dies", true, true, 2, "Tesmora terminato dopo 2 secondi"},
                          Case{"hangs", true, false, 1 << 30, "tesmora.lck assente dopo 5 secondi"},
                          Case{"cannot start", false, false, 0, "Tesmora non si avvia"}}) {
        SCOPED_TRACE(c.what);
        settings("health_check_seconds=5\r\n");
        fs::remove(dir / "tesmora.lck");
        fs::remove(dir / ("TesmoraUpdate" + monthStamp(clock.localNow()) + ".log"));
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
        EXPECT_EQ(killed, std::strcmp(c.what, "hangs") == 0 ? std::vector<long>{4242} : std::vector<long>{});
        EXPECT_EQ(exitCodes, std::vector<int>{1});
        EXPECT_FALSE(fs::exists(dir / "backup" / "update.journal"));
        EXPECT_EQ(shown.back(), "Verifica avvio Tesmora...");
    }

    // One that keeps running with its lock file keeps the update.
    kioskStarts = kioskTakesItsLock = true;
    kioskDiesAfter = 1 << 30;
    fs::remove(dir / "tesmora.lck");
    const int before = waits;
    EXPECT_EQ(run(), RunEnd::Finished);
    EXPECT_EQ(waits - before, 5);
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
