#pragma once

#include "clock.h"
#include "programpaths.h"

#include <functional>

// What the kiosk needs from outside: where its files are, the clock its rules read, and how the
// program ends at once (tests replace the last so that the test process lives on).
struct KioskEnvironment
{
    ProgramPaths paths;
    const Clock *clock = nullptr;
    std::function<void(int)> endProcess;

    static KioskEnvironment ofRunningProgram(const Clock &clock);

    // One date-time line at every start, deleted at an orderly end: the updater's sign of a kiosk.
    std::filesystem::path lockFile() const { return paths.file("tesmora.lck"); }
    // Whoever wants the kiosk to end writes it; the kiosk deletes it as it ends.
    std::filesystem::path shutdownRequestFile() const { return paths.file("Shutdown.txt"); }
};
