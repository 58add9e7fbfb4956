#include "monthlylog.h"
#include "tempfolder.h"
#include "testclock.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(LogFileNames, KioskHasADotUpdaterHasNone)
{
    const LocalDateTime dec2007{2007, 12, 3, 9, 4, 5};
    EXPECT_EQ(logFileName(LogStyle::Kiosk, "tesmora", dec2007), "tesmora.200712.log");
    EXPECT_EQ(logFileName(LogStyle::Updater, "TesmoraUpdate", dec2007), "TesmoraUpdate200712.log");
    EXPECT_EQ(logFileName(LogStyle::Kiosk, "kiosk2", {2026, 1, 31, 0, 0, 0}), "kiosk2.202601.log");
    EXPECT_EQ(logTimeStamp(dec2007), "03/12/2007 09:04:05 - ");
}

TEST(MonthlyLog, KioskLinesAreBareMessagesAppendedWithCrLfAndControlsEscaped)
{
    TempFolder dir;
    TestClock clock({2026, 12, 7, 23, 59, 58});
    MonthlyLog log(LogStyle::Kiosk, dir.path(), "tesmora", clock);
    log.write("File di configurazione mancante: impossibile avviare applicazione.");
    log.write("");
    // Text from outside never forges a line of its own, nor floods the file.
    log.write("prima riga\r\n01/12/2026 10:00:00 - falsa\x1b[2J");
    log.write("\xC3\xA8" + std::string(1200, 'x'));
    EXPECT_EQ(readFile(dir / "tesmora.202612.log"),
              "File di configurazione mancante: impossibile avviare applicazione.\r\n\r\n"
              "prima riga\\r\\n01/12/2026 10:00:00 - falsa\\x1b[2J\r\n"
              "\xC3\xA8"
                  + std::string(999, 'x') + "\r\n");
}

TEST(MonthlyLog, UpdaterLinesCarryTheirTimeStamp)
{
    TempFolder dir;
    TestClock clock({2026, 3, 4, 5, 6, 7});
    MonthlyLog log(LogStyle::Updater, dir.path(), "TesmoraUpdate", clock);
    log.write("Download file semaforo");
    log.write("");
    log.write("Verifica autenticità file di upload");
    EXPECT_EQ(readCrLfLines(dir / "TesmoraUpdate202603.log"),
              (std::vector<std::string>{"04/03/2026 05:06:07 - Download file semaforo", "04/03/2026 05:06:07 - ",
                                        "04/03/2026 05:06:07 - Verifica autenticità file di upload"}));
}

TEST(MonthlyLog, ANewMonthStartsANewFileAndLeavesTheOldOne)
{
    TempFolder dir;
    writeFile(dir / "tesmora.202611.log", "old line\r\n");
    TestClock clock({2026, 11, 30, 23, 59, 59});
    MonthlyLog log(LogStyle::Kiosk, dir.path(), "tesmora", clock);
    log.write("november");
    clock.advance(std::chrono::seconds(1));
    log.write("december");
    EXPECT_EQ(readFile(dir / "tesmora.202611.log"), "old line\r\nnovember\r\n");
    EXPECT_EQ(readFile(dir / "tesmora.202612.log"), "december\r\n");
}

TEST(MonthlyLog, AnUnwritableFolderReturnsNormally)
{
    TempFolder dir;
    writeFile(dir / "afile", "x");
    TestClock clock;
    // A folder below a file can never be created, not even by root.
    MonthlyLog log(LogStyle::Updater, dir / "afile" / "folder", "TesmoraUpdate", clock);
    EXPECT_NO_THROW(log.write("lost"));
    EXPECT_EQ(readFile(dir / "afile"), "x");

    if (geteuid() != 0) {
        std::filesystem::permissions(dir.path(),
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        MonthlyLog readOnly(LogStyle::Kiosk, dir.path(), "tesmora", clock);
        EXPECT_NO_THROW(readOnly.write("lost"));
        EXPECT_FALSE(std::filesystem::exists(readOnly.currentFile()));
    }
}

} // namespace
