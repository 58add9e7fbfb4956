#include "updatetransaction.h"

#include <gtest/gtest.h>

namespace {

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

} // namespace

namespace {

// Anyone of the kiosk's group can write the backup folder: a journal is acted on only when every
// line names a plain file of the program folder and a ".bak" copy beside the journal.
TEST(Journal, OnlyPlainNamesOfTheFolderAndItsCopiesAreActedOn)
{
    const JournalRules rules{{"Shutdown.txt", "update", "backup"}, {"tesmora", "TesmoraUpdate"}};
    const auto refused = [&](const std::string &lines) {
        return firstRefusedJournalLine("installing\n" + lines, rules);
    };

    EXPECT_EQ(refused("a\ta.20261207090000.bak\nnew\t\n"), 0u);
    EXPECT_EQ(refused("tesmora\ttesmora.20261207090000-1.bak\n"), 0u);
    for (const std::string forged :
         {"/etc/passwd\t\n", "../outside\t\n", "sub/file\t\n", "a\t../../home/x/.ssh/id_rsa\n", "a\t/etc/shadow\n",
          "a\ta.txt\n", "a\tupdate.last\n", "tesmora\t\n", "TesmoraUpdate\t\n", "SHUTDOWN.TXT\t\n", "backup\t\n",
          "..\t\n", "a\x1b[2J\t\n", ".a.install-0\t\n"})
        EXPECT_EQ(refused("a\ta.20261207090000.bak\n" + forged), 3u) << forged;
    EXPECT_EQ(refused("a\ta.1.bak\nA\tA.2.bak\n"), 3u) << "one file twice";
    EXPECT_EQ(firstRefusedJournalLine("installed\nno tab\n", rules), 2u);
    EXPECT_EQ(firstRefusedJournalLine("done\n", rules), 1u);
    EXPECT_EQ(refused("a\ta.1.bak"), 2u) << "cut short";
}

} // namespace
