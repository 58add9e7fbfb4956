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
