#include "httpserver.h"
#include "process.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

namespace {

using namespace std::chrono_literals;

class KioskProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        program = installProgram("tesmora", dir.path());
        server.serve("/kiosk/start.html", "<html><body>start</body></html>", 200, "text/html");
    }

    void writeSettings(const std::string &extraData = {})
    {
        writeFile(dir / "tesmora.ini", "[data]\r\nweb_server=" + server.baseUrl() + "kiosk/, http://unused.invalid/\r\n"
                                       "start_page=start.html\r\nshutdown_check_interval=2\r\n" + extraData
                                           + "[failure]\r\nerror_page=" + server.baseUrl() + "error.html\r\n");
    }

    std::unique_ptr<ChildProcess> startKiosk()
    {
        return std::make_unique<ChildProcess>(program, dir.path(), headlessEnvironment(), dir / "output.txt");
    }

    TempFolder dir;
    TestHttpServer server;
    std::filesystem::path program;
};

TEST_F(KioskProcess, StartsOnTheFirstServerAndRefusesASecondInstance)
{
    writeSettings();
    auto kiosk = startKiosk();
    ASSERT_TRUE(server.waitForRequest("/kiosk/start.html", 30s)) << readFile(dir / "output.txt");
    const auto lockLines = readCrLfLines(dir / "tesmora.lck");
    ASSERT_EQ(lockLines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lockLines[0], std::regex(R"(\d\d/\d\d/\d{4} \d\d:\d\d:\d\d)"))) << lockLines[0];
    EXPECT_TRUE(kiosk->running());

    const std::string lockBefore = readFile(dir / "tesmora.lck");
    auto second = startKiosk();
    ASSERT_TRUE(second->waitForExit(20s)) << "a second instance must end at once";
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(readFile(dir / "tesmora.lck"), lockBefore);
    EXPECT_EQ(server.requestCount("/kiosk/start.html"), 1u);
    EXPECT_TRUE(kiosk->running());
}

TEST_F(KioskProcess, ProgramFolderIsTheExecutablesFolderNotTheWorkingFolder)
{
    writeSettings();
    TempFolder elsewhere;
    ChildProcess kiosk(program, elsewhere.path(), headlessEnvironment());
    ASSERT_TRUE(server.waitForRequest("/kiosk/start.html", 30s));
    EXPECT_TRUE(std::filesystem::exists(dir / "tesmora.lck"));
    EXPECT_FALSE(std::filesystem::exists(elsewhere / "tesmora.lck"));
}

} // namespace
