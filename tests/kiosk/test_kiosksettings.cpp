#include "kiosksettings.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

namespace {

class KioskSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override { ini.setNomeFile((dir / "tesmora.ini").string()); }
    KioskSettings read(const std::string &content)
    {
        writeFile(dir / "tesmora.ini", content);
        const Result<KioskSettings> read = readKioskSettings(dir / "tesmora.ini", ini, counts);
        EXPECT_TRUE(read.ok()) << errorText(read.error);
        return read.value;
    }

    TempFolder dir;
    clsFileIni ini;
    std::vector<std::string> logged;
    CountSettingReader counts{ini, [this](const std::string &line) { logged.push_back(line); }};
};

TEST_F(KioskSettingsTest, WithoutAnOrdinaryFileNothingIsRead)
{
    std::filesystem::create_directory(dir / "folder.ini");
    for (const char *name : {"missing.ini", "folder.ini"}) {
        const Result<KioskSettings> read = readKioskSettings(dir / name, ini, counts);
        EXPECT_EQ(read.error.number, ErrorNumber::FileNotFound) << name;
        EXPECT_EQ(ini.NomeFile(), (dir / "tesmora.ini").string()) << name;
    }
    EXPECT_TRUE(logged.empty());
}

TEST_F(KioskSettingsTest, AllElevenKeysFromTheirSections)
{
    const KioskSettings s =
        read("[data]\r\nweb_server = http://a/, http://b/\r\nstart_page=s.html\r\n"
             "logout_page=l.html\r\nadmin_page=a.html\r\ngeturl_interval=20\r\n"
             "shutdown_check_interval=3\r\nupdate_start=7:5\r\n"
             "[failure]\r\ngeturl_failure_limit=2\r\ntime_restart_exe=4\r\nerror_page=file:///e.html\r\n"
             "load_timeout=45\r\n");
    EXPECT_EQ(s.serverList, "http://a/, http://b/");
    EXPECT_EQ(s.startPage, "s.html");
    EXPECT_EQ(s.logoutPage, "l.html");
    EXPECT_EQ(s.adminPage, "a.html");
    EXPECT_EQ(s.refreshInterval, 20);
    EXPECT_EQ(s.failureLimit, 2);
    EXPECT_EQ(s.restartCountdown, 4);
    EXPECT_EQ(s.errorPage, "file:///e.html");
    EXPECT_EQ(s.shutdownCountdown, 3);
    EXPECT_EQ(s.updateTime, "7:5");
    EXPECT_EQ(s.loadTimeout, 45);
    EXPECT_TRUE(logged.empty());
}

TEST_F(KioskSettingsTest, OnlyServerAndShutdownIntervalGiveTheDefaults)
{
    const KioskSettings s = read("[data]\r\nweb_server=http://a/\r\nshutdown_check_interval=5\r\n");
    EXPECT_EQ(s.refreshInterval, 10);
    EXPECT_EQ(s.failureLimit, 1);
    EXPECT_EQ(s.restartCountdown, 1);
    EXPECT_EQ(s.shutdownCountdown, 5);
    EXPECT_EQ(s.startPage, "");
    EXPECT_EQ(s.updateTime, "");
    EXPECT_EQ(s.loadTimeout, 30);
    EXPECT_TRUE(logged.empty()) << logged.front();
}

TEST_F(KioskSettingsTest, BadCountsFallBackWithOneLineEach)
{
    const KioskSettings s = read("[data]\r\ngeturl_interval=0\r\n[failure]\r\ngeturl_failure_limit=abc\r\n"
                                 "time_restart_exe=40000\r\nload_timeout=-1\r\n");
    EXPECT_EQ(s.refreshInterval, 10);
    EXPECT_EQ(s.failureLimit, 1);
    EXPECT_EQ(s.restartCountdown, 1);
    EXPECT_EQ(s.shutdownCountdown, 5) << "missing, and its default is empty";
    EXPECT_EQ(logged,
              (std::vector<std::string>{
                  "Valore non valido per geturl_interval: '0', uso il valore 10",
                  "Valore non valido per geturl_failure_limit: 'abc', uso il valore 1",
                  "Valore non valido per time_restart_exe: '40000', uso il valore 1",
                  "Valore non valido per shutdown_check_interval: '', uso il valore 5",
                  "Valore non valido per load_timeout: '-1', uso il valore 30",
              }));
}

TEST_F(KioskSettingsTest, FractionsRoundAndNegativeCountsFallBack)
{
    const KioskSettings s = read("[data]\r\ngeturl_interval=2.5\r\nshutdown_check_interval=-5\r\n"
                                 "[failure]\r\ntime_restart_exe=3.5\r\n");
    EXPECT_EQ(s.refreshInterval, 2);
    EXPECT_EQ(s.restartCountdown, 4);
    EXPECT_EQ(s.shutdownCountdown, 5);
    EXPECT_EQ(logged,
              (std::vector<std::string>{"Valore non valido per shutdown_check_interval: '-5', uso il valore 5"}));
}

TEST_F(KioskSettingsTest, ARepeatedBadValueIsReportedOnceUntilItChanges)
{
    writeFile(dir / "tesmora.ini", "[data]\r\nshutdown_check_interval=x\r\n");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(counts.read(KioskKeys::shutdownCheckInterval), 5);
    EXPECT_EQ(logged.size(), 1u);
    writeFile(dir / "tesmora.ini", "[data]\r\nshutdown_check_interval=y\r\n");
    counts.read(KioskKeys::shutdownCheckInterval);
    EXPECT_EQ(logged.size(), 2u);
    writeFile(dir / "tesmora.ini", "[data]\r\nshutdown_check_interval=7\r\n");
    EXPECT_EQ(counts.read(KioskKeys::shutdownCheckInterval), 7);
    writeFile(dir / "tesmora.ini", "[data]\r\nshutdown_check_interval=y\r\n");
    counts.read(KioskKeys::shutdownCheckInterval);
    EXPECT_EQ(logged.size(), 3u) << "a good value in between makes the bad one news again";
}

TEST_F(KioskSettingsTest, AnUnusableFleetSettingTurnsItsFeatureOffWithOneLineAndAnAbsentOneSaysNothing)
{
    EXPECT_EQ(read("[data]\r\nshutdown_check_interval=5\r\n[failure]\r\nfailover=1\r\n").failbackInterval, 300);
    const KioskSettings s =
        read("[data]\r\nshutdown_check_interval=5\r\nidle_reset=-3\r\nlog_events=yes\r\n"
             "update_spread=1441\r\n[failure]\r\nfailover=1\r\nfailback_interval=0\r\nwatch_interval=4\r\n");
    EXPECT_TRUE(s.failover);
    EXPECT_FALSE(s.logEvents);
    EXPECT_EQ(s.failbackInterval, 0);
    EXPECT_EQ(s.watchInterval, 0);
    EXPECT_EQ(s.idleReset, 0);
    EXPECT_EQ(s.updateSpread, 0);
    EXPECT_EQ(logged,
              (std::vector<std::string>{
                  "Valore non valido per failback_interval: '0', uso il valore 0",
                  "Valore non valido per watch_interval: '4', uso il valore 0",
                  "Valore non valido per idle_reset: '-3', uso il valore 0",
                  "Valore non valido per log_events: 'yes', uso il valore 0",
                  "Valore non valido per update_spread: '1441', uso il valore 0",
              }));
}

} // namespace
