#include "benchsupport.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace bench {

void writeArbitraryFile(const fs::path &path, std::uintmax_t bytes, unsigned seed)
{
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(seed);
    std::vector<std::uint64_t> block(1 << 16);
    for (std::uintmax_t written = 0; written < bytes;) {
        for (auto &word : block)
            word = random();
        const auto n = std::min<std::uintmax_t>(bytes - written, block.size() * sizeof(std::uint64_t));
        out.write(reinterpret_cast<const char *>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

Finished run(const std::vector<std::string> &argv, const fs::path &workDir,
             const std::map<std::string, std::string> &env)
{
    // Measured here rather than with ChildProcess: the peak memory comes from wait4 and the
    // output from a pipe, apart from the program's messages on its error output.
    std::vector<std::string> envStrings = environmentWith(env);
    std::vector<char *> envp;
    for (auto &s : envStrings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char *> argp;
    for (auto &a : args)
        argp.push_back(a.data());
    argp.push_back(nullptr);
    const std::string dir = workDir.string();
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        throw std::runtime_error("pipe failed");

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        setpgid(0, 0);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(pipeFds[1], 1);
        dup2(null, 2);
        close(pipeFds[0]);
        if (!dir.empty() && chdir(dir.c_str()) != 0)
            _exit(126);
        execvpe(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    setpgid(pid, pid);
    close(pipeFds[1]);
    Finished result;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        result.output.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peakRssKiB = usage.ru_maxrss;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // Whatever the program left running in its group (a started kiosk) goes too.
    ::kill(-pid, SIGKILL);
    return result;
}

long groupPssKiB(pid_t group)
{
    long total = 0;
    for (const pid_t pid : processesInGroup(group)) {
        std::istringstream rollup(readFile("/proc/" + std::to_string(pid) + "/smaps_rollup"));
        for (std::string line; std::getline(rollup, line);) {
            long kib = 0;
            if (std::sscanf(line.c_str(), "Pss: %ld kB", &kib) == 1)
                total += kib;
        }
    }
    return total;
}

Display::Display()
{
    if (const char *display = std::getenv("DISPLAY"); display && *display) {
        m_name = display;
        return;
    }
    // Xvfb picks a free display number and writes it to the descriptor it is given.
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    m_server = std::make_unique<ChildProcess>(
        "/usr/bin/Xvfb", fs::temp_directory_path(), std::map<std::string, std::string>{}, fs::path{},
        std::vector<std::string>{"-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        throw std::runtime_error("Xvfb did not start");
    m_name = ":" + number;
}

Display::~Display() = default;

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double epochSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

void waitFor(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

} // namespace bench
