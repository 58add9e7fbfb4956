// The Debian package as cpack makes it, taken apart with dpkg and its programs run from there.

#include "clsfileini.h"
#include "httpserver.h"
#include "numberconversion.h"
#include "platform.h"
#include "process.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <regex>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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
        const std::string output =
            run("cd '" TESMORA_BUILD_DIR "' && '" CPACK_COMMAND "' -G DEB -B '" + built->path().string() + "'", &ok);
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
    for (const char *library :
         {"libqt6webenginewidgets6", "libqt6webenginecore6-bin", "libcurl4", "libsodium23", "util-linux", "adduser"})
        EXPECT_NE(depends.find(library), std::string::npos) << library << " in " << depends;
    EXPECT_EQ(deb.filename().string(), "tesmora_1.0.1_amd64.deb");
}

TEST_F(Package, InstallsBothProgramsTheirPicturesSamplesAndTheSessionStart)
{
    for (const char *program : {"opt/tesmora/tesmora", "opt/tesmora/TesmoraUpdate", "opt/tesmora/tesmora-session",
                                "opt/tesmora/tesmora-publish", "usr/sbin/tesmora-admin"}) {
        ASSERT_TRUE(fs::is_regular_file(installed(program))) << program;
        EXPECT_EQ(fs::status(installed(program)).permissions() & fs::perms(0111), fs::perms(0111)) << program;
    }
    for (const char *file :
         {"usr/share/tesmora/panel.png", "usr/share/icons/hicolor/16x16/apps/tesmora.png",
          "usr/share/icons/hicolor/32x32/apps/tesmora.png", "usr/share/icons/hicolor/48x48/apps/tesmora.png",
          "usr/share/doc/tesmora/operator-guide.md", "usr/share/doc/tesmora/README.md"})
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
    for (const auto &[section, key] : {std::pair{"data", "geturl_interval"},
                                       {"data", "shutdown_check_interval"},
                                       {"failure", "geturl_failure_limit"},
                                       {"failure", "time_restart_exe"}}) {
        const Result<int16_t> value = toInt16(kiosk.ReadKey(section, key, ""));
        EXPECT_TRUE(value.ok() && value.value >= 1) << key;
    }

    clsFileIni updater;
    updater.setNomeFile(installed("opt/tesmora/TesmoraUpdate.ini.sample").string());
    EXPECT_TRUE(updater.ReadKey("data", "update_url", "").ends_with("/"));
    EXPECT_EQ(updater.ReadKey("data", "shutdown_timeout", ""), "15");
}

