// The real TesmoraUpdate, killed with SIGKILL at random moments of a run that installs 20 files:
// after every kill each installed entry must be whole, either its old or its new content, and
// so must every backup copy; one more run must then leave all of them old or all of them new.

#include "updaterfolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <regex>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Kiosk = UpdaterFolder::Kiosk;

constexpr int EntryCount = 20;
constexpr int KioskEntry = 10;

int settingFromEnvironment(const char *name, int fallback)
{
    const char *text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

struct Entry
{
    std::string name;
    std::string oldContent;
    std::string newContent;
};

// Sizes of a few hundred KiB to a few MiB, so that a copy takes long enough to be caught in the
// middle; old and new differ in length, so that no cut-off copy can pass for either.
std::vector<Entry> entries()
{
    std::vector<Entry> list;
    for (int i = 0; i < EntryCount; ++i) {
        if (i == KioskEntry) {
            list.push_back({"tesmora", UpdaterFolder::kioskScript(Kiosk::Passing, "old"),
                            UpdaterFolder::kioskScript(Kiosk::Passing, "new") + std::string(1 << 20, '#')});
            continue;
        }
        const size_t oldSize = (256u << 10) * (1 + i % 4);
        const size_t newSize = oldSize + 1000 + (700u << 10) * (i % 3);
        char name[16];
        std::snprintf(name, sizeof name, "file%02d.bin", i);
        list.push_back({name, arbitraryBytes(oldSize, 100 + i), arbitraryBytes(newSize, 200 + i)});
    }
    return list;
}

std::vector<std::string> namesOf(const std::vector<Entry> &list)
{
    std::vector<std::string> names;
    for (const Entry &e : list)
        names.push_back(e.name);
    return names;
}

void prepare(UpdaterFolder &folder, const std::vector<Entry> &list)
{
    for (const Entry &e : list) {
        writeFile(folder / e.name, e.oldContent);
        folder.publish(e.name, e.newContent);
    }
    fs::permissions(folder / "tesmora", fs::perms(0755), fs::perm_options::replace);
    folder.publishManifest(namesOf(list));
}

// The hidden names copies have until they are complete.
bool isTemporaryName(const std::string &name)
{
    static const std::regex temporary(R"(\..+\.(install|copy|download|write)-\d+)");
    return std::regex_match(name, temporary);
}

// How many entries hold their new content; a check fails for any entry that is neither.
int checkWhole(const UpdaterFolder &folder, const std::vector<Entry> &list, int kill)
{
    int updated = 0;
    for (const Entry &e : list) {
        if (!fs::is_regular_file(folder / e.name)) {
            ADD_FAILURE() << "kill " << kill << ": " << e.name << " is missing";
            continue;
        }
        const std::string content = readFile(folder / e.name);
        if (content == e.newContent)
            ++updated;
        else if (content != e.oldContent)
            ADD_FAILURE() << "kill " << kill << ": " << e.name << " is neither old nor new (" << content.size()
                          << " bytes)";
    }

    // A backup copy is the only way back to an earlier version: it must be whole too.
    std::map<std::string, const Entry *> byName;
    for (const Entry &e : list)
        byName[e.name] = &e;
    const std::regex copyName(R"((.+)\.\d{14}(-\d+)?\.bak)");
    if (!fs::exists(folder / "backup"))
        return updated; // killed before the run made its folders
    for (const std::string &name : folder.namesIn("backup")) {
        if (isTemporaryName(name) || name == "update.journal" || name == "update.last")
            continue; // a copy that never got its name, which the next run clears away; the journals
        std::smatch m;
        if (!std::regex_match(name, m, copyName) || !byName.count(m[1].str())) {
            ADD_FAILURE() << "kill " << kill << ": unexpected file in backup/: " << name;
            continue;
        }
        const Entry &e = *byName[m[1].str()];
        const std::string content = readFile(folder / "backup" / name);
        if (content != e.oldContent && content != e.newContent)
            ADD_FAILURE() << "kill " << kill << ": backup copy " << name << " is not whole (" << content.size()
                          << " bytes)";
    }
    return updated;
}

TEST(CrashSafety, KilledAtRandomMomentsTheFolderIsAllOldOrAllNewAfterOneMoreRun)
{
    const int kills = settingFromEnvironment("TESMORA_CRASH_KILLS", 6);
    const unsigned seed = static_cast<unsigned>(settingFromEnvironment("TESMORA_CRASH_SEED", std::random_device{}()));
    std::cout << "kills: " << kills << ", seed: " << seed << " (TESMORA_CRASH_SEED repeats it)\n";
    const std::vector<Entry> list = entries();

    // One whole run: its length, and how long its installation (the journal's life) lasts.
    using Clock = std::chrono::steady_clock;
    Clock::duration runLength{}, installStart{}, installLength{};
    {
        UpdaterFolder calibration;
        prepare(calibration, list);
        const auto start = Clock::now();
        auto updater = calibration.startUpdater();
        while (updater->running()) {
            const bool journal = fs::exists(calibration / "backup" / "update.journal");
            if (journal && installStart == Clock::duration{})
                installStart = Clock::now() - start;
            if (!journal && installStart != Clock::duration{} && installLength == Clock::duration{})
                installLength = Clock::now() - start - installStart;
            std::this_thread::sleep_for(100us);
        }
        ASSERT_TRUE(updater->waitForExit(60s));
        runLength = Clock::now() - start;
        ASSERT_EQ(updater->exitCode(), 0) << "an uninterrupted run must succeed";
        ASSERT_EQ(checkWhole(calibration, list, 0), EntryCount);
    }
    // On a busy machine the poll can sleep through the whole installation: the kills aimed at it
    // then come as soon as the journal appears, which is still inside it.
    const auto us = [](Clock::duration d) { return std::chrono::duration_cast<std::chrono::microseconds>(d).count(); };
    std::cout << "an uninterrupted run takes " << us(runLength) / 1000 << " ms, installing from "
              << us(installStart) / 1000 << " ms for " << us(installLength) / 1000 << " ms\n";

    UpdaterFolder folder;
    prepare(folder, list);
    std::mt19937 random(seed);
    // Every other moment falls in the installation, where a kill can do harm; the others anywhere.
    // Installing lasts milliseconds, less than a program's start varies: those kills wait for
    // the journal to appear and take their moment from there.
    std::uniform_int_distribution<long long> anywhere(0, us(runLength));
    std::uniform_int_distribution<long long> installing(0, us(installLength));
    int caughtMidInstall = 0;
    // A busy machine can wake the harness too late for every aimed kill: a few more come then, as
    // soon as the journal appears, until one lands inside.
    constexpr int ExtraTries = 10;
    int kill = 1;
    for (; kill <= kills || (caughtMidInstall == 0 && kill <= kills + ExtraTries); ++kill) {
        const bool aimed = kill % 2 == 0 || kill > kills;
        folder.publishManifest(namesOf(list));
        auto updater = folder.startUpdater();
        if (aimed) {
            while (updater->running() && !fs::exists(folder / "backup" / "update.journal"))
                std::this_thread::sleep_for(100us);
        }
        const long long wait = !aimed ? anywhere(random) : kill <= kills ? installing(random) : 0;
        std::this_thread::sleep_for(std::chrono::microseconds(wait));
        updater->kill();
        const int updated = checkWhole(folder, list, kill);
        caughtMidInstall += fs::exists(folder / "backup" / "update.journal");

        // One more run finds what the killed one left: half the time with the update still
        // published, half the time with nothing to install.
        const bool withUpdate = aimed;
        if (!withUpdate)
            folder.publish("update.txt", "");
        ASSERT_EQ(folder.runUpdater(60s), 0);
        const int after = checkWhole(folder, list, kill);
        std::cout << "kill " << kill << ": " << updated << " of " << EntryCount << " entries new; after one more run "
                  << after << "\n";
        EXPECT_TRUE(after == 0 || after == EntryCount) << "kill " << kill << ": a kiosk of mixed versions";
        if (withUpdate) {
            EXPECT_EQ(after, EntryCount);
        }
        EXPECT_FALSE(fs::exists(folder / "backup" / "update.journal"));
        if (HasFailure())
            return;
        // The next kill again meets an update in progress.
        for (const Entry &e : list) {
            fs::remove(folder / e.name);
            writeFile(folder / e.name, e.oldContent);
        }
        fs::permissions(folder / "tesmora", fs::perms(0755), fs::perm_options::replace);
    }
    std::cout << kill - 1 << " kills, " << caughtMidInstall << " of them in the middle of an installation\n";
    EXPECT_GT(caughtMidInstall, 0) << "no kill reached an installation: the harness tested nothing that matters";
    EXPECT_EQ(folder.namesIn("update"), std::set<std::string>{});
    for (const char *sub : {"", "backup"}) {
        for (const std::string &name : folder.namesIn(sub))
            EXPECT_FALSE(isTemporaryName(name)) << "left behind in " << sub << "/: " << name;
    }
}

} // namespace

