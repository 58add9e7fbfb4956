// Tesmora's benchmarks against real peers on this machine, measured side by side and alternated
// (the machine is shared), reported as medians and ratios.
// Usage: tesmora_bench [download] [memory] [kiosk] [update] [soak]   (none: the first four)
// Environment: BENCH_ROUNDS overrides the number of rounds of each comparison; SOAK_ERRORS,
// SOAK_RESETS and SOAK_UPDATES the counts of the soak (2000, 500, 50).

#include "benchsupport.h"
#include "clock.h"
#include "httpserver.h"
#include "signingkey.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace {

using namespace bench;
constexpr double MiB = 1024.0 * 1024.0;

struct Row
{
    std::string what;
    std::string ours;
    std::string peer;
    std::string ratio;
    std::string target;
    bool met;
};
std::vector<Row> g_rows;

std::string fixed(double value, int decimals = 2)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

int rounds(int fallback)
{
    const char *text = std::getenv("BENCH_ROUNDS");
    return text && *text ? std::max(1, std::atoi(text)) : fallback;
}

std::map<std::string, std::string> programEnvironment(const Display &display)
{
    std::map<std::string, std::string> env{
        {"DISPLAY", display.name()}, {"QT_QPA_PLATFORM", "xcb"}, {"no_proxy", "127.0.0.1"}, {"NO_PROXY", "127.0.0.1"}};
    // The browser engine refuses its sandbox as root; the kiosk switches it off itself then, and
    // its peer must run the same way.
    if (geteuid() == 0)
        env["QTWEBENGINE_DISABLE_SANDBOX"] = "1";
    return env;
}

void say(const std::string &line)
{
    std::cerr << line << std::endl;
}

// Runs a and b `count` times each, alternating which goes first.
void alternate(int count, const std::function<void(int)> &a, const std::function<void(int)> &b)
{
    for (int i = 0; i < count; ++i) {
        if (i % 2 == 0) {
            a(i);
            b(i);
        } else {
            b(i);
            a(i);
        }
    }
}

void installUpdater(const fs::path &folder, const std::string &updateUrl, const std::string &extraLine = {})
{
    fs::copy_file(builtProgram("TesmoraUpdate"), folder / "TesmoraUpdate", fs::copy_options::overwrite_existing);
    writeFile(folder / "TesmoraUpdate.ini",
              "[data]\r\nupdate_url=" + updateUrl + "\r\n" + (extraLine.empty() ? "" : extraLine + "\r\n"));
}

void publishManifest(const fs::path &folder, const std::vector<std::string> &names)
{
    std::string manifest = "TesmoraUpdate:\r\n";
    for (const auto &name : names)
        manifest += name + "\r\n";
    writeFile(folder / "update.txt", manifest);
}

// --- 1. Download throughput ------------------------------------------------------------------

void downloadThroughput(const Display &display)
{
    const std::uintmax_t size = 256 << 20;
    TempFolder www;
    TempFolder out;
    writeArbitraryFile(www / "big.bin", size, 1);
    NginxServer nginx(www.path());
    const std::string url = nginx.baseUrl() + "big.bin";
    const auto env = programEnvironment(display);
    std::vector<double> ours, peer;
    say("Download throughput: 256 MiB, the updater's routine and curl, alternated");

    alternate(
        rounds(5),
        [&](int) {
            const Finished r =
                run({builtProgram("bench_download_routine").string(), url, (out / "updater.bin").string()}, out.path(),
                    env);
            if (r.exitCode != 0 || fs::file_size(out / "updater.bin") != size)
                throw std::runtime_error("the download routine failed");
            ours.push_back(size / MiB / std::stod(r.output));
            fs::remove(out / "updater.bin");
        },
        [&](int) {
            const Finished r = run({"curl", "-s", "-f", "-o", (out / "curl.bin").string(), "-w", "%{time_total}", url},
                                   out.path(), env);
            if (r.exitCode != 0 || fs::file_size(out / "curl.bin") != size)
                throw std::runtime_error("curl failed");
            peer.push_back(size / MiB / std::stod(r.output));
            fs::remove(out / "curl.bin");
        });
    const double ratio = median(ours) / median(peer);
    g_rows.push_back({"Download 256 MiB, MiB/s (routine vs curl -o)", fixed(median(ours), 0), fixed(median(peer), 0),
                      fixed(ratio), ">= 0.90", ratio >= 0.9});
}

