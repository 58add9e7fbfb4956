// The Debian package as cpack makes it, taken apart with dpkg and its programs run from there.

#include "clsfileini.h"
#include "httpserver.h"
#include "numberconversion.h"
#include "process.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Output of a command line, and whether it succeeded.
std::string run(const std::string &command, bool *ok = nullptr)
{
    std::string output;
    FILE *pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    size_t n;
    while (pipe && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    const int status = pipe ? pclose(pipe) : -1;
    if (ok)
        *ok = status == 0;
    return output;
}

class Package : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        built = new TempFolder;
        bool ok = false;
        const std::string output = run("cd '" TESMORA_BUILD_DIR "' && '" CPACK_COMMAND "' -G DEB -B '"
                                       + built->path().string() + "'", &ok);
        ASSERT_TRUE(ok) << output;
        for (const auto &entry : fs::directory_iterator(built->path())) {
            if (entry.path().extension() == ".deb")
                deb = entry.path();
        }
        ASSERT_FALSE(deb.empty()) << output;
        root = new TempFolder;
        const std::string unpacked = run("dpkg -x '" + deb.string() + "' '" + root->path().string() + "'", &ok);
        ASSERT_TRUE(ok) << unpacked;
    }
    static void TearDownTestSuite()
    {
        delete root;
        delete built;
    }

    static fs::path installed(const std::string &path) { return root->path() / path; }
    static std::string field(const std::string &name) { return run("dpkg-deb -f '" + deb.string() + "' " + name); }

    static inline TempFolder *built = nullptr;
    static inline TempFolder *root = nullptr;
    static inline fs::path deb;
};

TEST_F(Package, NamesItselfAndDependsOnWhatTheProgramsLoad)
{
    EXPECT_EQ(field("Package"), "tesmora\n");
    EXPECT_EQ(field("Version"), "1.0.1\n");
    const std::string depends = field("Depends");
    for (const char *library : {"libqt6webenginewidgets6", "libqt6webenginecore6-bin", "libcurl4", "libsodium23", "util-linux", "adduser"})
        EXPECT_NE(depends.find(library), std::string::npos) << library << " in " << depends;
    EXPECT_EQ(deb.filename().string(), "tesmora_1.0.1_amd64.deb");
}

TEST_F(Package, InstallsBothProgramsTheirPicturesSamplesAndTheSessionStart)
{
    for (const char *program : {"opt/tesmora/tesmora", "opt/tesmora/TesmoraUpdate", "opt/tesmora/tesmora-session",
                                "opt/tesmora/tesmora-publish"}) {
        ASSERT_TRUE(fs::is_regular_file(installed(program))) << program;
        EXPECT_EQ(fs::status(installed(program)).permissions() & fs::perms(0111), fs::perms(0111)) << program;
    }
    for (const char *file : {"usr/share/tesmora/panel.png", "usr/share/icons/hicolor/16x16/apps/tesmora.png",
                             "usr/share/icons/hicolor/32x32/apps/tesmora.png",
                             "usr/share/icons/hicolor/48x48/apps/tesmora.png", "usr/share/doc/tesmora/operator-guide.md",
                             "usr/share/doc/tesmora/README.md"})
        EXPECT_GT(fs::file_size(installed(file)), 100u) << file;
    EXPECT_EQ(readFile(installed("usr/share/tesmora/panel.png")).substr(1, 3), "PNG");

    const std::string unit = readFile(installed("usr/lib/systemd/user/tesmora.service"));
    EXPECT_NE(unit.find("ExecStart=/opt/tesmora/tesmora-session\n"), std::string::npos);
    EXPECT_NE(unit.find("Restart=on-failure\n"), std::string::npos) << "an orderly end (status 0) is final";
    EXPECT_NE(unit.find("WantedBy=graphical-session.target\n"), std::string::npos);
    const std::string autostart = readFile(installed("usr/share/tesmora/tesmora-autostart.desktop"));
    EXPECT_NE(autostart.find("Exec=/opt/tesmora/tesmora-session\n"), std::string::npos);
}

