#include "clsfileini.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

namespace {

class SettingsFile : public ::testing::Test
{
protected:
    void SetUp() override { ini.setNomeFile((dir / "tesmora.ini").string()); }
    void write(const std::string &content) { writeFile(dir / "tesmora.ini", content); }
    std::string content() const { return readFile(dir / "tesmora.ini"); }

    TempFolder dir;
    clsFileIni ini;
};

TEST_F(SettingsFile, EmptyValueIsReturnedInsteadOfTheDefault)
{
    write("[data]\r\nstart_page=\r\nerror_page=   \r\n");
    EXPECT_EQ(ini.ReadKey("data", "start_page", "fallback"), "");
    EXPECT_EQ(ini.ReadKey("data", "error_page", "fallback"), "");
}

TEST_F(SettingsFile, NamesMatchWithoutCaseAndSurroundingBlanks)
{
    write("  [ DaTa ]  \r\n  Web_Server =  http://a/  \r\n");
    EXPECT_EQ(ini.ReadKey("data", "web_server ", ""), "http://a/");
    EXPECT_EQ(ini.ReadKey("DATA", " WEB_SERVER", ""), "http://a/");
    EXPECT_EQ(ini.ReadKey("data", "web", "none"), "none") << "a prefix of the key is another key";
}

TEST_F(SettingsFile, QuotesAroundTheValueAreRemovedOnce)
{
    write("[data]\r\na=\"quoted value\"\r\nb='single'\r\nc=\"mismatched'\r\nd=\"\"\r\ne=\"\"x\"\"\r\nf=\"\r\n");
    EXPECT_EQ(ini.ReadKey("data", "a", ""), "quoted value");
    EXPECT_EQ(ini.ReadKey("data", "b", ""), "single");
    EXPECT_EQ(ini.ReadKey("data", "c", ""), "\"mismatched'");
    EXPECT_EQ(ini.ReadKey("data", "d", "x"), "");
    EXPECT_EQ(ini.ReadKey("data", "e", ""), "\"x\"");
    EXPECT_EQ(ini.ReadKey("data", "f", ""), "\"");
}

TEST_F(SettingsFile, ValuesAndDefaultsAreCutTo255Characters)
{
    const std::string longValue(300, 'v');
    write("[data]\r\nlong=" + longValue + "\r\n");
    EXPECT_EQ(ini.ReadKey("data", "long", ""), std::string(255, 'v'));
    EXPECT_EQ(ini.ReadKey("data", "missing", std::string(256, 'd')), std::string(255, 'd'));
    // Italian letters are two bytes in the file but one character each; none is split.
    std::string accented;
    for (int i = 0; i < 300; ++i)
        accented += "\xC3\xA0"; // à
    write("[data]\r\nlong=" + accented + "\r\n");
    EXPECT_EQ(ini.ReadKey("data", "long", ""), accented.substr(0, 510));
}

TEST_F(SettingsFile, MissingFileSectionOrKeyGivesTheDefaultUnchanged)
{
    EXPECT_EQ(ini.ReadKey("data", "start_page", " x y "), " x y ") << "no file";
    write("[other]\r\nstart_page=wrong\r\n");
    EXPECT_EQ(ini.ReadKey("data", "start_page", "10"), "10") << "no section";
    write("[data]\r\nadmin_page=a\r\n");
    EXPECT_EQ(ini.ReadKey("data", "start_page", "10"), "10") << "no key";
    ini.setNomeFile("");
    EXPECT_EQ(ini.ReadKey("data", "admin_page", "d"), "d") << "no path";
}

TEST_F(SettingsFile, KeysBelongToTheirOwnSectionOnly)
{
    write("key=outside\r\n[failure]\r\nerror_page=e\r\n[data]\r\nstart_page=s\r\n");
    EXPECT_EQ(ini.ReadKey("data", "error_page", "none"), "none");
    EXPECT_EQ(ini.ReadKey("failure", "start_page", "none"), "none");
    EXPECT_EQ(ini.ReadKey("failure", "error_page", ""), "e");
    EXPECT_EQ(ini.ReadKey("data", "key", "none"), "none");
}

TEST_F(SettingsFile, FirstDuplicateWinsCommentsAndBareLinesAreIgnored)
{
    write("[data]\n; start_page=commented\nstart_page=first\nstart_page=second\njust text\n"
          "[data]\nadmin_page=in second section\n");
    EXPECT_EQ(ini.ReadKey("data", "start_page", ""), "first");
    EXPECT_EQ(ini.ReadKey("data", "admin_page", "none"), "none");
    EXPECT_EQ(ini.ReadKey("data", "just text", "none"), "none");
}

TEST_F(SettingsFile, LineEndsAndByteOrderMarkDoNotLeakIntoValues)
{
    write("\xEF\xBB\xBF[data]\r\nstart_page=index.html\r\nlast=no end");
    EXPECT_EQ(ini.ReadKey("data", "start_page", ""), "index.html");
    EXPECT_EQ(ini.ReadKey("data", "last", ""), "no end");
}

TEST_F(SettingsFile, EveryReadGoesToTheFile)
{
    write("[data]\r\nshutdown_check_interval=5\r\n");
    EXPECT_EQ(ini.ReadKey("data", "shutdown_check_interval", ""), "5");
    write("[data]\r\nshutdown_check_interval=7\r\n");
    EXPECT_EQ(ini.ReadKey("data", "shutdown_check_interval", ""), "7");
}

TEST_F(SettingsFile, WriteKeyRoundTripKeepsEveryOtherLine)
{
    const std::string original = "; kiosk settings\r\n[data]\r\nweb_server = http://a/ \r\n\r\n"
                                 "start_page=index.html\r\n\r\n[failure]\r\nerror_page=e.html\r\n";
    write(original);
    EXPECT_TRUE(ini.WriteKey("data", "START_PAGE", "home.html").ok());
    EXPECT_EQ(content(),
              "; kiosk settings\r\n[data]\r\nweb_server = http://a/ \r\n\r\n"
              "start_page=home.html\r\n\r\n[failure]\r\nerror_page=e.html\r\n");

    ASSERT_TRUE(ini.WriteKey("data", "admin_page", "admin.html").ok());
    EXPECT_EQ(content(),
              "; kiosk settings\r\n[data]\r\nweb_server = http://a/ \r\n\r\n"
              "start_page=home.html\r\nadmin_page=admin.html\r\n\r\n[failure]\r\nerror_page=e.html\r\n");

    ASSERT_TRUE(ini.WriteKey("extra", "update_start", "7:5").ok());
    EXPECT_EQ(ini.ReadKey("extra", "update_start", ""), "7:5");
    EXPECT_EQ(ini.ReadKey("data", "web_server ", ""), "http://a/");
    EXPECT_EQ(ini.ReadKey("failure", "error_page", ""), "e.html");
    EXPECT_TRUE(content().ends_with("[extra]\r\nupdate_start=7:5\r\n"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << "no temporary file stays";
}

TEST_F(SettingsFile, WriteKeyCreatesTheFileAndRefusesLineBreaks)
{
    ASSERT_TRUE(ini.WriteKey("data", "update_url", "http://u/").ok());
    EXPECT_EQ(content(), "[data]\r\nupdate_url=http://u/\r\n");
    EXPECT_EQ(ini.WriteKey("data", "update_url", "x\r\n[data]\r\nupdate_url=http://evil/").number, 5);
    EXPECT_EQ(ini.ReadKey("data", "update_url", ""), "http://u/");
    // A last line without its end gets one before new lines follow it.
    write("[data]\nlast=1");
    ASSERT_TRUE(ini.WriteKey("data", "next", "2").ok());
    EXPECT_EQ(content(), "[data]\nlast=1\nnext=2\n");
    // ... and one cut after its "\r" reads the same before and after a line is added.
    write("[data]\nlast=1\r");
    EXPECT_EQ(ini.ReadKey("data", "last", ""), "1");
    ASSERT_TRUE(ini.WriteKey("data", "next", "2").ok());
    EXPECT_EQ(content(), "[data]\nlast=1\r\nnext=2\n");
    EXPECT_EQ(ini.ReadKey("data", "last", ""), "1");
}

TEST_F(SettingsFile, WriteKeyLeavesNeighbouringFilesAlone)
{
    writeFile(dir / "tesmora.ini.tmp", "the operator's own file");
    write("[data]\r\nstart_page=a\r\n");
    ASSERT_TRUE(ini.WriteKey("data", "start_page", "b").ok());
    EXPECT_EQ(ini.ReadKey("data", "start_page", ""), "b");
    EXPECT_EQ(readFile(dir / "tesmora.ini.tmp"), "the operator's own file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST_F(SettingsFile, DeleteRemovesTheFileAndIgnoresAMissingOne)
{
    write("[data]\r\n");
    EXPECT_TRUE(ini.Delete().ok());
    EXPECT_FALSE(std::filesystem::exists(dir / "tesmora.ini"));
    EXPECT_TRUE(ini.Delete().ok()) << "nothing there";
    // A folder of that name is not a settings file: left alone, no error.
    std::filesystem::create_directory(dir / "tesmora.ini");
    EXPECT_TRUE(ini.Delete().ok());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "tesmora.ini"));
    EXPECT_EQ(ini.NomeFile(), (dir / "tesmora.ini").string());
}

} // namespace
