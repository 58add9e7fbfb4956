#include "kioskenvironment.h"

#include "platform.h"

KioskEnvironment KioskEnvironment::ofRunningProgram(const Clock &clock)
{
    return {ProgramPaths::ofRunningProgram(), &clock, [](int code) { platform::endProcessNow(code); }};
}
