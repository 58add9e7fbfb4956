#include "programpaths.h"

#include "platform.h"

ProgramPaths ProgramPaths::ofRunningProgram()
{
    const auto exe = platform::executablePath();
    return {exe.parent_path(), exe.stem().string()};
}
