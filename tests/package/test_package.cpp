// The Debian package as cpack makes it, taken apart with dpkg and its programs run from there.

#include "clsfileini.h"
#include "httpserver.h"
#include "numberconversion.h"
#include "platform.h"
#include "process.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <atomic>
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
                                "opt/tesmora/tesmora-publish", "usr/sbin/tesmora-admin"}) {
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

// This machine's root seen through an overlay that keeps its changes in memory, in a mount
// namespace of this test process alone: dpkg and the maintainer scripts work on it as on the
// machine itself, and whatever they change goes with the process.
class ThrowAwayRoot
{
public:
    ThrowAwayRoot()
    {
        const fs::path upper = m_state / "upper", work = m_state / "work";
        m_ok = ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
               && ::mount("tmpfs", m_state.path().c_str(), "tmpfs", 0, nullptr) == 0
               && fs::create_directory(upper) && fs::create_directory(work) && fs::create_directory(path())
               && ::mount("overlay", path().c_str(), "overlay", 0,
                          ("lowerdir=/,upperdir=" + upper.string() + ",workdir=" + work.string()).c_str()) == 0
               && ::mount("/dev", (path() / "dev").c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ~ThrowAwayRoot()
    {
        // Before the folder is removed, which would otherwise reach through into the machine's /dev.
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

// What a member of the kiosk's group may do in the program folder while root works there, again
// and again until it goes: whatever step calls it.
class GroupMemberAtWork
{
public:
    explicit GroupMemberAtWork(std::function<void()> step)
        : m_thread([this, step = std::move(step)] {
            while (!m_stop)
                step();
        })
    {
    }
    ~GroupMemberAtWork()
    {
        m_stop = true;
        m_thread.join();
    }

private:
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

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

    bool inGroup(const std::string &user) { return root.run("id -nG " + user).find("tesmora") != std::string::npos; }
    unsigned idOf(const std::string &command) { return std::stoul(root.run(command)); }
    // A command line inside that must end within a minute; what it said, and 124 if it did not end.
    std::string runBriefly(const std::string &command, int *status)
    {
        bool ok = false;
        const std::string output = root.run("timeout 60 " + command + " 2>&1; echo \"status $?\"", &ok);
        const size_t at = output.rfind("status ");
        *status = at == std::string::npos ? -1 : std::stoi(output.substr(at + 7));
        return output;
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
    EXPECT_EQ(folderStat.st_mode & (S_IWGRP | S_ISGID), unsigned(S_IWGRP | S_ISGID)) << "the group writes, and owns new files";

    // The packaged programs at work from their folder, with settings made from the samples, so
    // that the folder holds what the kiosk, the updater and an update leave there.
    TestHttpServer server;
    server.serve("/start.html", "<html><body>start</body></html>", 200, "text/html");
    server.serve("/update/update.txt", "TesmoraUpdate:\r\nlogo.png\r\ntesmora\r\n");
    server.serve("/update/logo.png", "not really a picture");
    server.serve("/update/tesmora", readFile(folder / "tesmora"));
    std::string kioskSettings = readFile(folder / "tesmora.ini.sample");
    for (const auto &[key, value] : {std::pair{"web_server", server.baseUrl()}, {"start_page", "start.html"},
                                     {"shutdown_check_interval", "1"}})
        kioskSettings = std::regex_replace(kioskSettings, std::regex(std::string(key) + "=.*"), key + ("=" + value));
    // Not the kiosk's error page: that one is read from [failure] alone.
    kioskSettings = std::regex_replace(kioskSettings, std::regex("\\[data\\]"),
                                       "[data]\nerror_page=file:///opt/tesmora/logo.png");
    writeFile(folder / "tesmora.ini", kioskSettings);
    writeFile(folder / "TesmoraUpdate.ini", std::regex_replace(readFile(folder / "TesmoraUpdate.ini.sample"),
                                                               std::regex("update_url=.*"),
                                                               "update_url=" + server.baseUrl()
                                                                   + "update/\r\nhealth_check_seconds=2"));
    fs::copy_file(folder / "errore.html.sample", folder / "errore.html");
    // As the kiosk's user, in the group: the package's own files are root's, and an update
    // replaces them all the same, keeping a copy of each.
    const std::vector<std::string> asUser = {"--reuid=" + std::to_string(idOf("id -u " + user)),
                                             "--regid=" + std::to_string(idOf("id -g " + user)),
                                             "--groups=" + std::to_string(folderStat.st_gid), "--"};
    const auto started = [&](const std::string &program) {
        std::vector<std::string> arguments = asUser;
        arguments.push_back((folder / program).string());
        auto env = headlessEnvironment();
        env["HOME"] = home.string();
        env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"; // no user namespaces for its sandbox in a container
        return std::make_unique<ChildProcess>("/usr/bin/setpriv", folder, env, fs::path(), arguments);
    };
    const std::string oldKiosk = readFile(folder / "tesmora");
    auto kiosk = started("tesmora");
    ASSERT_TRUE(server.waitForRequest("/start.html", 30s));
    auto updater = started("TesmoraUpdate");
    ASSERT_TRUE(updater->waitForExit(60s));
    ASSERT_TRUE(server.waitForRequest("/start.html", 30s, 2)) << "the updater started the new kiosk";
    std::vector<pid_t> running;
    ASSERT_TRUE(waitUntil([&] { return (running = processesRunning(folder / "tesmora")).size() == 1; }, 10s));
    updatersKiosk = running.front();
    ASSERT_TRUE(fs::exists(folder / "logo.png"));
    EXPECT_EQ(ownerOf(folder / "tesmora"), idOf("id -u " + user));
    std::string backup;
    for (const auto &entry : fs::directory_iterator(folder / "backup"))
        if (entry.path().filename().string().starts_with("tesmora."))
            backup = readFile(entry.path());
    EXPECT_EQ(backup, oldKiosk);
    writeFile(folder / "TesmoraUpdate.trust", "timestamp:1767225600\r\n");

    const std::string removed = root.dpkg("-r tesmora", &ok);
    ASSERT_TRUE(ok) << removed;
    EXPECT_TRUE(waitUntil([&] { return !fs::exists("/proc/" + std::to_string(updatersKiosk)); }, 30s))
        << "the kiosk is ended before its files go";
    std::set<std::string> kept;
    for (const auto &entry : fs::directory_iterator(folder))
        kept.insert(entry.path().filename().string());
    const std::string updaterLog = "TesmoraUpdate" + run("date +%Y%m").substr(0, 6) + ".log";
    EXPECT_EQ(kept, (std::set<std::string>{"TesmoraUpdate.ini", "TesmoraUpdate.trust", "errore.html", "tesmora.ini",
                                           updaterLog}))
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
    // Root's files outside the folder, and a link to them that a member of the group swaps for a
    // folder of its own while the package is installed again and again.
    const fs::path victims = root.path() / "usr/local/lib/tesmora-victims";
    fs::create_directories(victims / "sub");
    writeFile(victims / "program", "#!/bin/sh\n");
    fs::permissions(victims / "program", fs::perms(0755));
    fs::create_directories(folder / "own/sub");
    writeFile(folder / "own/program", "");
    fs::create_directory_symlink("/usr/local/lib/tesmora-victims", folder / "link");
    fs::create_symlink("/usr/local/lib/tesmora-victims/program", folder / "program-link");
    std::vector<struct stat> before;
    for (const char *name : {"", "sub", "program"})
        before.push_back(statOf(victims / name));

    {
        const std::string own = (folder / "own").string(), link = (folder / "link").string();
        // Now and then rather than all the time, so that root gets past some looks at the names.
        GroupMemberAtWork swapper([&] {
            ::renameat2(AT_FDCWD, own.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
            std::this_thread::sleep_for(300us);
        });
        for (int i = 0; i < 10; ++i) {
            bool ok = false;
            const std::string output = root.dpkg("-i '" + deb.string() + "'", &ok);
            EXPECT_TRUE(ok) << output;
        }
    }
    size_t i = 0;
    for (const char *name : {"", "sub", "program"}) {
        const struct stat after = statOf(victims / name);
        EXPECT_EQ(after.st_mode, before[i].st_mode) << name;
        EXPECT_EQ(after.st_uid, before[i].st_uid) << name;
        EXPECT_EQ(after.st_gid, before[i++].st_gid) << name;
    }

    // The folder is the group's; what the package put in it is root's alone.
    const unsigned group = idOf("getent group tesmora | cut -d: -f3");
    const struct stat folderStat = statOf(folder);
    EXPECT_EQ(folderStat.st_mode & 07777, 02775u);
    EXPECT_EQ(folderStat.st_uid, 0u);
    EXPECT_EQ(folderStat.st_gid, group);
    for (const char *name : {"tesmora", "TesmoraUpdate", "tesmora-session", "tesmora-publish", "tesmora.ini.sample",
                             "TesmoraUpdate.ini.sample", "errore.html.sample"}) {
        const struct stat file = statOf(folder / name);
        EXPECT_EQ(file.st_uid, 0u) << name;
        EXPECT_EQ(file.st_mode & (S_IWGRP | S_IWOTH | S_ISGID | S_ISUID), 0u) << name;
    }
}

TEST_F(InstalledPackage, RootWritesTheSettingsAsTheGroupAndThroughNoLink)
{
    // Root's file behind a link at a name root is asked to write.
    const fs::path passwd = root.path() / "etc/tesmora-victim";
    writeFile(passwd, "root:x:0:0::/root:/bin/sh\n");
    fs::create_symlink("/etc/tesmora-victim", folder / "tesmora.ini");
    writeFile(folder / "errore.html", "<p>mine</p>");

    bool ok = true;
    const std::string wrote = root.run("tesmora-admin settings", &ok);
    EXPECT_FALSE(ok) << wrote;
    EXPECT_EQ(readFile(passwd), "root:x:0:0::/root:/bin/sh\n");
    EXPECT_NE(wrote.find("/opt/tesmora/tesmora.ini is not a plain file"), std::string::npos) << wrote;
    EXPECT_NE(wrote.find("/opt/tesmora/errore.html exists already"), std::string::npos) << wrote;
    EXPECT_EQ(readFile(folder / "errore.html"), "<p>mine</p>");
    EXPECT_NE(wrote.find("wrote /opt/tesmora/TesmoraUpdate.ini"), std::string::npos) << wrote;
    EXPECT_EQ(readFile(folder / "TesmoraUpdate.ini"), readFile(folder / "TesmoraUpdate.ini.sample"));
    const struct stat written = statOf(folder / "TesmoraUpdate.ini");
    EXPECT_NE(written.st_uid, 0u) << "never root's";
    EXPECT_EQ(written.st_gid, statOf(folder).st_gid);
    EXPECT_EQ(written.st_mode & 0777, 0664u);

    // Root edits a copy of its own; the file is replaced, never written through.
    writeFile(root.path() / "usr/local/bin/tesmora-test-editor", "#!/bin/sh\nsed -i 's/^update_url=.*/update_url=http:\\/\\/u\\//' \"$1\"\n");
    fs::permissions(root.path() / "usr/local/bin/tesmora-test-editor", fs::perms(0755));
    const std::string edit = "env -u VISUAL EDITOR=tesmora-test-editor tesmora-admin edit ";
    const std::string edited = root.run(edit + "TesmoraUpdate.ini", &ok);
    ASSERT_TRUE(ok) << edited;
    EXPECT_NE(readFile(folder / "TesmoraUpdate.ini").find("\nupdate_url=http://u/\n"), std::string::npos);
    EXPECT_NE(ownerOf(folder / "TesmoraUpdate.ini"), 0u);
    const std::string refused = root.run(edit + "tesmora.ini", &ok);
    EXPECT_FALSE(ok) << refused;
    EXPECT_EQ(readFile(passwd), "root:x:0:0::/root:/bin/sh\n");
    EXPECT_TRUE(fs::is_symlink(folder / "tesmora.ini"));
}

TEST_F(InstalledPackage, StopAndRestartNeverHangAndLeaveNoRequestBehind)
{
    bool ok = false;
    const std::string prepared = root.run("tesmora-admin add-user --create --xsession " + user, &ok);
    ASSERT_TRUE(ok) << prepared;
    // A kiosk whose umask is 077 made its instance file its own alone, and has ended.
    const fs::path instance = folder / ".tesmora.instance", request = folder / "Shutdown.txt";
    writeFile(instance, "");
    ASSERT_EQ(::chown(instance.c_str(), idOf("id -u " + user), statOf(folder).st_gid), 0);
    fs::permissions(instance, fs::perms(0600));
    int status = -1;
    std::string said = runBriefly("tesmora-admin stop", &status);
    EXPECT_EQ(status, 0) << said;
    EXPECT_NE(said.find("no kiosk runs"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(request));

    // A kiosk that does not end, a FIFO for settings, and a member of the group who puts a FIFO
    // where the requests are written.
    platform::InstanceLock kiosk;
    ASSERT_EQ(kiosk.tryLock(instance), platform::InstanceLock::Result::Acquired);
    ASSERT_EQ(::mkfifo((folder / "tesmora.ini").c_str(), 0666), 0);
    {
        GroupMemberAtWork fifos([&] {
            fs::remove(request);
            ::mkfifo(request.c_str(), 0666);
        });
        said = runBriefly("tesmora-admin restart", &status);
        EXPECT_NE(status, 0) << said;
        EXPECT_NE(status, 124) << said;
    }
    EXPECT_FALSE(fs::is_regular_file(request)) << said;
    EXPECT_FALSE(fs::exists(folder / "tesmora-session.restart")) << said;
    fs::remove(request);
    said = runBriefly("tesmora-admin stop", &status);
    EXPECT_EQ(status, 1) << said;
    EXPECT_NE(said.find("within 15 s; its request is withdrawn"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(request));

    // Removing reads the settings and the users' start files too.
    kiosk.release();
    fs::remove(home / ".xsession");
    ASSERT_EQ(::mkfifo((home / ".xsession").c_str(), 0666), 0);
    const std::string removed = ::run("timeout 120 dpkg --root='" + root.path().string() + "' -r tesmora", &ok);
    EXPECT_TRUE(ok) << removed;
}

} // namespace
