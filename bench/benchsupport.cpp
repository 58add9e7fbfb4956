#include "benchsupport.h"

#include "platform.h"

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
    // Waited for here rather than with ChildProcess: the peak memory comes from wait4 and the
    // output from a pipe, apart from the program's messages on its error output.
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    platform::ProgramStart spec{argv.front(), std::vector<std::string>(argv.begin() + 1, argv.end()),
                                workDir,      environmentWith(env),
                                null,         pipeFds[1],
                                null,         platform::ProgramStart::Tie::Child};
    const auto start = std::chrono::steady_clock::now();
    const Result<long> started = platform::startProgram(spec);
    close(null);
    close(pipeFds[1]);
    if (started.failed()) {
        close(pipeFds[0]);
        throw std::runtime_error("cannot run " + argv.front() + ": " + started.error.description);
    }
    const auto pid = static_cast<pid_t>(started.value);
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
    m_server = std::make_unique<ChildProcess>("/usr/bin/Xvfb", fs::temp_directory_path(),
                                              std::map<std::string, std::string>{}, fs::path{},
                                              std::vector<std::string>{"-displayfd", std::to_string(fds[1]), "-screen",
                                                                       "0", "1280x1024x24", "-nolisten", "tcp"});
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