// This machine's root seen through an overlay that keeps its changes in memory, in a mount
// namespace of this test process alone: dpkg and the maintainer scripts work on it as on the
// machine itself, and whatever they change goes with the process. Its /dev (with /dev/shm, which
// the browser engine needs) and /proc are the machine's, so that programs started inside run and
// see the processes outside.
class ThrowAwayRoot
{
public:
    ThrowAwayRoot()
    {
        const fs::path upper = m_state / "upper", work = m_state / "work";
        m_ok = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
            && ::mount("tmpfs", m_state.path().c_str(), "tmpfs", 0, nullptr) == 0 && fs::create_directory(upper)
            && fs::create_directory(work) && fs::create_directory(path())
            && ::mount("overlay", path().c_str(), "overlay", 0,
                       ("lowerdir=/,upperdir=" + upper.string() + ",workdir=" + work.string()).c_str())
                == 0
            && ::mount("/dev", (path() / "dev").c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0
            && ::mount("/proc", (path() / "proc").c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ~ThrowAwayRoot()
    {
        // Before the folder is removed, which would otherwise reach through into the machine's.
        ::umount2((path() / "proc").c_str(), MNT_DETACH);
        ::umount2((path() / "dev").c_str(), MNT_DETACH);
        ::umount2(path().c_str(), MNT_DETACH);
        ::umount2(m_state.path().c_str(), MNT_DETACH);
    }
    bool ok() const { return m_ok; }
    fs::path path() const { return m_state / "root"; }
    // A command line run inside, as the maintainer scripts are.
    std::string run(const std::string &command, bool *ok = nullptr) const
    {
        return ::run("chroot '" + path().string() + "' " + command, ok);
    }
    std::string dpkg(const std::string &arguments, bool *ok = nullptr) const
    {
        return ::run("dpkg --root='" + path().string() + "' " + arguments, ok);
    }

private:
    TempFolder m_state;
    bool m_ok = false;
};

struct stat statOf(const fs::path &path)
{
    struct stat s = {};
    if (::lstat(path.c_str(), &s) != 0)
        s.st_uid = uid_t(-1);
    return s;
}

uid_t ownerOf(const fs::path &path)
{
    return statOf(path).st_uid;
}

// What a member of the kiosk's group does in the program folder, again and again while root works
// there, until it goes.
std::jthread groupMemberAtWork(std::function<void()> step)
{
    return std::jthread([step = std::move(step)](std::stop_token stop) {
        while (!stop.stop_requested())
            step();
    });
}

// The package installed with dpkg in a throw-away root, where nobody has installed it before.
class InstalledPackage : public Package
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "dpkg -i and the maintainer scripts need root";
        ASSERT_TRUE(root.ok()) << "a mount namespace with an overlay of / (needs CAP_SYS_ADMIN)";
        root.dpkg("--purge tesmora");
        fs::remove_all(folder);
        bool ok = false;
        const std::string output = root.dpkg("-i '" + deb.string() + "'", &ok);
        ASSERT_TRUE(ok) << output;
    }

    void TearDown() override
    {
        // A kiosk the updater started is no child of the test; once its file is removed, only
        // its process number still finds it.
        for (const pid_t pid : processesRunning(folder / "tesmora"))
            ::kill(pid, SIGKILL);
        std::error_code gone;
        const fs::path exe = "/proc/" + std::to_string(updatersKiosk) + "/exe";
        if (updatersKiosk > 0 && fs::read_symlink(exe, gone).string().find("/opt/tesmora/tesmora") != std::string::npos)
            ::kill(updatersKiosk, SIGKILL);
    }

    bool inGroup(const std::string &name) { return root.run("id -nG " + name).find("tesmora") != std::string::npos; }
    unsigned idOf(const std::string &command) { return std::stoul(root.run(command)); }

    // Settings made from the samples for the programs at work from their folder, the kiosk's
    // pages and the updates on server.
    void writeSettings(const TestHttpServer &server)
    {
        std::string kioskSettings = readFile(folder / "tesmora.ini.sample");
        for (const auto &[key, value] : {std::pair{"web_server", server.baseUrl()},
                                         {"start_page", "start.html"},
                                         {"shutdown_check_interval", "1"}})
            kioskSettings =
                std::regex_replace(kioskSettings, std::regex(std::string(key) + "=.*"), key + ("=" + value));
        writeFile(folder / "tesmora.ini", kioskSettings);
        writeFile(folder / "TesmoraUpdate.ini",
                  std::regex_replace(readFile(folder / "TesmoraUpdate.ini.sample"), std::regex("update_url=.*"),
                                     "update_url=" + server.baseUrl() + "update/\r\nhealth_check_seconds=2"));
        fs::copy_file(folder / "errore.html.sample", folder / "errore.html");
    }

    // A packaged program started from outside as the kiosk's user, in the group of the folder, as
    // a session of that user starts it.
    std::unique_ptr<ChildProcess> startAsUser(const char *program, const std::map<std::string, std::string> &more = {})
    {
        auto env = headlessEnvironment();
        env["HOME"] = home.string();
        env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"; // no user namespaces for its sandbox in a container
        for (const auto &[name, value] : more)
            env[name] = value;
        return std::make_unique<ChildProcess>(
            "/usr/bin/setpriv", folder, env, fs::path(),
            std::vector<std::string>{"--reuid=" + std::to_string(idOf("id -u " + user)),
                                     "--regid=" + std::to_string(statOf(folder).st_gid), "--clear-groups",
                                     (folder / program).string()});
    }

    ThrowAwayRoot root;
    const fs::path folder = root.path() / "opt/tesmora";
    const std::string user = "tesmorakiosk";
    const fs::path home = root.path() / "home" / user;
    pid_t updatersKiosk = -1;
};

TEST_F(InstalledPackage, PreparesTheKiosksUserWithFilesItOwns)
{
    bool ok = true;
    const std::string refused = root.run("tesmora-admin add-user --autostart " + user, &ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(refused.find("does not exist"), std::string::npos) << refused;
    EXPECT_EQ(root.run("getent passwd " + user), "") << "made only when asked";

    const std::string made = root.run("tesmora-admin add-user --create --systemd " + user, &ok);
    ASSERT_TRUE(ok) << made;
    const uid_t uid = std::stoul(root.run("id -u " + user));
    EXPECT_TRUE(inGroup(user));
    const fs::path wants = home / ".config/systemd/user/graphical-session.target.wants/tesmora.service";
    EXPECT_EQ(fs::read_symlink(wants), "/usr/lib/systemd/user/tesmora.service");
    for (const fs::path &path : {home / ".config", home / ".config/systemd/user", wants})
        EXPECT_EQ(ownerOf(path), uid) << path;

    // Another way for the same user replaces the first: one session must not start two kiosks.
    const std::string again = root.run("tesmora-admin add-user --autostart " + user, &ok);
    ASSERT_TRUE(ok) << again;
    const fs::path entry = home / ".config/autostart/tesmora-autostart.desktop";
    EXPECT_EQ(readFile(entry), readFile(root.path() / "usr/share/tesmora/tesmora-autostart.desktop"));
    EXPECT_EQ(ownerOf(entry), uid);
    EXPECT_EQ(ownerOf(entry.parent_path()), uid);
    EXPECT_FALSE(fs::is_symlink(wants));
}

TEST_F(InstalledPackage, RemoveKeepsTheSettingsAndLogsAndPurgeLeavesNothingOfItsOwn)
{
    bool ok = false;
    const std::string prepared = root.run("tesmora-admin add-user --create --xsession " + user, &ok);
    ASSERT_TRUE(ok) << prepared;
    struct stat folderStat = {};
    ASSERT_EQ(::stat(folder.c_str(), &folderStat), 0);
    EXPECT_EQ(std::to_string(folderStat.st_gid) + "\n", root.run("getent group tesmora | cut -d: -f3"));
    EXPECT_EQ(folderStat.st_mode & (S_IWGRP | S_ISGID), unsigned(S_IWGRP | S_ISGID))
        << "the group writes, and owns new files";

    // The packaged programs at work from their folder, with settings made from the samples, so
    // that the folder holds what the kiosk, the updater and an update leave there.
    TestHttpServer server;
    server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
    server.serve("/update/update.txt", "TesmoraUpdate:\r\nlogo.png\r\ntesmora\r\n");
    server.serve("/update/logo.png", "not really a picture");
    server.serve("/update/tesmora", readFile(folder / "tesmora"));
    writeSettings(server);
    // Not the kiosk's error page: that one is read from [failure] alone.
    writeFile(folder / "tesmora.ini",
              std::regex_replace(readFile(folder / "tesmora.ini"), std::regex("\\[data\\]"),
                                 "[data]\nerror_page=file:///opt/tesmora/logo.png"));
    // As the kiosk's user: the package's own files are root's, and an update replaces them all the
    // same, keeping a copy of each.
    const uid_t uid = idOf("id -u " + user);
    auto kiosk = startAsUser("tesmora");
    ASSERT_TRUE(server.waitForRequest("/start.html", 30s));
    ASSERT_TRUE(startAsUser("TesmoraUpdate")->waitForExit(60s));
    ASSERT_TRUE(server.waitForRequest("/start.html", 30s, 2)) << "the updater started the new kiosk";
    std::vector<pid_t> running;
    ASSERT_TRUE(waitUntil([&] { return (running = processesRunning(folder / "tesmora")).size() == 1; }, 10s));
    updatersKiosk = running.front();
    ASSERT_TRUE(fs::exists(folder / "logo.png"));
    EXPECT_EQ(ownerOf(folder / "tesmora"), uid);
    EXPECT_TRUE(std::ranges::any_of(folderNames(folder / "backup"),
                                    [](const std::string &name) { return name.starts_with("tesmora."); }));
    writeFile(folder / "TesmoraUpdate.trust", "timestamp:1767225600\r\n");
    const std::string month = run("date +%Y%m").substr(0, 6);
    writeFile(folder / ("tesmora-session." + month + ".log"), "07/12/2026 07:06:00 - the session starts\r\n");

    const std::string removed = root.dpkg("-r tesmora", &ok);
    ASSERT_TRUE(ok) << removed;
    EXPECT_TRUE(waitUntil([&] { return !fs::exists("/proc/" + std::to_string(updatersKiosk)); }, 30s))
        << "the kiosk is ended before its files go";
    std::set<std::string> kept;
    for (const auto &entry : fs::directory_iterator(folder))
        kept.insert(entry.path().filename().string());
    EXPECT_EQ(kept,
              (std::set<std::string>{"TesmoraUpdate.ini", "TesmoraUpdate.trust", "errore.html", "tesmora.ini",
                                     "TesmoraUpdate" + month + ".log", "tesmora-session." + month + ".log"}))
        << removed;

    const std::string purged = root.dpkg("--purge tesmora", &ok);
    ASSERT_TRUE(ok) << purged;
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(root.run("getent group tesmora"), "");
    EXPECT_NE(purged.find("/home/" + user + "/.xsession"), std::string::npos) << purged;
    EXPECT_TRUE(fs::exists(home / ".xsession")) << "the users' homes are theirs";
}

TEST_F(InstalledPackage, ReinstallingChangesNothingOutsideTheFolderWhateverTheGroupSwapsIn)
{
    // Root's program in root's folder, and a link to that folder which a member of the group swaps
    // for a folder of its own, now and then, while the package is installed again and again.
    const fs::path outside = root.path() / "usr/local/lib/tesmora-victim";
    fs::create_directories(outside);
    writeFile(outside / "program", "#!/bin/sh\n");
    fs::permissions(outside / "program", fs::perms(0755));
    fs::create_directory(folder / "own");
    fs::create_directory_symlink("/usr/local/lib/tesmora-victim", folder / "link");
    const std::vector<struct stat> before = {statOf(outside), statOf(outside / "program")};
    {
        const std::jthread swapper = groupMemberAtWork([own = folder / "own", link = folder / "link"] {
            ::renameat2(AT_FDCWD, own.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
            std::this_thread::sleep_for(300us); // so that root gets past some of its looks at the names
        });
        for (int i = 0; i < 10; ++i) {
            bool ok = false;
            EXPECT_TRUE((root.dpkg("-i '" + deb.string() + "'", &ok), ok));
        }
    }
    for (const auto &[after, earlier] :
         {std::pair{statOf(outside), before[0]}, {statOf(outside / "program"), before[1]}})
        EXPECT_EQ(std::tuple(after.st_mode, after.st_uid, after.st_gid),
                  std::tuple(earlier.st_mode, earlier.st_uid, earlier.st_gid));

    // The folder is the group's; what the package put in it is root's alone.
    EXPECT_EQ(statOf(folder).st_mode & 07777, 02775u);
    for (const char *name : {"tesmora", "TesmoraUpdate", "tesmora-session", "tesmora-publish", "tesmora.ini.sample",
                             "TesmoraUpdate.ini.sample", "errore.html.sample"}) {
        const struct stat file = statOf(folder / name);
        EXPECT_EQ(std::pair(file.st_uid, file.st_mode & (S_IWGRP | S_IWOTH | S_ISGID)), std::pair(0u, 0u)) << name;
    }
}

TEST_F(InstalledPackage, RootWritesTheSettingsAsTheGroupAndThroughNoLink)
{
    const fs::path passwd = root.path() / "etc/tesmora-victim";
    const std::string rootsLine = "root:x:0:0::/root:/bin/sh\n";
    writeFile(passwd, rootsLine);
    fs::create_symlink("/etc/tesmora-victim", folder / "tesmora.ini");
    writeFile(folder / "errore.html", "<p>mine</p>");
    bool ok = true;
    const std::string said = root.run("tesmora-admin settings", &ok);
    EXPECT_FALSE(ok);
    for (const char *line : {"/opt/tesmora/tesmora.ini is not a plain file", "/opt/tesmora/errore.html exists already",
                             "wrote /opt/tesmora/TesmoraUpdate.ini"})
        EXPECT_NE(said.find(line), std::string::npos) << said;
    EXPECT_EQ(readFile(passwd), rootsLine);
    EXPECT_EQ(readFile(folder / "errore.html"), "<p>mine</p>");
    EXPECT_EQ(readFile(folder / "TesmoraUpdate.ini"), readFile(folder / "TesmoraUpdate.ini.sample"));
    const struct stat written = statOf(folder / "TesmoraUpdate.ini");
    EXPECT_EQ(std::pair(written.st_uid != 0, written.st_mode & 0777), std::pair(true, 0664u))
        << "the group's, never root's";

    // Root's editor works on a copy; the file is replaced, never written through.
    const std::string edit = "env -u VISUAL EDITOR='sed -i s/^update_url=.*/update_url=U/' tesmora-admin edit ";
    EXPECT_TRUE((root.run(edit + "TesmoraUpdate.ini", &ok), ok));
    EXPECT_NE(readFile(folder / "TesmoraUpdate.ini").find("\nupdate_url=U\n"), std::string::npos);
    EXPECT_NE(ownerOf(folder / "TesmoraUpdate.ini"), 0u);
    EXPECT_FALSE((root.run(edit + "tesmora.ini", &ok), ok));
    EXPECT_EQ(readFile(passwd), rootsLine);
}

TEST_F(InstalledPackage, StopAndRestartNeverHangAndLeaveNoRequestBehind)
{
    bool ok = false;
    ASSERT_TRUE((root.run("tesmora-admin add-user --create --xsession " + user, &ok), ok));
    // A kiosk whose umask is 077 made its instance file its own alone, and has ended.
    const fs::path instance = folder / ".tesmora.instance", request = folder / "Shutdown.txt";
    writeFile(instance, "");
    ASSERT_EQ(::chown(instance.c_str(), idOf("id -u " + user), 0), 0);
    fs::permissions(instance, fs::perms(0600));
    const std::string stop = "timeout 60 tesmora-admin stop";
    std::string said = root.run(stop, &ok);
    EXPECT_TRUE(ok && said.find("no kiosk runs") != std::string::npos) << said;
    EXPECT_FALSE(fs::exists(request));

    // A kiosk that does not end, a FIFO for its settings, and a member of the group who re-makes
    // the request as a FIFO. A command that timeout ends says nothing.
    platform::InstanceLock kiosk;
    ASSERT_EQ(kiosk.tryLock(instance), platform::InstanceLock::Result::Acquired);
    ASSERT_EQ(::mkfifo((folder / "tesmora.ini").c_str(), 0666), 0);
    {
        const std::jthread fifos = groupMemberAtWork([&] {
            std::error_code ignored;
            fs::remove(request, ignored);
            ::mkfifo(request.c_str(), 0666);
        });
        said = root.run("timeout 60 tesmora-admin restart", &ok);
        EXPECT_NE(said.find("tesmora-admin: "), std::string::npos);
    }
    EXPECT_FALSE(fs::is_regular_file(request)) << said;
    EXPECT_FALSE(fs::exists(folder / "tesmora-session.restart")) << said;
    fs::remove(request);
    said = root.run(stop, &ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(said.find("within 15 s; its request is withdrawn"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(request));

    // Removing reads the settings and the users' start files too.
    kiosk.release();
    fs::remove(home / ".xsession");
    ASSERT_EQ(::mkfifo((home / ".xsession").c_str(), 0666), 0);
    EXPECT_TRUE((::run("timeout 120 dpkg --root='" + root.path().string() + "' -r tesmora", &ok), ok));
}

// The last line of a text that is not empty, without its line end.
std::string lastLine(const std::string &text)
{
    const std::string lines = text.substr(0, text.find_last_not_of("\r\n") + 1);
    return lines.substr(lines.rfind('\n') + 1);
}

TEST_F(InstalledPackage, NothingOfTheGroupStaysWithNodeExporterAndDpkgStaysWhole)
{
    // The collector's folder as Debian makes it, given to the group as the guide once did, with the
    // kiosk's figures in it.
    const std::string collector = "/var/lib/prometheus/node-exporter";
    const fs::path collectorFolder = root.path() / collector.substr(1);
    fs::create_directories(collectorFolder);
    writeFile(collectorFolder / "node.prom", "node_other_figure 1\n");
    const auto giveTheGroupTheCollector = [&] {
        bool given = false;
        ASSERT_TRUE((root.run("dpkg-statoverride --update --add root tesmora 2775 " + collector, &given), given));
    };
    giveTheGroupTheCollector();
    writeFile(folder / "tesmora.ini", "[data]\r\nmetrics_file=" + collector + "/tesmora.prom\r\n");
    writeFile(collectorFolder / "tesmora.prom", "tesmora_kiosk_status 2\n");
    bool ok = false;
    const std::string removed = root.dpkg("-r tesmora", &ok);
    ASSERT_TRUE(ok) << removed;
    EXPECT_EQ(folderNames(collectorFolder), std::vector<std::string>{"node.prom"}) << removed;
    const std::string purged = root.dpkg("--purge tesmora", &ok);
    ASSERT_TRUE(ok) << purged;
    EXPECT_EQ(root.run("dpkg --audit; echo $?"), "0\n");
    EXPECT_EQ(root.run("dpkg-statoverride --list").find(" tesmora "), std::string::npos) << purged;
    EXPECT_EQ(statOf(collectorFolder).st_gid, 0u);

    // Installed again, monitoring needs no override: it undoes the old one and links the figures
    // of the program folder, which the group replaces whole.
    ASSERT_TRUE((root.dpkg("-i '" + deb.string() + "'", &ok), ok));
    giveTheGroupTheCollector();
    const std::string said = root.run("tesmora-admin monitoring", &ok);
    ASSERT_TRUE(ok) << said;
    EXPECT_EQ(root.run("dpkg-statoverride --list").find(" tesmora "), std::string::npos) << said;
    const struct stat collectorStat = statOf(collectorFolder);
    EXPECT_EQ(std::tuple(collectorStat.st_gid, collectorStat.st_mode & 07777), std::tuple(0u, 0755u));
    EXPECT_EQ(root.run("cat " + collector + "/tesmora-update.prom"), "") << "no dangling link for the collector";
    EXPECT_NE(said.find("set metrics_file=tesmora.prom in [data] of tesmora.ini"), std::string::npos) << said;
    writeFile(folder / ".tesmora.prom.new", "tesmora_kiosk_status 2\n");
    fs::rename(folder / ".tesmora.prom.new", folder / "tesmora.prom");
    EXPECT_EQ(root.run("cat " + collector + "/tesmora.prom"), "tesmora_kiosk_status 2\n");
    const std::string removedAgain = root.dpkg("-r tesmora", &ok);
    ASSERT_TRUE(ok) << removedAgain;
    EXPECT_EQ(folderNames(collectorFolder), std::vector<std::string>{"node.prom"}) << removedAgain;
    EXPECT_FALSE(fs::exists(root.path() / "var/lib/tesmora"));
}

TEST_F(InstalledPackage, UpdateNowRunsTheUpdaterAsTheKiosksUserAndEndsWithItsStatus)
{
    bool ok = false;
    ASSERT_TRUE((root.run("tesmora-admin add-user --create --xsession " + user, &ok), ok));
    TestHttpServer server;
    server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
    server.serve("/update/update.txt", "TesmoraUpdate:\r\n");
    writeSettings(server);
    const fs::path log = folder / ("TesmoraUpdate" + run("date +%Y%m").substr(0, 6) + ".log");
    // As over ssh: no display and no platform asked for; the updater runs without a window.
    const std::string update = "env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY tesmora-admin update";

    // No session: the only member of the group, no display; the kiosk the run starts is ended.
    std::string said = root.run(update, &ok);
    EXPECT_TRUE(ok && said.find("ended with exit status 0") != std::string::npos) << said;
    EXPECT_EQ(lastLine(said), lastLine(readFile(log))) << said;
    EXPECT_TRUE(lastLine(said).ends_with(" - Esito aggiornamento: finished")) << said;
    EXPECT_TRUE(processesRunning(folder / "tesmora").empty()) << said;

    // The kiosk's session: the updater gets the kiosk's environment, display and all; this run is
    // refused.
    auto kiosk = startAsUser("tesmora", {{"DISPLAY", ":77"}, {"TESMORA_FROM_THE_SESSION", "1"}});
    ASSERT_TRUE(server.waitForRequest("/start.html", 30s));
    server.serveSlowly("/slowly/update.txt", "Not a manifest\r\n", 4, 500ms);
    writeFile(folder / "TesmoraUpdate.ini",
              std::regex_replace(readFile(folder / "TesmoraUpdate.ini"), std::regex("/update/"), "/slowly/"));
    std::string environment;
    {
        const std::jthread command([&] { said = root.run("tesmora-admin update", &ok); });
        std::vector<pid_t> updater;
        ASSERT_TRUE(waitUntil([&] { return (updater = processesRunning(folder / "TesmoraUpdate")).size() == 1; }, 30s));
        const fs::path process = "/proc/" + std::to_string(updater.front());
        environment = readFile(process / "environ");
        EXPECT_EQ(statOf(process).st_uid, idOf("id -u " + user));
    }
    EXPECT_TRUE(!ok && said.find("ended with exit status 1") != std::string::npos) << said;
    EXPECT_EQ(lastLine(said), lastLine(readFile(log))) << said;
    EXPECT_TRUE(lastLine(said).ends_with(" - Esito aggiornamento: refused")) << said;
    EXPECT_NE(readFile(log).find(" - Sintassi file semaforo non compatibile!"), std::string::npos);
    for (const std::string &variable : {std::string("DISPLAY=:77"), std::string("TESMORA_FROM_THE_SESSION=1")})
        EXPECT_NE(environment.find('\0' + variable + '\0'), std::string::npos) << variable;
    EXPECT_TRUE(kiosk->running()) << "a run that installs nothing leaves the kiosk alone";
}

TEST_F(InstalledPackage, TheConsoleRouteLogsTheUserInOnTty1AndAnotherWayTakesItAway)
{
    bool ok = false;
    const std::string said = root.run("tesmora-admin add-user --create --xinit " + user, &ok);
    ASSERT_TRUE(ok) << said;
    const std::string dropInName = "/etc/systemd/system/getty@tty1.service.d/tesmora-autologin.conf";
    const fs::path dropIn = root.path() / dropInName.substr(1), profile = home / ".bash_profile";
    for (const std::string &written : {dropInName, "/home/" + user + "/.bash_profile"})
        EXPECT_NE(said.find(written), std::string::npos) << said;
    EXPECT_NE(readFile(dropIn).find("\nExecStart=\nExecStart=-/sbin/agetty -o '-p -f -- \\\\u' --noclear --autologin "
                                    + user + " - $TERM\n"),
              std::string::npos)
        << readFile(dropIn);
    EXPECT_EQ(std::pair(ownerOf(dropIn), ownerOf(profile)), std::pair(0u, idOf("id -u " + user)));
    EXPECT_NE(readFile(profile).find("\n        startx /opt/tesmora/tesmora-session -- -s 0 -dpms\n"),
              std::string::npos);
    // Anywhere but on tty1 the login goes on to the user's own profile.
    writeFile(home / ".profile", "echo own profile\n");
    EXPECT_EQ(root.run("timeout 20 runuser -u " + user + " -- bash --login -c true </dev/null"), "own profile\n");

    // Another way takes both, and a profile of the user's own is never written over.
    ASSERT_TRUE((root.run("tesmora-admin add-user --systemd " + user, &ok), ok));
    EXPECT_FALSE(fs::exists(profile) || fs::exists(dropIn));
    writeFile(profile, "# mine\n");
    EXPECT_FALSE((root.run("tesmora-admin add-user --xinit " + user, &ok), ok));
    EXPECT_EQ(readFile(profile), "# mine\n");
    EXPECT_TRUE(fs::is_symlink(home / ".config/systemd/user/graphical-session.target.wants/tesmora.service"))
        << "the earlier way stays when the new one cannot be made";
}

} // namespace
