#include "updatemanifest.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;
using Outcome = ManifestReading::Outcome;

TEST(ManifestLines, EndAtCarriageReturnWithOrWithoutLineFeed)
{
    EXPECT_EQ(manifestLines("a\r\nb\r\n"), (Lines{"a", "b"}));
    EXPECT_EQ(manifestLines("a\rb\r"), (Lines{"a", "b"}));
    EXPECT_EQ(manifestLines("a\r\nb\rc"), (Lines{"a", "b", "c"}));
    // The line feed after a CR belongs to that line end; a second CR ends an empty line.
    EXPECT_EQ(manifestLines("a\r\r\nb"), (Lines{"a", "", "b"}));
}

TEST(ManifestLines, LastLineWithoutEndCountsAndAFinalEndAddsNothing)
{
    EXPECT_EQ(manifestLines("a\r\nb"), (Lines{"a", "b"}));
    EXPECT_EQ(manifestLines("a\r\n"), (Lines{"a"}));
    EXPECT_EQ(manifestLines("\r\n"), (Lines{""}));
    EXPECT_EQ(manifestLines(""), Lines{});
}

TEST(ManifestLines, LineFeedAloneEndsNothing)
{
    EXPECT_EQ(manifestLines("TesmoraUpdate:\na\nb\n"), (Lines{"TesmoraUpdate:\na\nb\n"}));
}

TEST(ManifestHeader, SpacesAroundAreAllowed)
{
    EXPECT_TRUE(isManifestHeader("TesmoraUpdate:"));
    EXPECT_TRUE(isManifestHeader("   TesmoraUpdate:  "));
}

TEST(ManifestHeader, AnythingElseIsRejected)
{
    for (const char *header :
         {"\tTesmoraUpdate:", "TesmoraUpdate:\t", "tesmoraupdate:", "TESMORAUPDATE:", "TesmoraUpdate",
          "TesmoraUpdate: x", "TesmoraUpdate::", "\xEF\xBB\xBFTesmoraUpdate:", "", "   "})
        EXPECT_FALSE(isManifestHeader(header)) << header;
}

TEST(ManifestEntries, PlainFileNamesAreSafe)
{
    for (const char *entry : {"tesmora", "TesmoraUpdate", " tesmora", "page.html", ".hidden", "...", "a..b",
                              "città.txt", "name with blanks", "tesmora.ini"})
        EXPECT_TRUE(isSafeManifestEntry(entry)) << entry;
}

TEST(ManifestEntries, PathsWildcardsControlsOverlongAndTemporaryNamesAreUnsafe)
{
    for (const std::string &entry :
         std::vector<std::string>{"", ".", "..", "../tesmora", "sub/file", "/etc/passwd", "..\\x", "a\\b", "*", "*.bku",
                                  "file?.txt", "tab\tname", "bell\x07", "del\x7f", "line\nfeed", std::string(256, 'n'),
                                  ".a.download-3", ".tesmora.install-0", ".x.write-12"})
        EXPECT_FALSE(isSafeManifestEntry(entry)) << entry;
    EXPECT_TRUE(isSafeManifestEntry(std::string(255, 'n')));
}

TEST(ReadManifest, AcceptedEntriesKeepTheirOrderAndBlanks)
{
    const ManifestReading reading = readManifest("TesmoraUpdate:\r\nb\r\n tesmora\r\na \r\n");
    EXPECT_EQ(reading.outcome, Outcome::Accepted);
    EXPECT_EQ(reading.entries, (Lines{"b", " tesmora", "a "}));
}

TEST(ReadManifest, EmptyLinesAreSkipped)
{
    const ManifestReading reading = readManifest("TesmoraUpdate:\r\n\r\na\r\r\n\r\nb\r\n\r\n");
    EXPECT_EQ(reading.outcome, Outcome::Accepted);
    EXPECT_EQ(reading.entries, (Lines{"a", "b"}));
}

