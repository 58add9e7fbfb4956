#include "process.h"

#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

bool waitUntil(const std::function<bool()> &condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

std::filesystem::path builtProgram(const std::string &name)
{
    return std::filesystem::path(TESMORA_BIN_DIR) / name;
}

std::filesystem::path installProgram(const std::string &name, const std::filesystem::path &folder,
                                     const std::string &asName)
{
    const auto target = folder / (asName.empty() ? name : asName);
    std::filesystem::copy_file(builtProgram(name), target, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(target, std::filesystem::perms::owner_all, std::filesystem::perm_options::add);
    return target;
}

std::vector<std::string> environmentWith(const std::map<std::string, std::string> &env)
{
    std::map<std::string, std::string> merged;
    for (char **e = environ; *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos)
            merged[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto &[k, v] : env)
        merged[k] = v;
    std::vector<std::string> list;
    for (const auto &[k, v] : merged)
        list.push_back(k + "=" + v);
    return list;
}

std::map<std::string, std::string> headlessEnvironment()
{
    return {{"QT_QPA_PLATFORM", "offscreen"}, {"DISPLAY", ""}};
}

ChildProcess::ChildProcess(const std::filesystem::path &program, const std::filesystem::path &workingDir,
                           const std::map<std::string, std::string> &env, const std::filesystem::path &outputFile,
                           const std::vector<std::string> &arguments)
{
    const std::string out = outputFile.empty() ? std::string("/dev/null") : outputFile.string();
    const int output = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int input = open("/dev/null", O_RDONLY | O_CLOEXEC);
    // A group of its own, so that kill() reaches the browser's helper processes too.
    platform::ProgramStart start{program, arguments, workingDir, environmentWith(env),
                                 input,   output,    output,     platform::ProgramStart::Tie::Child};
    const Result<long> started = platform::startProgram(start);
    close(output);
    close(input);
    if (started.failed()) {
        // As a program that could not be run ends: so that a test sees it, not a thrown error.
        m_exitCode = 127;
        return;
    }
    m_pid = static_cast<pid_t>(started.value);
}

ChildProcess::~ChildProcess()
{
    kill();
}

bool ChildProcess::reap(bool block)
{
    if (m_pid <= 0 || m_exitCode != -1)
        return true;
    int status = 0;
    const pid_t r = waitpid(m_pid, &status, block ? 0 : WNOHANG);
    if (r == 0)
        return false;
    if (r < 0) {
        m_exitCode = 255;
        return true;
    }
    m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

bool ChildProcess::running()
{
    return !reap(false);
}

bool ChildProcess::waitForExit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void ChildProcess::kill()
{
    if (m_pid <= 0)
        return;
    ::kill(-m_pid, SIGKILL);
    if (m_exitCode == -1) {
        ::kill(m_pid, SIGKILL);
        reap(true);
    }
}

namespace {

struct ProcStat
{
    pid_t pid = 0;
    char state = 0;
    long ppid = 0;
    long pgrp = 0;
};

// Every live (not zombie) process that match accepts, read from /proc/<pid>/stat.
std::vector<pid_t> scanProcesses(const std::function<bool(const ProcStat &)> &match)
{
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream statFile(entry.path() / "stat");
        std::string stat;
        std::getline(statFile, stat);
        // pid (comm) state ppid pgrp ...: comm may hold blanks and parentheses.
        const auto close = stat.rfind(')');
        ProcStat p;
        p.pid = static_cast<pid_t>(std::stol(name));
        if (close == std::string::npos
            || std::sscanf(stat.c_str() + close + 1, " %c %ld %ld", &p.state, &p.ppid, &p.pgrp) != 3)
            continue;
        if (p.state != 'Z' && match(p))
            found.push_back(p.pid);
    }
    return found;
}

} // namespace

std::vector<pid_t> processesInGroup(pid_t group)
{
    return scanProcesses([group](const ProcStat &p) { return p.pgrp == group; });
}

std::vector<pid_t> processesRunning(const std::filesystem::path &executable)
{
    const auto wanted = std::filesystem::weakly_canonical(executable);
    return scanProcesses([&](const ProcStat &p) {
        std::error_code ec;
        const auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(p.pid) + "/exe", ec);
        return !ec && exe == wanted;
    });
}

int runProgram(const std::filesystem::path &program, const std::vector<std::string> &arguments,
               const std::filesystem::path &folder)
{
    ChildProcess process(program, folder, {}, folder / "output.txt", arguments);
    return process.waitForExit(std::chrono::seconds(30)) ? process.exitCode() : -1;
}
