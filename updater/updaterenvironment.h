#pragma once

#include "clock.h"
#include "programpaths.h"
#include "result.h"

#include <filesystem>
#include <functional>

// What the updater needs from outside: where its files are, the clock of its stamps and log
// lines, the pause between two looks for the kiosk, and how a program of the folder is started,
// watched and ended. Tests replace the pause and the programs, so that no real time passes and
// no real kiosk is needed.
struct UpdaterEnvironment
{
    ProgramPaths paths;
    const Clock *clock = nullptr;
    std::function<void()> waitOneSecond;
    // Starts a program without waiting for it, the program folder as its working folder: its
    // process id, or why it could not be started.
    std::function<Result<long>(const std::filesystem::path &program)> startProgram;
    std::function<bool(long pid)> processRunning;
    std::function<void(long pid)> killProcess;

    static UpdaterEnvironment ofRunningProgram(const Clock &clock);
};
