#include "fileops.h"
#include "installfile.h"
#include "tempfolder.h"
#include "testclock.h"
#include "updaterules.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace {

namespace fs = std::filesystem;
using std::chrono::hours;
using std::chrono::seconds;

constexpr auto Day = hours(24);

std::set<std::string> namesIn(const fs::path &folder)
{
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

fs::perms permsOf(const fs::path &path)
{
    return fs::status(path).permissions() & fs::perms::mask;
}

void setPerms(const fs::path &path, fs::perms perms)
{
    fs::permissions(path, perms, fs::perm_options::replace);
}

void setModified(const fs::path &path, TimePoint t)
{
    fs::last_write_time(path, std::chrono::file_clock::from_sys(t));
}

TEST(BackupCopyName, EntryStampAndExtensionShortenedOnlyWhereTheNameWouldNotFit)
{
    EXPECT_EQ(backupCopyName("tesmora.exe", {2007, 5, 3, 9, 30, 12}), "tesmora.exe.20070503093012.bak");
    EXPECT_EQ(backupCopyName("a", {2026, 12, 31, 23, 59, 59}, 2), "a.20261231235959-2.bak");
    const std::string longName = std::string(250, 'n') + "\xC3\xA0"; // ends in a two-byte character
    const std::string copy = backupCopyName(longName, {2026, 12, 31, 23, 59, 59}, 1);
    EXPECT_EQ(copy, std::string(234, 'n') + ".20261231235959-1.bak");
    EXPECT_EQ(copy.size(), 255u);
}

TEST(BackupCopy, TakesTheFirstFreeNameAndNeverOverwrites)
{
    TempFolder dir;
    fs::create_directory(dir / "backup");
    const LocalDateTime stamp{2026, 12, 7, 9, 0, 0};
    Result<std::string> made;
    for (const char *content : {"first", "second", "third"}) {
        fs::remove(dir / "a");
        writeFile(dir / "a", content); // each run replaces the file, as installing does
        made = makeBackupCopy(dir / "a", dir / "backup", stamp);
        ASSERT_TRUE(made.ok());
    }
    EXPECT_EQ(made.value, "a.20261207090000-2.bak");
    EXPECT_EQ(readFile(dir / "backup" / "a.20261207090000.bak"), "first");
    EXPECT_EQ(readFile(dir / "backup" / "a.20261207090000-1.bak"), "second");
    EXPECT_EQ(readFile(dir / "backup" / "a.20261207090000-2.bak"), "third");
}

TEST(EntryAddress, EverythingButUnreservedCharactersIsPercentEncoded)
{
    EXPECT_EQ(entryAddress("http://h/u/", "page-1_a.b~c"), "http://h/u/page-1_a.b~c");
    EXPECT_EQ(entryAddress("http://h/u/", "x#y"), "http://h/u/x%23y");
    EXPECT_EQ(entryAddress("http://h/u/", "50% a+b&c"), "http://h/u/50%25%20a%2Bb%26c");
    EXPECT_EQ(entryAddress("http://h/u/", "citt\xC3\xA0"), "http://h/u/citt%C3%A0");
}

TEST(KioskEntry, MatchesInAnyCaseButNotWithBlanksOrExtensions)
{
    EXPECT_TRUE(namesExecutable("tesmora", "tesmora"));
    EXPECT_TRUE(namesExecutable("Tesmora", "tesmora"));
    EXPECT_TRUE(namesExecutable("TESMORA", "tesmora"));
    EXPECT_TRUE(namesExecutable("tesmoraupdate", "TesmoraUpdate"));
    EXPECT_FALSE(namesExecutable(" tesmora", "tesmora"));
    EXPECT_FALSE(namesExecutable("tesmora.exe", "tesmora"));
    EXPECT_FALSE(namesExecutable("tesmor", "tesmora"));
}

TEST(BkuAge, OlderThanFifteenDaysAtTheSameTimeOfDay)
{
    TestClock clock({2026, 6, 20, 10, 0, 0});
    const TimePoint now = clock.now();
    EXPECT_TRUE(isExpiredBku(now - 16 * Day, now));
    EXPECT_TRUE(isExpiredBku(now - 15 * Day - seconds(1), now));
    EXPECT_FALSE(isExpiredBku(now - 15 * Day, now)); // exactly at the limit
    EXPECT_FALSE(isExpiredBku(now - 14 * Day, now));
    EXPECT_FALSE(isExpiredBku(now + Day, now));
}

class BkuFolder : public ::testing::Test
{
protected:
    fs::path file(const std::string &name, std::chrono::system_clock::duration age)
    {
        const fs::path path = dir / name;
        fs::create_directories(path.parent_path());
        writeFile(path, name);
        setModified(path, clock.now() - age);
        return path;
    }

    TempFolder dir;
    TestClock clock{{2026, 6, 20, 10, 0, 0}};
};

TEST_F(BkuFolder, OnlyExpiredBkuFilesDirectlyInTheFolderGo)
{
    file("old.bku", 16 * Day);
    file(".bku", 16 * Day);
    file("young.bku", 14 * Day);
    file("limit.bku", 15 * Day);
    file("old.bak", 16 * Day);
    file("old.bku.txt", 16 * Day);
    file("old.BKU", 16 * Day); // matched as the names' first file systems did, in any case
    file("sub/old.bku", 16 * Day);
    file("backup/a.20260101000000.bak", 160 * Day);
    fs::create_directory(dir / "folder.bku");
    setModified(dir / "folder.bku", clock.now() - 16 * Day);

    ASSERT_TRUE(removeExpiredBkuFiles(dir.path(), clock).ok());
    EXPECT_EQ(
        namesIn(dir.path()),
        (std::set<std::string>{"young.bku", "limit.bku", "old.bak", "old.bku.txt", "sub", "backup", "folder.bku"}));
    EXPECT_TRUE(fs::exists(dir / "sub" / "old.bku"));
    EXPECT_TRUE(fs::exists(dir / "backup" / "a.20260101000000.bak"));
}

TEST_F(BkuFolder, TheClockDecides)
{
    file("young.bku", 14 * Day);
    ASSERT_TRUE(removeExpiredBkuFiles(dir.path(), clock).ok());
    EXPECT_TRUE(fs::exists(dir / "young.bku"));
    clock.advance(2 * Day);
    ASSERT_TRUE(removeExpiredBkuFiles(dir.path(), clock).ok());
    EXPECT_FALSE(fs::exists(dir / "young.bku"));
}

TEST_F(BkuFolder, MissingFolderIsAFailure)
{
    const ErrorInfo error = removeExpiredBkuFiles(dir / "absent", clock);
    EXPECT_EQ(error.number, 53);
}

class Installing : public ::testing::Test
{
protected:
    void SetUp() override { fs::create_directory(dir / "update"); }

    fs::path staged(const std::string &name, const std::string &content, fs::perms perms = fs::perms(0644))
    {
        const fs::path path = dir / "update" / name;
        writeFile(path, content);
        setPerms(path, perms);
        return path;
    }
    fs::path installed(const std::string &name, const std::string &content, fs::perms perms)
    {
        const fs::path path = dir / name;
        writeFile(path, content);
        setPerms(path, perms);
        return path;
    }

    TempFolder dir;
};

TEST_F(Installing, MovesTheNewFileInAndKeepsTheReplacedFilesBits)
{
    const fs::path target = installed("data.cfg", "old and longer content", fs::perms(0640));
    ASSERT_TRUE(installFile(staged("data.cfg", "new"), target, false).ok());
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(permsOf(target), fs::perms(0640));
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"data.cfg", "update"}));
    EXPECT_EQ(namesIn(dir / "update"), std::set<std::string>{});
}

