#pragma once

// The updater's process-wide state and its entry point.

#include "clsfileini.h"
#include "countsetting.h"
#include "platform.h"
#include "programpaths.h"
#include "updatesettings.h"

#include <string>

namespace modMain {

// Bound to "<program folder>/<executable name>.ini".
extern clsFileIni IniFile;
// "data"/update_url as read, unchecked: the plain prefix of every download address.
extern std::string UpdateUrl;

// The kiosk's files beside the updater.
inline constexpr const char *KioskExeName = "tesmora";
inline constexpr const char *KioskLockFile = "tesmora.lck";
inline constexpr const char *ShutdownRequestFile = "Shutdown.txt";
// The updater's work folders in the program folder.
inline constexpr const char *UpdateFolder = "update";
inline constexpr const char *BackupFolder = "backup";

// The updater's counting settings, read with the kiosk's fallback rule.
namespace Keys {
// Looks for the kiosk's lock file before giving up; 0 or less gives up at once.
constexpr CountSetting shutdownTimeout{"data", "shutdown_timeout", "15", 15, -32768};
// Seconds a download may take in all; 0: no limit.
constexpr CountSetting downloadTimeout{"data", "download_timeout", "1800", 1800, 0};
// Seconds a kiosk started after an update must keep running; 0: not watched.
constexpr CountSetting healthCheckSeconds{"data", "health_check_seconds", "30", 30, 0};
} // namespace Keys

// Binds IniFile to the program's settings file; reads UpdateUrl and the rest of a run's settings.
UpdateSettings readSettings(const ProgramPaths &paths);

// The program: a second updater ends at once; otherwise reads the settings and shows the window,
// whose activation runs the update. Needs a QApplication; the window's end (every outcome of the
// run, or a close before it) ends the process, so this does not return. session: what the program
// found to show its window on; with none, the run goes on without a window and says so.
int Main(platform::DisplaySession session);

// The updater started with an argument, without a window and without downloading anything:
// "--recover" undoes an update that was cut short (the session runs it before it starts the kiosk);
// "--roll-back" undoes the last update kept (the session runs it when the kiosk that update
// brought keeps crashing). The exit status: 0 when nothing is left to undo, 1 otherwise. Anything
// else: -1, the usual run.
int Recover(const std::string &argument);

} // namespace modMain
