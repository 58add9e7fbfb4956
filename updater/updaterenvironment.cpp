#include "updaterenvironment.h"

#include "platform.h"

#include <chrono>
#include <thread>

UpdaterEnvironment UpdaterEnvironment::ofRunningProgram(const Clock &clock)
{
    UpdaterEnvironment env;
    env.paths = ProgramPaths::ofRunningProgram();
    env.clock = &clock;
    env.waitOneSecond = [] { std::this_thread::sleep_for(std::chrono::seconds(1)); };
    env.startProgram = [folder = env.paths.folder](const std::filesystem::path &program) {
        return platform::startProgram(platform::ProgramStart::inFolder(program, folder));
    };
    env.processRunning = platform::processRunning;
    env.killProcess = platform::killProcess;
    return env;
}