TEST_F(Installing, ANewFileKeepsItsOwnBits)
{
    ASSERT_TRUE(installFile(staged("fresh.txt", "x", fs::perms(0604)), dir / "fresh.txt", false).ok());
    EXPECT_EQ(permsOf(dir / "fresh.txt"), fs::perms(0604));
}

TEST_F(Installing, ExecutablesAreExecutableWhereverReadable)
{
    ASSERT_TRUE(installFile(staged("tesmora", "#!/bin/sh\n"), dir / "tesmora", true).ok());
    EXPECT_EQ(permsOf(dir / "tesmora"), fs::perms(0755));

    installed("TesmoraUpdate", "old", fs::perms(0600));
    ASSERT_TRUE(installFile(staged("TesmoraUpdate", "new"), dir / "TesmoraUpdate", true).ok());
    EXPECT_EQ(permsOf(dir / "TesmoraUpdate"), fs::perms(0700));

    installed("kept", "old", fs::perms(0750));
    ASSERT_TRUE(installFile(staged("kept", "new"), dir / "kept", true).ok());
    EXPECT_EQ(permsOf(dir / "kept"), fs::perms(0750));
}

TEST_F(Installing, ReplacesByRenameSoAReaderNeverSeesItHalfWritten)
{
    const fs::path target = installed("tesmora", "old executable", fs::perms(0755));
    std::ifstream openedBefore(target, std::ios::binary);
    ASSERT_TRUE(installFile(staged("tesmora", "new executable"), target, true).ok());
    // Whoever had the old file open still reads the old file whole: it was never rewritten.
    std::string seen((std::istreambuf_iterator<char>(openedBefore)), std::istreambuf_iterator<char>());
    EXPECT_EQ(seen, "old executable");
    EXPECT_EQ(readFile(target), "new executable");
}

