#pragma once

#include "httpserver.h"
#include "process.h"
#include "tempfolder.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// A temporary program folder with the real TesmoraUpdate in it, its settings pointing at a real
// test server on 127.0.0.1, and stand-in kiosks written as shell scripts. Every stand-in records
// its pid, so that the folder ends each one it knows of when it goes.
class UpdaterFolder
{
public:
    // Obliging: holds "tesmora.lck" until "Shutdown.txt" appears, waits quitDelay, then deletes
    // the lock file and the request as the kiosk's orderly end does.
    // Stubborn: holds "tesmora.lck" and never quits.
    // Passing: records its start and ends at once, holding nothing.
    // Each records "<name> started" in "kiosk.events"; an obliging one that is asked to quit
    // records "<name> executable in place" when "tesmora" is still its own script at that moment.
    enum class Kiosk { Obliging, Stubborn, Passing };

    UpdaterFolder();
    ~UpdaterFolder();

    std::filesystem::path operator/(const std::string &name) const { return m_dir / name; }
    const std::filesystem::path &path() const { return m_dir.path(); }
    TestHttpServer &server() { return m_server; }

    // Writes "TesmoraUpdate.ini" with update_url and, unless empty, shutdown_timeout.
    void writeSettings(const std::string &updateUrl, const std::string &shutdownTimeout = {});
    void publish(const std::string &name, const std::string &body);
    // "TesmoraUpdate:" and the entries, CR LF after each line.
    void publishManifest(const std::vector<std::string> &entries);

    // environment: set over the tests' own (an empty value: as if not set).
    std::unique_ptr<ChildProcess> startUpdater(const std::filesystem::path &program = {},
                                               const std::map<std::string, std::string> &environment = {});
    // Runs the updater to its end (the test fails if it takes longer than limit); its exit code.
    int runUpdater(std::chrono::seconds limit = std::chrono::seconds(30));

    static std::string kioskScript(Kiosk kind, const std::string &name, double quitDelaySeconds = 0);
    void installKiosk(Kiosk kind, const std::string &name, double quitDelaySeconds = 0);
    // Starts the installed kiosk and waits for its lock file.
    std::unique_ptr<ChildProcess> startKiosk();
    std::vector<std::string> kioskEvents() const;
    bool waitForKioskEvents(size_t count, std::chrono::milliseconds timeout) const;

    std::vector<std::string> log() const;
    // The name of the (first) monthly log file written, or "" when there is none.
    std::string logFileName() const;
    // File names directly in the folder or in one of its subfolders.
    std::set<std::string> namesIn(const std::string &subfolder = {}) const;
    std::filesystem::perms permsOf(const std::string &name) const;

private:
    TestHttpServer m_server;
    TempFolder m_dir;
};
