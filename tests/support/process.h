#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

// Polls condition until it holds or the time is up; whether it held.
bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout);

// The folder the build puts the programs in.
std::filesystem::path builtProgram(const std::string &name);

// Copies a built program into a folder (a copy, not a link: a program's folder is where its
// executable file really lies).
std::filesystem::path installProgram(const std::string &name, const std::filesystem::path &folder,
                                     const std::string &asName = {});

// A started program. Ended with SIGKILL, together with its own children, if still running when
// the object goes.
class ChildProcess
{
public:
    // Starts program in workingDir, with no arguments unless given (the programs under test take
    // none); env entries are added to (or replace) the test's environment. Output goes to
    // outputFile when given, else is discarded.
    ChildProcess(const std::filesystem::path &program, const std::filesystem::path &workingDir,
                 const std::map<std::string, std::string> &env = {}, const std::filesystem::path &outputFile = {},
                 const std::vector<std::string> &arguments = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return m_pid; }
    bool running();
    // True when the process ended within the time; exitCode() then tells how.
    bool waitForExit(std::chrono::milliseconds timeout);
    // Exit status, or 128 + signal for a process ended by a signal; -1 while running.
    int exitCode() const { return m_exitCode; }
    void kill();

private:
    bool reap(bool block);

    pid_t m_pid = -1;
    int m_exitCode = -1;
};

// Runs program in folder to its end, its output into folder/output.txt; its exit code, or -1 when
// it did not end within 30 seconds.
int runProgram(const std::filesystem::path &program, const std::vector<std::string> &arguments,
               const std::filesystem::path &folder);

// The test's own environment with entries added or replaced, as "NAME=value" strings.
std::vector<std::string> environmentWith(const std::map<std::string, std::string> &env);

// The environment every started program of the tests gets: no display, the platform without a
// screen, and a browser that does not sandbox when the tests run as root.
std::map<std::string, std::string> headlessEnvironment();

// Live processes of a process group (a started program and the helpers it started itself).
std::vector<pid_t> processesInGroup(pid_t group);
// Processes whose executable path is the given file.
std::vector<pid_t> processesRunning(const std::filesystem::path &executable);
