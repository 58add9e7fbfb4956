#pragma once

#include <filesystem>
#include <string>

// Where a program's files are: every file a program uses lies in the folder of its executable,
// and its settings and log files carry the executable's name without extension.
struct ProgramPaths
{
    std::filesystem::path folder;
    std::string exeName;

    static ProgramPaths ofRunningProgram();

    std::filesystem::path file(const std::string &name) const { return folder / name; }
    std::filesystem::path settingsFile() const { return file(exeName + ".ini"); }
    // The newest signing time of an installed update set, "timestamp:<Unix seconds>" CR LF.
    std::filesystem::path trustStateFile() const { return file(exeName + ".trust"); }
    // The hidden file a running program holds its single-instance lock on.
    std::filesystem::path instanceLockFile() const { return file("." + exeName + ".instance"); }
};
