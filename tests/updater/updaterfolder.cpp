#include "updaterfolder.h"

#include "logreading.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> updaterEnvironment()
{
    auto env = headlessEnvironment();
    // The test server is local; a proxy configured on the machine must not sit in between.
    env["no_proxy"] = "127.0.0.1,localhost";
    env["NO_PROXY"] = "127.0.0.1,localhost";
    return env;
}

} // namespace

UpdaterFolder::UpdaterFolder()
{
    installProgram("TesmoraUpdate", m_dir.path());
    writeSettings(m_server.baseUrl());
}

UpdaterFolder::~UpdaterFolder()
{
    // Only stand-ins of this folder: a pid whose command line names the folder.
    std::ifstream pids(m_dir / "kiosk.pids");
    for (long pid; pids >> pid;) {
        const std::string commandLine = readFile("/proc/" + std::to_string(pid) + "/cmdline");
        if (commandLine.find(m_dir.path().string()) != std::string::npos)
            ::kill(static_cast<pid_t>(pid), SIGKILL);
    }
    m_server.stop();
}

void UpdaterFolder::writeSettings(const std::string &updateUrl, const std::string &shutdownTimeout)
{
    // Stand-in kiosks come and go at once; the watch of a kiosk after an update has its own tests.
    std::string ini = "[data]\r\nupdate_url=" + updateUrl + "\r\nhealth_check_seconds=0\r\n";
    if (!shutdownTimeout.empty())
        ini += "shutdown_timeout=" + shutdownTimeout + "\r\n";
    writeFile(m_dir / "TesmoraUpdate.ini", ini);
}

void UpdaterFolder::publish(const std::string &name, const std::string &body)
{
    m_server.serve("/" + name, body);
}

void UpdaterFolder::publishManifest(const std::vector<std::string> &entries)
{
    std::string manifest = "TesmoraUpdate:\r\n";
    for (const auto &entry : entries)
        manifest += entry + "\r\n";
    publish("update.txt", manifest);
}

std::unique_ptr<ChildProcess> UpdaterFolder::startUpdater(const fs::path &program,
                                                          const std::map<std::string, std::string> &environment)
{
    auto env = updaterEnvironment();
    for (const auto &[name, value] : environment)
        env[name] = value;
    return std::make_unique<ChildProcess>(program.empty() ? m_dir / "TesmoraUpdate" : program, m_dir.path(), env);
}

int UpdaterFolder::runUpdater(std::chrono::seconds limit)
{
    auto updater = startUpdater();
    const bool ended = updater->waitForExit(limit);
    EXPECT_TRUE(ended) << "TesmoraUpdate did not end";
    return updater->exitCode();
}

std::string UpdaterFolder::kioskScript(Kiosk kind, const std::string &name, double quitDelaySeconds)
{
    // Relative paths: a kiosk works in its program folder, so a wrong working folder shows.
    std::string script = "#!/bin/sh\n# " + name
        + "\n"
          "echo $$ >> kiosk.pids\n"
          "echo '"
        + name + " started' >> kiosk.events\n";
    switch (kind) {
    case Kiosk::Obliging:
        script += "date >> tesmora.lck\n"
                  "while [ ! -f Shutdown.txt ]; do sleep 0.05; done\n"
                  "sleep "
            + std::to_string(quitDelaySeconds)
            + "\n"
              "if grep -qx '# "
            + name + "' tesmora; then echo '" + name
            + " executable in place' >> kiosk.events; fi\n"
              "rm -f tesmora.lck\n"
              "rm -f Shutdown.txt\n";
        break;
    case Kiosk::Stubborn:
        script += "date >> tesmora.lck\n"
                  "while :; do sleep 0.1; done\n";
        break;
    case Kiosk::Passing:
        break;
    }
    return script;
}

void UpdaterFolder::installKiosk(Kiosk kind, const std::string &name, double quitDelaySeconds)
{
    writeFile(m_dir / "tesmora", kioskScript(kind, name, quitDelaySeconds));
    fs::permissions(m_dir / "tesmora", fs::perms(0755), fs::perm_options::replace);
}

std::unique_ptr<ChildProcess> UpdaterFolder::startKiosk()
{
    auto kiosk = std::make_unique<ChildProcess>(m_dir / "tesmora", m_dir.path());
    EXPECT_TRUE(waitUntil([&] { return fs::exists(m_dir / "tesmora.lck"); }, std::chrono::seconds(10)))
        << "the stand-in kiosk did not start";
    return kiosk;
}

std::vector<std::string> UpdaterFolder::kioskEvents() const
{
    std::vector<std::string> events;
    std::istringstream in(readFile(m_dir / "kiosk.events"));
    for (std::string line; std::getline(in, line);)
        events.push_back(line);
    return events;
}

bool UpdaterFolder::waitForKioskEvents(size_t count, std::chrono::milliseconds timeout) const
{
    return waitUntil([&] { return kioskEvents().size() >= count; }, timeout);
}

std::vector<std::string> UpdaterFolder::log() const
{
    return updaterLogMessages(m_dir.path());
}

std::string UpdaterFolder::logFileName() const
{
    const std::regex pattern(R"(TesmoraUpdate\d{6}\.log)");
    for (const auto &name : namesIn()) {
        if (std::regex_match(name, pattern))
            return name;
    }
    return {};
}

std::set<std::string> UpdaterFolder::namesIn(const std::string &subfolder) const
{
    std::set<std::string> names;
    const fs::path folder = subfolder.empty() ? m_dir.path() : m_dir / subfolder;
    for (const auto &entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

fs::perms UpdaterFolder::permsOf(const std::string &name) const
{
    return fs::status(m_dir / name).permissions() & fs::perms::mask;
}