TEST_F(Package, SampleSettingsAreCommentedAndHoldUsableValues)
{
    clsFileIni kiosk;
    kiosk.setNomeFile(installed("opt/tesmora/tesmora.ini.sample").string());
    EXPECT_NE(readFile(kiosk.NomeFile()).find("\n; "), std::string::npos) << "commented";
    for (const char *key : {"web_server ", "start_page", "admin_page", "logout_page", "update_start"})
        EXPECT_FALSE(kiosk.ReadKey("data", key, "").empty()) << key;
    EXPECT_FALSE(kiosk.ReadKey("failure", "error_page", "").empty());
    for (const auto &[section, key] : {std::pair{"data", "geturl_interval"}, {"data", "shutdown_check_interval"},
                                       {"failure", "geturl_failure_limit"}, {"failure", "time_restart_exe"}}) {
        const Int16Result value = toInt16(kiosk.ReadKey(section, key, ""));
        EXPECT_TRUE(value.ok() && value.value >= 1) << key;
    }

    clsFileIni updater;
    updater.setNomeFile(installed("opt/tesmora/TesmoraUpdate.ini.sample").string());
    EXPECT_TRUE(updater.ReadKey("data", "update_url", "").ends_with("/"));
    EXPECT_EQ(updater.ReadKey("data", "shutdown_timeout", ""), "15");
}

TEST_F(Package, MakesTheProgramFolderWritableForTheKiosksGroup)
{
    bool ok = false;
    TempFolder control;
    run("dpkg-deb -e '" + deb.string() + "' '" + (control / "DEBIAN").string() + "'", &ok);
    ASSERT_TRUE(ok);
    const fs::path postinst = control / "DEBIAN" / "postinst";
    ASSERT_TRUE(fs::exists(postinst));
    EXPECT_EQ(fs::status(postinst).permissions() & fs::perms(0111), fs::perms(0111));
    const std::string script = readFile(postinst);
    EXPECT_NE(script.find("addgroup --system tesmora"), std::string::npos);
    EXPECT_NE(script.find("chgrp -R tesmora /opt/tesmora"), std::string::npos);
    EXPECT_NE(script.find("chmod -R g+w /opt/tesmora"), std::string::npos);
    run("sh -n '" + postinst.string() + "'", &ok);
    EXPECT_TRUE(ok) << "postinst parses";
}

TEST_F(Package, ThePackagedProgramsRun)
{
    // The unpacked program folder with settings made from the samples, pointed at a test server.
    const fs::path folder = installed("opt/tesmora");
    TestHttpServer server;
    server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
    server.serve("/update/update.txt", "");
    std::string kioskSettings = readFile(folder / "tesmora.ini.sample");
    kioskSettings = std::regex_replace(kioskSettings, std::regex("web_server=.*"), "web_server=" + server.baseUrl());
    kioskSettings = std::regex_replace(kioskSettings, std::regex("start_page=.*"), "start_page=start.html");
    writeFile(folder / "tesmora.ini", kioskSettings);
    writeFile(folder / "TesmoraUpdate.ini", std::regex_replace(readFile(folder / "TesmoraUpdate.ini.sample"),
                                                               std::regex("update_url=.*"),
                                                               "update_url=" + server.baseUrl() + "update/"));

    ChildProcess kiosk(folder / "tesmora", folder, headlessEnvironment());
    EXPECT_TRUE(server.waitForRequest("/start.html", 30s));
    ChildProcess updater(folder / "TesmoraUpdate", folder, headlessEnvironment());
    ASSERT_TRUE(updater.waitForExit(30s));
    EXPECT_EQ(server.requestCount("/update/update.txt"), 1u);
    EXPECT_TRUE(kiosk.running());
}

} // namespace
