#include "tempfolder.h"
#include "updatetransaction.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

TEST(Journal, ReadsBackWhatItWroteAndNeverHalfAList)
{
    const Journal journal{Journal::State::Installed, {{"tesmora", "tesmora.20261207090000.bak"}, {"new file", ""}}};
    const std::string text = journalText(journal);
    EXPECT_EQ(text, "installed\ntesmora\ttesmora.20261207090000.bak\nnew file\t\n");
    const auto read = parseJournal(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->state, Journal::State::Installed);
    EXPECT_EQ(read->entries, journal.entries);

    EXPECT_FALSE(parseJournal(text.substr(0, text.size() - 1))) << "a last line without its end";
    EXPECT_FALSE(parseJournal("installing\nno tab here\n"));
    EXPECT_FALSE(parseJournal("something else\n"));
    EXPECT_FALSE(parseJournal(""));
}

class Transaction : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fs::create_directory(dir / "backup");
        fs::create_directory(dir / "update");
        writeFile(dir / "a", "old a");
        writeFile(dir / "b", "old b");
    }
    fs::path staged(const std::string &name, const std::string &content)
    {
        writeFile(dir / "update" / name, content);
        return dir / "update" / name;
    }
    Names rollBack(UpdateTransaction &transaction)
    {
        Names restored;
        EXPECT_TRUE(transaction.rollback([&](const std::string &name) { restored.push_back(name); }).ok());
        return restored;
    }

    TempFolder dir;
    const LocalDateTime stamp{2026, 12, 7, 9, 0, 0};
};

TEST_F(Transaction, UndoingPutsBackWhatWasInstalledAndRemovesWhatWasNew)
{
    UpdateTransaction transaction(dir.path(), dir / "backup");
    ASSERT_TRUE(transaction.begin({"a", "new", "b"}, stamp).ok());
    ASSERT_TRUE(fs::exists(dir / "backup" / UpdateTransaction::JournalName)) << "written before anything changes";
    ASSERT_TRUE(transaction.install(0, staged("a", "new a"), false).ok());
    ASSERT_TRUE(transaction.install(1, staged("new", "brand new"), false).ok());

    EXPECT_EQ(rollBack(transaction), (Names{"new", "a"})) << "b was never replaced";
    EXPECT_EQ(readFile(dir / "a"), "old a");
    EXPECT_EQ(readFile(dir / "b"), "old b");
    EXPECT_FALSE(fs::exists(dir / "new"));
    EXPECT_FALSE(fs::exists(dir / "backup" / UpdateTransaction::JournalName));
    // The put-back file is a copy of its own: writing into it leaves the backup as it was.
    writeFile(dir / "a", "edited");
    EXPECT_EQ(readFile(dir / "backup" / "a.20261207090000.bak"), "old a");
}

TEST_F(Transaction, AJournalLeftBehindIsUndoneWholeOrKept)
{
    {
        UpdateTransaction cutShort(dir.path(), dir / "backup");
        ASSERT_TRUE(cutShort.begin({"a", "new", "b"}, stamp).ok());
        ASSERT_TRUE(cutShort.install(0, staged("a", "new a"), false).ok());
        ASSERT_TRUE(cutShort.install(1, staged("new", "brand new"), false).ok());
        // The run ends here, as a kill would end it.
    }
    auto left = UpdateTransaction::leftBehind(dir.path(), dir / "backup");
    ASSERT_TRUE(left);
    EXPECT_EQ(left->state(), Journal::State::Installing);
    EXPECT_EQ(rollBack(*left), (Names{"new", "a"})) << "b is still the file its copy was made from";
    EXPECT_EQ(readFile(dir / "a"), "old a");
    EXPECT_FALSE(fs::exists(dir / "new"));
    EXPECT_FALSE(UpdateTransaction::leftBehind(dir.path(), dir / "backup"));

    UpdateTransaction done(dir.path(), dir / "backup");
    ASSERT_TRUE(done.begin({"a"}, stamp).ok());
    ASSERT_TRUE(done.install(0, staged("a", "newer a"), false).ok());
    ASSERT_TRUE(done.markInstalled().ok());
    auto installed = UpdateTransaction::leftBehind(dir.path(), dir / "backup");
    ASSERT_TRUE(installed);
    EXPECT_EQ(installed->state(), Journal::State::Installed);
    ASSERT_TRUE(installed->commit().ok());
    EXPECT_EQ(readFile(dir / "a"), "newer a");
    EXPECT_FALSE(UpdateTransaction::leftBehind(dir.path(), dir / "backup"));
}

} // namespace
