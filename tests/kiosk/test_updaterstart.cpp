#include "formtimer.h"
#include "kioskfixture.h"
#include "kiosksettings.h"
#include "platform.h"
#include "process.h"
#include "updaterstart.h"

#include <sys/stat.h>

namespace {

class UpdaterStartTest : public RuleFixture
{
protected:
    void start(const std::string &time, int16_t spreadMinutes = 0)
    {
        KioskSettings settings;
        settings.updateTime = time;
        settings.updateSpread = spreadMinutes;
        updater.configure(settings);
    }
    void tickAt(const LocalDateTime &t)
    {
        clock.setLocal(t);
        updater.tick();
    }

    FormTimer timer{1000};
    UpdaterStart updater{&timer, {dir.path(), "tesmora"}, clock, log};
};

TEST_F(UpdaterStartTest, TheUpdaterStartsOnceADayAMinuteAfterTheConfiguredMinute)
{
    // Found for "tesmora" without regard to case; it notes where it runs and its arguments.
    const auto standIn = dir / "TesmoraUpdate";
    writeFile(standIn, "#!/bin/sh\necho \"$PWD $#\" > \"$PWD/updater-started.txt\"\n");
    chmod(standIn.c_str(), 0755);
    start("7:5");
    tickAt({2026, 12, 7, 7, 4, 59});
    EXPECT_FALSE(updater.pending());
    tickAt({2026, 12, 7, 7, 5, 0});
    EXPECT_TRUE(updater.pending());
    EXPECT_EQ(timer.interval(), 60000);
    EXPECT_FALSE(std::filesystem::exists(dir / "updater-started.txt"));

    tickAt({2026, 12, 7, 7, 6, 0});
    EXPECT_FALSE(updater.pending());
    EXPECT_EQ(timer.interval(), 1000);
    EXPECT_TRUE(waitUntil([&] { return readFile(dir / "updater-started.txt") == dir.path().string() + " 0\n"; },
                          std::chrono::seconds(10)))
        << "started in the program folder, without arguments: " << readFile(dir / "updater-started.txt");
    std::filesystem::remove(dir / "updater-started.txt");

    for (int s = 1; s < 3600 * 16; s += 7) { // the rest of the day
        tickAt({2026, 12, 7, 7, 6, s});
        ASSERT_FALSE(updater.pending()) << s;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "updater-started.txt"));
    tickAt({2026, 12, 8, 7, 5, 30});
    EXPECT_TRUE(updater.pending()) << "and again the next day";
    EXPECT_EQ(kioskLog(), "");
}

TEST_F(UpdaterStartTest, AnUpdateTimeWithLeadingZerosOrEmptyNeverStarts)
{
    for (const char *time : {"07:05", ""}) {
        start(time);
        for (int s = 0; s < 24 * 3600; s += 30) {
            tickAt({2026, 12, 7, 0, 0, s});
            ASSERT_FALSE(updater.pending()) << time;
        }
    }
}

TEST_F(UpdaterStartTest, AMissingOrUnstartableUpdaterGivesExactlyOneLogLineAndTheEventLogTellsTheStart)
{
    start("0:0");
    const auto runDay = [&](int day) {
        for (int s = 0; s < 180; ++s)
            tickAt({2026, 12, day, 0, 0, s});
    };
    runDay(7);
    EXPECT_EQ(kioskLog(), "Errore nell'avvio di tesmoraUpdate\r\n");
    EXPECT_EQ(timer.interval(), 1000);

    writeFile(dir / "TesmoraUpdate", "not a program"); // found, but cannot be started
    log.setEventsLogged(true);
    runDay(8);
    EXPECT_EQ(kioskLog(),
              "Errore nell'avvio di tesmoraUpdate\r\n08/12/2026 00:01:00 - Avvio di tesmoraUpdate\r\n"
              "08/12/2026 00:01:00 - Errore nell'avvio di tesmoraUpdate\r\n");
}

TEST_F(UpdaterStartTest, ASpreadStartsTheUpdaterItsOwnDelayAfterTheUsualMinute)
{
    start("7:5", 2);
    const int delay = updateSpreadSeconds(platform::machineIdentity(), 2);
    tickAt({2026, 12, 7, 7, 5, 0}); // arms; the armed timer ticks a minute later, then every second
    for (int s = 60; s <= 60 + delay; ++s) {
        ASSERT_EQ(kioskLog(), "") << s;
        tickAt({2026, 12, 7, 7, 5, s});
    }
    EXPECT_EQ(kioskLog(),
              "Avvio di tesmoraUpdate con un ritardo di " + std::to_string(delay)
                  + " secondi\r\nErrore nell'avvio di tesmoraUpdate\r\n");
}

TEST(UpdateSpread, TheSameMachineTakesTheSameSlotAndAFleetSpreadsOverTheWholeSpread)
{
    EXPECT_EQ(updateSpreadSeconds("kiosk-1", 0), 0);
    EXPECT_FALSE(platform::machineIdentity().empty());
    // 600 kiosks named one after the other over 10 minutes: every minute gets its share.
    std::vector<int> perMinute(10);
    for (int k = 0; k < 600; ++k) {
        const int delay = updateSpreadSeconds("kiosk-" + std::to_string(k), 10);
        ASSERT_TRUE(delay >= 0 && delay < 600 && delay == updateSpreadSeconds("kiosk-" + std::to_string(k), 10));
        ++perMinute[delay / 60];
    }
    for (const int n : perMinute)
        EXPECT_TRUE(n >= 30 && n <= 90) << n;
}

} // namespace