TEST_F(Installing, MissingSourceLeavesTheTargetAlone)
{
    const fs::path target = installed("a", "still here", fs::perms(0644));
    const ErrorInfo error = installFile(dir / "update" / "a", target, false);
    EXPECT_EQ(error.number, 53);
    EXPECT_EQ(error.description, "File not found");
    EXPECT_EQ(readFile(target), "still here");
}

TEST_F(Installing, FailureLeavesNoTemporaryFile)
{
    // A folder in the way cannot be replaced by a file.
    fs::create_directories(dir / "a" / "inside");
    const ErrorInfo error = installFile(staged("a", "new"), dir / "a", false);
    EXPECT_TRUE(error.failed());
    EXPECT_TRUE(fs::is_directory(dir / "a" / "inside"));
    EXPECT_EQ(namesIn(dir.path()), (std::set<std::string>{"a", "update"}));
}

TEST_F(Installing, StepsOverAFileThatHasTheTemporaryName)
{
    writeFile(dir / ".a.install-0", "somebody's file");
    ASSERT_TRUE(installFile(staged("a", "new"), dir / "a", false).ok());
    EXPECT_EQ(readFile(dir / ".a.install-0"), "somebody's file");
    EXPECT_EQ(readFile(dir / "a"), "new");
}

TEST_F(Installing, ACopyUnderANewNameNeverOverwrites)
{
    const fs::path source = installed("a", "current", fs::perms(0644));
    ASSERT_TRUE(copyFile(source, dir / "copy", CopyPlacement::NewName).ok());
    EXPECT_EQ(readFile(dir / "copy"), "current");

    fs::remove(source); // replaced, as the updater replaces files: by a new file
    writeFile(source, "newer");
    const ErrorInfo error = copyFile(source, dir / "copy", CopyPlacement::NewName);
    EXPECT_EQ(error.number, 75);
    EXPECT_EQ(readFile(dir / "copy"), "current");
}

TEST_F(Installing, ACopyUnderANewNameLeavesOnlyTheWholeCopy)
{
    const fs::path source = installed("a", std::string(300000, 'x'), fs::perms(0644));
    fs::create_directory(dir / "backup");
    writeFile(dir / "backup" / ".a.bak.copy-0", "somebody's file");
    ASSERT_TRUE(copyFile(source, dir / "backup" / "a.bak", CopyPlacement::NewName).ok());
    EXPECT_EQ(readFile(dir / "backup" / "a.bak"), std::string(300000, 'x'));
    EXPECT_EQ(namesIn(dir / "backup"), (std::set<std::string>{".a.bak.copy-0", "a.bak"}));
}

TEST_F(Installing, LeftoversOfAKilledInstallationAreRemovedAndNothingElse)
{
    for (const char *name : {".a.install-0", ".a.install-17", ".tesmora.20261207090000.bak.copy-2", ".a", "a",
                             "a.install-0", ".a.install-", ".a.install-x", ".a.download-0"})
        writeFile(dir / name, "x");
    fs::create_directory(dir / ".b.install-1");
    removeBesideFiles(dir.path(), {"install", "copy"});
    EXPECT_EQ(namesIn(dir.path()),
              (std::set<std::string>{".a", "a", "a.install-0", ".a.install-", ".a.install-x", ".a.download-0",
                                     ".b.install-1", "update"}));
}

TEST_F(Installing, CopyIntoAMissingFolderIsPathNotFound)
{
    const fs::path source = installed("a", "current", fs::perms(0644));
    EXPECT_EQ(copyFile(source, dir / "backup" / "a.bak", CopyPlacement::NewName).number, 76);
}

TEST(NewFileBeside, CreatesHiddenNamesThatNeverClash)
{
    TempFolder dir;
    writeFile(dir / "update.txt", "earlier");
    const NewFile first = createFileBeside(dir / "update.txt", "download").value;
    const NewFile second = createFileBeside(dir / "update.txt", "download").value;
    ASSERT_TRUE(first.file && second.file);
    EXPECT_EQ(first.path.filename(), ".update.txt.download-0");
    EXPECT_EQ(second.path.filename(), ".update.txt.download-1");
    std::fclose(first.file);
    std::fclose(second.file);
    EXPECT_EQ(readFile(dir / "update.txt"), "earlier");

    // A name at the file system's limit still gets a temporary name that fits.
    const NewFile beside = createFileBeside(dir / std::string(255, 'n'), "download").value;
    ASSERT_TRUE(beside.file);
    EXPECT_EQ(beside.path.filename().string(), "." + std::string(243, 'n') + ".download-0");
    std::fclose(beside.file);

    const Result<NewFile> nowhere = createFileBeside(dir / "absent" / "x", "download");
    EXPECT_EQ(nowhere.error.number, 76);
    EXPECT_EQ(nowhere.value.file, nullptr);
}

} // namespace