// The routine over one kept connection against one curl process fetching the same files over
// one connection; and the rate limit against curl's own.
void manyDownloads(const Display &display)
{
    TempFolder www;
    TempFolder out;
    std::string ours, peers;
    for (int i = 0; i < 1000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "page%04d.bin", i);
        writeArbitraryFile(www / name, 4096, 100 + i);
        ours += "http://127.0.0.1:PORT/" + std::string(name) + " " + (out / "ours" / name).string() + "\n";
        peers += "url = \"http://127.0.0.1:PORT/" + std::string(name) + "\"\noutput = \""
            + (out / "curl" / name).string() + "\"\n";
    }
    writeArbitraryFile(www / "ten.bin", 10u << 20, 3);
    NginxServer nginx(www.path());
    const std::string port = std::to_string(nginx.port());
    const auto withPort = [&](std::string text) {
        for (size_t at; (at = text.find("PORT")) != std::string::npos;)
            text.replace(at, 4, port);
        return text;
    };
    writeFile(out / "ours.txt", withPort(ours));
    writeFile(out / "curl.cfg", withPort(peers));
    const auto env = programEnvironment(display);
    std::vector<double> routine, curl;
    say("1000 x 4 KiB: the updater's routine on one connection and one curl process, alternated");
    alternate(
        rounds(5),
        [&](int) {
            fs::remove_all(out / "ours");
            fs::create_directory(out / "ours");
            const Finished r =
                run({builtProgram("bench_download_routine").string(), "--list", (out / "ours.txt").string()},
                    out.path(), env);
            if (r.exitCode != 0 || !fs::exists(out / "ours" / "page0999.bin"))
                throw std::runtime_error("the download routine failed");
            routine.push_back(std::stod(r.output));
        },
        [&](int) {
            fs::remove_all(out / "curl");
            fs::create_directory(out / "curl");
            const Finished r = run({"curl", "-s", "-f", "--config", (out / "curl.cfg").string()}, out.path(), env);
            if (r.exitCode != 0 || !fs::exists(out / "curl" / "page0999.bin"))
                throw std::runtime_error("curl failed");
            curl.push_back(r.seconds);
        });
    const double ratio = median(routine) / median(curl);
    g_rows.push_back({"Download 1000 x 4 KiB, s (routine vs one curl, one connection)", fixed(median(routine), 3),
                      fixed(median(curl), 3), fixed(ratio), "<= 1.00", ratio <= 1.0});

    say("10 MiB at max_download_rate=2048 and curl --limit-rate 2048K");
    auto limited = env;
    limited["BENCH_RATE_KIB"] = "2048";
    const Finished r =
        run({builtProgram("bench_download_routine").string(), nginx.baseUrl() + "ten.bin", (out / "ten.bin").string()},
            out.path(), limited);
    const Finished c = run({"curl", "-s", "-f", "--limit-rate", "2048K", "-o", (out / "ten-curl.bin").string(), "-w",
                            "%{time_total}", nginx.baseUrl() + "ten.bin"},
                           out.path(), env);
    if (r.exitCode != 0 || c.exitCode != 0)
        throw std::runtime_error("the rate-limited download failed");
    const double seconds = std::stod(r.output);
    g_rows.push_back({"Download 10 MiB at 2048 KiB/s, s (routine vs curl --limit-rate)", fixed(seconds, 2),
                      fixed(std::stod(c.output), 2), fixed(seconds / std::stod(c.output)), "routine >= 4.5 s",
                      seconds >= 4.5});
}

// --- 2. Memory of TesmoraUpdate --------------------------------------------------------------

void updaterMemory(const Display &display)
{
    TempFolder www;
    for (const auto &[name, size] : {std::pair<std::string, std::uintmax_t>{"small", 16u << 20},
                                     std::pair<std::string, std::uintmax_t>{"large", 1u << 30}}) {
        fs::create_directory(www / name);
        writeArbitraryFile(www / name / "payload.bin", size, 2);
        publishManifest(www / name, {"payload.bin"});
    }
    NginxServer nginx(www.path());
    const auto env = programEnvironment(display);
    std::map<std::string, std::vector<double>> peak;
    say("Memory: peak resident size of TesmoraUpdate installing 16 MiB and 1 GiB, alternated");

    const auto update = [&](const std::string &name) {
        TempFolder folder;
        installUpdater(folder.path(), nginx.baseUrl() + name + "/");
        const Finished r = run({(folder / "TesmoraUpdate").string()}, folder.path(), env);
        if (r.exitCode != 0 || !fs::exists(folder / "payload.bin"))
            throw std::runtime_error("TesmoraUpdate failed (" + name + ")");
        peak[name].push_back(r.peakRssKiB / 1024.0);
    };
    alternate(
        rounds(3), [&](int) { update("small"); }, [&](int) { update("large"); });
    const double small = median(peak["small"]);
    const double large = median(peak["large"]);
    g_rows.push_back({"TesmoraUpdate peak RSS, MiB (1 GiB vs 16 MiB file)", fixed(large, 1), fixed(small, 1),
                      "+" + fixed(large - small) + " MiB", "< 2 MiB more", large - small < 2.0});
}

