#pragma once

// The update run in this process: downloads from a real server on 127.0.0.1, a test clock, and
// a pause and program starts that only count. The test is the run's observer.

#include "httpserver.h"
#include "logreading.h"
#include "tempfolder.h"
#include "testclock.h"
#include "updaterun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class Run : public ::testing::Test, public RunObserver
{
protected:
    using Lines = std::vector<std::string>; // of the log
    using Names = std::vector<std::string>; // of files

    void SetUp() override
    {
        std::filesystem::create_directory(dir / "update");
        std::filesystem::create_directory(dir / "backup");
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

    UpdaterEnvironment environment(const std::filesystem::path &folder)
    {
        UpdaterEnvironment env;
        env.paths = {folder, "TesmoraUpdate"};
        env.clock = &clock;
        env.waitOneSecond = [this] {
            clock.advance(std::chrono::seconds(1));
            ++waits;
            if (onWait)
                onWait();
        };
        env.startProgram = [this](const std::filesystem::path &program) -> Result<long> {
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
    RunOutcome perform(const std::filesystem::path &folder)
    {
        clsFileIni ini;
        ini.setNomeFile((folder / "TesmoraUpdate.ini").string());
        const MonthlyLog updaterLog(LogStyle::Updater, folder, "TesmoraUpdate", clock);
        CountSettingReader counts(ini, [&updaterLog](const std::string &line) { updaterLog.write(line); });
        UpdateRun updateRun(environment(folder), readUpdateSettings(ini), counts, *this);
        const RunOutcome outcome = updateRun.perform();
        updateRun.finish(outcome);
        exitCodes.push_back(outcome.exitCode());
        // Every run, whatever its end, closes its story with its result, once.
        const Lines all = updaterLogMessages(folder, "TesmoraUpdate", LogLines::All);
        EXPECT_EQ(all.empty() ? "" : all.back(), RunLines::Closing + outcome.resultName());
        EXPECT_FALSE(all.size() >= 2 && all[all.size() - 2].starts_with(RunLines::Closing)) << "one closing line";
        return outcome;
    }
    RunEnd run() { return perform(dir.path()).end; }
    Lines log() const { return updaterLogMessages(dir.path()); }
    void forgetLog() const
    {
        std::filesystem::remove(MonthlyLog(LogStyle::Updater, dir.path(), "TesmoraUpdate", clock).currentFile());
    }

    void paintNow() override { }
    void showText(const std::string &text) override { shown.push_back(text); }
    void showProgress(size_t done, size_t total) override { progress.emplace_back(done, total); }
    void blockArrived() override { }
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
};
