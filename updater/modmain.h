#pragma once

// The updater's process-wide state, its log writer and its entry point.

#include "clock.h"
#include "clsfileini.h"
#include "programpaths.h"

#include <string>

namespace modMain {

// Bound to "<program folder>/<executable name>.ini"; read at start and at every kiosk stop.
extern clsFileIni IniFile;
// "data"/update_url as read, unchecked: the plain prefix of every download address.
extern std::string UpdateUrl;

// The kiosk's files beside the updater.
inline constexpr const char *KioskExeName = "tesmora";
inline constexpr const char *KioskLockFile = "tesmora.lck";
inline constexpr const char *ShutdownRequestFile = "Shutdown.txt";

// The folder and name every path and the log derive from, and the clock of the log lines and
// stamps. Main binds the running program and the system clock; tests bind their own.
void bindProgram(const ProgramPaths &paths, const Clock &clock);
const ProgramPaths &program();
const Clock &clock();

// Appends "dd/mm/yyyy hh:mm:ss - " + message to "<exe>yyyymm.log"; never fails towards the
// caller.
void WriteLog(const std::string &message);

// The program: a second updater ends at once; otherwise reads the settings and shows the window,
// whose activation runs the update. Needs a QApplication; every outcome of the run ends the
// process, so this does not return.
int Main();

} // namespace modMain