// --- 3. Kiosk start --------------------------------------------------------------------------

const char *const StartPage = R"(<!DOCTYPE html>
<html lang="it"><head><meta charset="utf-8"><title>Servizio</title>
<style>
body { margin: 0; font-family: sans-serif; background: #eef2f7; color: #123; }
header { background: #00338c; color: white; padding: 24px 48px; font-size: 32px; }
main { display: grid; grid-template-columns: repeat(3, 1fr); gap: 24px; padding: 48px; }
a.tile { display: block; background: white; border-radius: 8px; padding: 48px 24px; font-size: 24px;
         text-align: center; text-decoration: none; color: #00338c; box-shadow: 0 2px 6px #0003; }
</style></head>
<body><header>Benvenuti</header>
<main><a class="tile" href="#">Certificati</a><a class="tile" href="#">Prenotazioni</a>
<a class="tile" href="#">Pagamenti</a><a class="tile" href="#">Orari</a><a class="tile" href="#">Mappa</a>
<a class="tile" href="#">Informazioni</a></main>
<script>
window.addEventListener('load', function () { new Image().src = '/loaded' + location.search; });
</script></body></html>
)";

void kioskStart(const Display &display)
{
    TempFolder www;
    fs::create_directory(www / "site");
    writeFile(www / "site" / "start.html", StartPage);
    writeFile(www / "site" / "error.html", "<html><body>errore</body></html>");
    // The start page reports its load event to /loaded.
    NginxServer nginx(www.path(), "    location = /loaded { return 204; }\n");
    const auto env = programEnvironment(display);
    std::map<std::string, std::vector<double>> requested, loaded, pss;
    say("Kiosk start: tesmora and a bare full-screen browser view on the same page, alternated (10 s each)");

    const auto measure = [&](const std::string &who, const std::vector<std::string> &argv, const fs::path &folder,
                             const std::string &runTag) {
        const double t0 = epochSeconds();
        ChildProcess program(argv.front(), folder, env, folder / "output.txt",
                             std::vector<std::string>(argv.begin() + 1, argv.end()));
        waitFor(10.0 - (epochSeconds() - t0));
        pss[who].push_back(groupPssKiB(program.pid()) / 1024.0);
        program.kill();
        const double request = nginx.loggedAt("/site/start.html?run=" + runTag);
        const double load = nginx.loggedAt("/loaded?run=" + runTag);
        if (request < 0 || load < 0)
            throw std::runtime_error(who + " did not load the page; see " + (folder / "output.txt").string());
        requested[who].push_back(request - t0);
        loaded[who].push_back(load - t0);
    };
    alternate(
        rounds(9),
        [&](int i) {
            TempFolder folder;
            fs::copy_file(builtProgram("tesmora"), folder / "tesmora");
            const std::string tag = "k" + std::to_string(i);
            writeFile(folder / "tesmora.ini",
                      "[data]\r\nweb_server=" + nginx.baseUrl() + "site/\r\nstart_page=start.html?run=" + tag
                          + "\r\nshutdown_check_interval=600\r\n[failure]\r\nerror_page=" + nginx.baseUrl()
                          + "site/error.html\r\n");
            measure("kiosk", {(folder / "tesmora").string()}, folder.path(), tag);
        },
        [&](int i) {
            TempFolder folder;
            const std::string tag = "m" + std::to_string(i);
            measure("minimal",
                    {builtProgram("bench_minimal_browser").string(), nginx.baseUrl() + "site/start.html?run=" + tag},
                    folder.path(), tag);
        });

    const auto row = [](const std::string &what, double ours, double peer, int decimals) {
        const double ratio = ours / peer;
        g_rows.push_back({what, fixed(ours, decimals), fixed(peer, decimals), fixed(ratio), "<= 1.05", ratio <= 1.05});
    };
    row("Kiosk start to page request, s (tesmora vs bare view)", median(requested["kiosk"]),
        median(requested["minimal"]), 3);
    row("Kiosk start to page loaded, s", median(loaded["kiosk"]), median(loaded["minimal"]), 3);
    row("Kiosk memory after 10 s, PSS MiB, all processes", median(pss["kiosk"]), median(pss["minimal"]), 1);
}

// --- 4. Updates against a curl + cp + sync loop ------------------------------------------------

// The peer: every file fetched with curl, copied over the installed one and synced to disk.
const char *const ShellLoop = R"(set -e
cd "$1"; url=$2
mkdir -p update
curl -s -f -o update/update.txt "${url}update.txt"
names=$(tail -n +2 update/update.txt | tr -d '\r')
for f in $names; do curl -s -f -o "update/$f" "$url$f"; done
for f in $names; do cp "update/$f" "$f"; sync "$f"; done
rm -f update/*
)";

struct UpdateSet
{
    std::string name;
    std::vector<std::pair<std::string, std::uintmax_t>> files;
};

void updates(const Display &display)
{
    std::vector<UpdateSet> sets{{"one", {{"big.bin", 256u << 20}}}, {"large", {}}, {"small", {}}};
    for (int i = 0; i < 10; ++i)
        sets[1].files.push_back({"part" + std::to_string(i) + ".bin", 50u << 20});
    for (int i = 0; i < 1000; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "page%04d.bin", i);
        sets[2].files.push_back({name, 4096});
    }
    TempFolder www;
    unsigned seed = 10;
    for (const UpdateSet &set : sets) {
        fs::create_directory(www / set.name);
        std::vector<std::string> names;
        for (const auto &[name, size] : set.files) {
            writeArbitraryFile(www / set.name / name, size, seed++);
            names.push_back(name);
        }
        publishManifest(www / set.name, names);
    }
    // The same file as a signed set, published as an operator would, with a fresh key.
    TempFolder desk;
    const std::string publicKey = makeMinisignKey(desk.path(), "key");
    if (publicKey.empty())
        throw std::runtime_error("minisign could not make a key (apt-get install minisign)");
    fs::create_directory(www / "signed");
    fs::create_hard_link(www / "one" / "big.bin", www / "signed" / "big.bin");
    if (run({PUBLISH_COMMAND, "-s", (desk / "key.sec").string(), (www / "signed").string(), "big.bin"}).exitCode != 0)
        throw std::runtime_error("tesmora-publish failed");

    TempFolder scripts;
    writeFile(scripts / "loop.sh", ShellLoop);
    NginxServer nginx(www.path());
    const auto env = programEnvironment(display);
    std::map<std::string, std::vector<double>> seconds;

    // A program folder holding an older version of every file of the set, so that the updater
    // backs each one up and the loop copies over it.
    const auto folderFor = [](const UpdateSet &set, TempFolder &folder) {
        for (const auto &[name, size] : set.files)
            writeArbitraryFile(folder / name, size, 9999);
        // Installed long before the update comes: nothing of them waits to be written.
        ::sync();
    };
    const auto updater = [&](const UpdateSet &set, const std::string &served, const std::string &extra) {
        TempFolder folder;
        folderFor(set, folder);
        installUpdater(folder.path(), nginx.baseUrl() + served + "/", extra);
        const Finished r = run({(folder / "TesmoraUpdate").string()}, folder.path(), env);
        if (r.exitCode != 0
            || readFile(folder / set.files.back().first) != readFile(www / served / set.files.back().first))
            throw std::runtime_error("TesmoraUpdate failed (" + served + ")");
        return r.seconds;
    };
    for (const UpdateSet &set : sets) {
        say("Update of " + std::to_string(set.files.size()) + " file(s) (" + set.name
            + "): TesmoraUpdate and a curl + cp + sync loop, alternated");
        alternate(
            rounds(3), [&](int) { seconds["updater-" + set.name].push_back(updater(set, set.name, "")); },
            [&](int) {
                TempFolder folder;
                folderFor(set, folder);
                const Finished r = run(
                    {"bash", (scripts / "loop.sh").string(), folder.path().string(), nginx.baseUrl() + set.name + "/"},
                    folder.path(), env);
                if (r.exitCode != 0)
                    throw std::runtime_error("the shell loop failed (" + set.name + ")");
                seconds["loop-" + set.name].push_back(r.seconds);
            });
    }
    say("Update of one 256 MiB file, verified (signed set) and not, alternated");
    alternate(
        rounds(3), [&](int) { seconds["verified"].push_back(updater(sets[0], "signed", "public_key=" + publicKey)); },
        [&](int) { seconds["unverified"].push_back(updater(sets[0], "one", "")); });

    const auto row = [&](const std::string &what, const std::string &ours, const std::string &peer, double target) {
        const double a = median(seconds[ours]);
        const double b = median(seconds[peer]);
        g_rows.push_back({what, fixed(a, 2), fixed(b, 2), fixed(a / b), "<= " + fixed(target), a / b <= target});
    };
    row("Update of one 256 MiB file, s (TesmoraUpdate vs curl+cp+sync)", "updater-one", "loop-one", 1.0);
    row("Update of 10 x 50 MiB, s", "updater-large", "loop-large", 1.0);
    row("Update of 1000 x 4 KiB, s", "updater-small", "loop-small", 0.1);
    row("Verified update of 256 MiB, s (vs unverified)", "verified", "unverified", 1.05);
}

// --- 5. Soak: errors and recoveries, idle resets, daily updates -------------------------------

// What a kiosk holds: its process and every process below it (the browser's helpers).
struct Holdings
{
    double pssMiB = 0;
    long descriptors = 0;
    long threads = 0;
    long processes = 0;
};

std::vector<pid_t> processTree(pid_t root)
{
    std::map<pid_t, std::vector<pid_t>> children;
    for (const auto &entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        // "pid (comm) state ppid ...": the name may hold spaces and brackets.
        const std::string stat = readFile(entry.path() / "stat");
        const size_t close = stat.rfind(')');
        int ppid = 0;
        if (close != std::string::npos && std::sscanf(stat.c_str() + close + 1, " %*c %d", &ppid) == 1)
            children[ppid].push_back(std::stoi(name));
    }
    std::vector<pid_t> tree{root};
    for (size_t i = 0; i < tree.size(); ++i)
        for (const pid_t child : children[tree[i]])
            tree.push_back(child);
    return tree;
}

Holdings holdingsOf(pid_t kiosk)
{
    Holdings h;
    for (const pid_t pid : processTree(kiosk)) {
        const fs::path proc = "/proc/" + std::to_string(pid);
        std::error_code ec;
        long kib = 0, threads = 0;
        for (std::istringstream rollup(readFile(proc / "smaps_rollup")); rollup;) {
            std::string line;
            std::getline(rollup, line);
            if (std::sscanf(line.c_str(), "Pss: %ld kB", &kib) == 1)
                h.pssMiB += kib / 1024.0;
        }
        for (std::istringstream status(readFile(proc / "status")); status;) {
            std::string line;
            std::getline(status, line);
            if (std::sscanf(line.c_str(), "Threads: %ld", &threads) == 1)
                h.threads += threads;
        }
        h.descriptors += std::distance(fs::directory_iterator(proc / "fd", ec), fs::directory_iterator());
        ++h.processes;
    }
    return h;
}

// Processes started from the kiosk's folder (its browser helpers keep it as their working folder)
// that no live kiosk holds any more.
long orphanHelpers(const fs::path &folder, pid_t kiosk)
{
    const std::vector<pid_t> held = processTree(kiosk);
    long orphans = 0;
    for (const auto &entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code ec;
        if (fs::read_symlink(entry.path() / "cwd", ec) == folder
            && std::find(held.begin(), held.end(), std::stoi(name)) == held.end())
            ++orphans;
    }
    return orphans;
}

// A visitor's click on the X display, through the XTEST extension (loaded at run time: the
// machine has the library but not its development files).
class Visitor
{
public:
    explicit Visitor(const std::string &display)
    {
        m_x11 = dlopen("libX11.so.6", RTLD_NOW);
        m_xtst = dlopen("libXtst.so.6", RTLD_NOW);
        if (!m_x11 || !m_xtst)
            throw std::runtime_error("libX11 or libXtst missing");
        using Open = void *(*)(const char *);
        m_display = reinterpret_cast<Open>(dlsym(m_x11, "XOpenDisplay"))(display.c_str());
        m_motion = reinterpret_cast<Motion>(dlsym(m_xtst, "XTestFakeMotionEvent"));
        m_button = reinterpret_cast<Button>(dlsym(m_xtst, "XTestFakeButtonEvent"));
        m_flush = reinterpret_cast<Flush>(dlsym(m_x11, "XFlush"));
        if (!m_display || !m_motion || !m_button || !m_flush)
            throw std::runtime_error("no XTEST on " + display);
    }
    ~Visitor()
    {
        using Close = int (*)(void *);
        reinterpret_cast<Close>(dlsym(m_x11, "XCloseDisplay"))(m_display);
    }
    void click(int x, int y)
    {
        m_motion(m_display, -1, x, y, 0);
        m_button(m_display, 1, 1, 0);
        m_button(m_display, 1, 0, 0);
        m_flush(m_display);
    }

private:
    using Motion = int (*)(void *, int, int, int, unsigned long);
    using Button = int (*)(void *, unsigned, int, unsigned long);
    using Flush = int (*)(void *);
    void *m_x11 = nullptr;
    void *m_xtst = nullptr;
    void *m_display = nullptr;
    Motion m_motion = nullptr;
    Button m_button = nullptr;
    Flush m_flush = nullptr;
};

int count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

int soakCount(const char *variable, int fallback)
{
    const char *text = std::getenv(variable);
    return text && *text ? std::max(0, std::atoi(text)) : fallback;
}

void soak(const Display &display)
{
    const int cycles = soakCount("SOAK_ERRORS", 2000);
    const int resets = soakCount("SOAK_RESETS", 500);
    const int updates = soakCount("SOAK_UPDATES", 50);
    say("Soak: " + std::to_string(cycles) + " error and recovery cycles, " + std::to_string(resets) + " idle resets, "
        + std::to_string(updates) + " daily updater cycles");

    TempFolder folder;
    TempFolder www;
    const int port = unusedPort();
    auto server = std::make_unique<TestHttpServer>(port);
    // The page looks at its server every second, as a live board does.
    const std::string page = "<html><head><meta http-equiv='refresh' content='1'></head><body>"
                             "<h1>Orari</h1><p>Binario 1</p></body></html>";
    server->serve("/start.html", page, 200, "text/html");
    fs::copy_file(builtProgram("tesmora"), folder / "tesmora");
    writeFile(folder / "error.html", "<html><body>Servizio non disponibile</body></html>");
    writeFile(folder / "page.html", "0");
    installUpdater(folder.path(), "http://127.0.0.1:" + std::to_string(port) + "/update/", "health_check_seconds=3");
    writeFile(folder / "tesmora.ini",
              "[data]\r\nweb_server=" + server->baseUrl() + "\r\nstart_page=start.html\r\nlog_events=1\r\n"
                  + "idle_reset=1\r\nshutdown_check_interval=1\r\n[failure]\r\ntime_restart_exe=1\r\nerror_page=file://"
                  + (folder / "error.html").string() + "\r\n");
    const fs::path log = folder / ("tesmora." + monthStamp(SystemClock().localNow()) + ".log");
    const auto logged = [&](const std::string &line) { return count(readFile(log), line); };
    const auto waitLogged = [&](const std::string &line, int atLeast, const char *what) {
        const double until = epochSeconds() + 60;
        while (logged(line) < atLeast) {
            if (epochSeconds() > until)
                throw std::runtime_error(std::string("soak: no ") + what + "; see " + log.string());
            waitFor(0.05);
        }
    };
    const auto env = programEnvironment(display);
    auto kiosk = std::make_unique<ChildProcess>(folder / "tesmora", folder.path(), env, folder / "output.txt");
    pid_t kioskPid = kiosk->pid();
    Visitor visitor(display.name());

    const std::string errorLine = "Errore di navigazione: " + server->baseUrl() + "start.html";
    const std::string recoveredLine = "Pagina di nuovo caricata: " + server->baseUrl() + "start.html";
    const auto errorCycle = [&] {
        const int errors = logged(errorLine), recoveries = logged(recoveredLine);
        server.reset();
        waitLogged(errorLine, errors + 1, "error");
        server = std::make_unique<TestHttpServer>(port);
        server->serve("/start.html", page, 200, "text/html");
        waitLogged(recoveredLine, recoveries + 1, "recovery");
    };
    const std::string resetLine = "Sessione azzerata dopo 1 secondi di inattività";
    const auto idleReset = [&] {
        const int before = logged(resetLine);
        visitor.click(400, 300);
        waitLogged(resetLine, before + 1, "idle reset");
    };
    int version = 0;
    const auto dailyUpdate = [&] {
        // A new version of one file: the updater stops the kiosk, installs it, starts the kiosk
        // again and watches it, as it does at update_start.
        server->serve("/update/update.txt", "TesmoraUpdate:\r\npage.html\r\n", 200, "text/plain");
        server->serve("/update/page.html", std::to_string(++version), 200, "text/plain");
        const Finished r = run({(folder / "TesmoraUpdate").string()}, folder.path(), env);
        if (r.exitCode != 0 || readFile(folder / "page.html") != std::to_string(version))
            throw std::runtime_error("soak: the update failed; see the updater's log in " + folder.path().string());
        const std::vector<pid_t> running = processesRunning(folder / "tesmora");
        if (running.size() != 1)
            throw std::runtime_error("soak: no kiosk after the update");
        kioskPid = running.front();
    };

    if (!server->waitForRequest("/start.html", std::chrono::seconds(30)))
        throw std::runtime_error("soak: the kiosk did not load its page; see " + (folder / "output.txt").string());
    // Each daily cycle ends in a new kiosk: they come first, and the kiosk the last one started is
    // the one measured through the errors and resets.
    for (int i = 0; i < updates; ++i)
        dailyUpdate();
    for (int i = 0; i < 3; ++i) {
        errorCycle();
        idleReset();
    }
    waitFor(5);
    const Holdings start = holdingsOf(kioskPid);
    for (int i = 0; i < cycles; ++i)
        errorCycle();
    for (int i = 0; i < resets; ++i)
        idleReset();
    waitFor(5);
    const Holdings end = holdingsOf(kioskPid);
    const long orphans = orphanHelpers(folder.path(), kioskPid);

    const auto row = [](const std::string &what, double before, double after, int decimals, double limit) {
        const double ratio = after / before;
        g_rows.push_back({what, fixed(after, decimals), fixed(before, decimals), fixed(ratio), "<= " + fixed(limit),
                          ratio <= limit});
    };
    row("Soak: kiosk and helpers, PSS MiB (end vs start)", start.pssMiB, end.pssMiB, 1, 1.10);
    row("Soak: open descriptors (end vs start)", start.descriptors, end.descriptors, 0, 1.0);
    row("Soak: threads (end vs start)", start.threads, end.threads, 0, 1.0);
    row("Soak: processes (end vs start)", start.processes, end.processes, 0, 1.0);
    g_rows.push_back(
        {"Soak: browser helpers without their kiosk", std::to_string(orphans), "0", "-", "0", orphans == 0});
    if (kioskPid != kiosk->pid())
        kill(kioskPid, SIGKILL);
}

void printTable()
{
    const std::vector<std::string> head{"Figure", "Tesmora", "Peer", "Ratio", "Target", "Met"};
    std::vector<size_t> width(head.size());
    const auto cells = [](const Row &r) {
        return std::vector<std::string>{r.what, r.ours, r.peer, r.ratio, r.target, r.met ? "yes" : "NO"};
    };
    for (size_t c = 0; c < head.size(); ++c) {
        width[c] = head[c].size();
        for (const Row &r : g_rows)
            width[c] = std::max(width[c], cells(r)[c].size());
    }
    const auto line = [&](const std::vector<std::string> &row) {
        for (size_t c = 0; c < row.size(); ++c) {
            std::printf(c == 0 ? "%-*s" : "  %*s", static_cast<int>(width[c]), row[c].c_str());
        }
        std::printf("\n");
    };
    std::printf("\n");
    line(head);
    for (const Row &r : g_rows)
        line(cells(r));
}

} // namespace

int main(int argc, char *argv[])
{
    std::set<std::string> chosen(argv + 1, argv + argc);
    const auto wanted = [&](const std::string &name) { return chosen.empty() || chosen.count(name); };
    try {
        Display display;
        if (wanted("download"))
            downloadThroughput(display);
        if (wanted("download"))
            manyDownloads(display);
        if (wanted("memory"))
            updaterMemory(display);
        if (wanted("kiosk"))
            kioskStart(display);
        if (wanted("update"))
            updates(display);
        // Long, and never part of "all".
        if (chosen.count("soak"))
            soak(display);
    } catch (const std::exception &e) {
        printTable();
        std::fprintf(stderr, "benchmark failed: %s\n", e.what());
        return 1;
    }
    printTable();
    return 0;
}