namespace {

TEST(CrashSafety, AKioskThatCannotComeUpIsUndoneAndTheOldOneRunsAgainInTime)
{
    UpdaterFolder folder;
    constexpr int HealthSeconds = 3;
    writeFile(folder / "TesmoraUpdate.ini",
              "[data]\r\nupdate_url=" + folder.server().baseUrl()
                  + "\r\nhealth_check_seconds=" + std::to_string(HealthSeconds) + "\r\n");
    folder.installKiosk(Kiosk::Obliging, "old");
    const std::string oldKiosk = readFile(folder / "tesmora");
    auto kiosk = folder.startKiosk();
    folder.publishManifest({"tesmora"});
    folder.publish("tesmora", "#!/bin/sh\n# a build that cannot start\nexit 1\n");

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(folder.runUpdater(), 1);
    ASSERT_TRUE(folder.waitForKioskEvents(3, 10s));
    const auto runningAgain = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(folder.kioskEvents(),
              (std::vector<std::string>{"old started", "old executable in place", "old started"}));
    EXPECT_LT(runningAgain, std::chrono::seconds(HealthSeconds + 10));
    EXPECT_EQ(readFile(folder / "tesmora"), oldKiosk);
    const auto log = folder.log();
    // How many seconds it took depends on the machine; the count is checked with a test clock.
    const std::string undone = "Aggiornamento annullato: Tesmora terminato dopo ";
    EXPECT_NE(std::find_if(log.begin(), log.end(), [&](const std::string &line) { return line.rfind(undone, 0) == 0; }),
              log.end())
        << testing::PrintToString(log);
}

} // namespace