TEST(ReadManifest, HeaderAloneIsAnEmptyUpdate)
{
    const ManifestReading reading = readManifest("TesmoraUpdate:\r\n");
    EXPECT_EQ(reading.outcome, Outcome::Accepted);
    EXPECT_TRUE(reading.entries.empty());
}

TEST(ReadManifest, BadHeaderWinsOverEverythingAfterIt)
{
    EXPECT_EQ(readManifest("").outcome, Outcome::BadHeader);
    EXPECT_EQ(readManifest("TesmoraUpdate:\na\n").outcome, Outcome::BadHeader);
    EXPECT_EQ(readManifest("<html>404</html>\r\n../x\r\n").outcome, Outcome::BadHeader);
}

TEST(ReadManifest, FirstUnsafeEntryRefusesTheWholeManifest)
{
    const ManifestReading reading = readManifest("TesmoraUpdate:\r\nok\r\n../one\r\n*\r\n");
    EXPECT_EQ(reading.outcome, Outcome::UnsafeEntry);
    EXPECT_EQ(reading.unsafeEntry, "../one");
    EXPECT_TRUE(reading.entries.empty());
}

TEST(ReadManifest, TheProgramsOwnFilesAreRefusedInAnyCase)
{
    const std::vector<std::string> reserved{"Shutdown.txt", "tesmora.lck", ".tesmora.instance", "update"};
    for (const char *entry : {"Shutdown.txt", "SHUTDOWN.TXT", "tesmora.lck", ".Tesmora.instance", "Update"}) {
        const ManifestReading reading = readManifest(std::string("TesmoraUpdate:\r\na\r\n") + entry + "\r\n", reserved);
        EXPECT_EQ(reading.outcome, Outcome::UnsafeEntry) << entry;
        EXPECT_EQ(reading.unsafeEntry, entry);
    }
    EXPECT_EQ(readManifest("TesmoraUpdate:\r\nShutdown.txt.bak\r\nupdates\r\n", reserved).outcome, Outcome::Accepted);
}

TEST(ReadManifest, ANameListedTwiceInAnyCaseCountsOnce)
{
    const ManifestReading reading = readManifest("TesmoraUpdate:\r\na\r\nb\r\nA\r\na\r\nTesmora\r\ntesmora\r\n");
    EXPECT_EQ(reading.outcome, Outcome::Accepted);
    EXPECT_EQ(reading.entries, (Lines{"a", "b", "Tesmora"}));
}

TEST(ReadManifest, NothingBeyondTheFirstMebibyteIsTaken)
{
    std::string exact = "TesmoraUpdate:\r\n";
    for (int i = 0; exact.size() + 250 < ManifestMaxBytes; ++i)
        exact += std::string(190, 'f') + std::to_string(i) + "\r\n";
    // The last entry ends on the limit's last byte.
    const std::string last = "last." + std::string(ManifestMaxBytes - exact.size() - 5, 'x');
    exact += last;
    ASSERT_EQ(exact.size(), ManifestMaxBytes);
    EXPECT_EQ(readManifest(exact).outcome, Outcome::Accepted);
    const ManifestReading over = readManifest(exact + "y");
    EXPECT_EQ(over.outcome, Outcome::UnsafeEntry);
    EXPECT_EQ(over.unsafeEntry, last + "y");
}

TEST(ReadManifest, AtMost32767Entries)
{
    std::string content = "TesmoraUpdate:\r\n";
    for (int i = 0; i < 32767; ++i)
        content += "f" + std::to_string(i) + "\r\n";
    const ManifestReading full = readManifest(content);
    EXPECT_EQ(full.outcome, Outcome::Accepted);
    EXPECT_EQ(full.entries.size(), 32767u);
    EXPECT_EQ(full.entries.back(), "f32766");

    const ManifestReading over = readManifest(content + "one-more\r\n");
    EXPECT_EQ(over.outcome, Outcome::TooManyEntries);
    EXPECT_TRUE(over.entries.empty());
}

} // namespace
