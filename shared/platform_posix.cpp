#include "platform.h"

#include "text.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace platform {

std::filesystem::path executablePath()
{
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

LocalDateTime toLocal(TimePoint t)
{
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

TimePoint fromLocal(const LocalDateTime &local)
{
    std::tm tm{};
    tm.tm_year = local.year - 1900;
    tm.tm_mon = local.month - 1;
    tm.tm_mday = local.day;
    tm.tm_hour = local.hour;
    tm.tm_min = local.minute;
    tm.tm_sec = local.second;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

std::FILE *openFile(const std::filesystem::path &path, const char *mode)
{
    return std::fopen(path.c_str(), mode);
}

std::FILE *openFileNoFollow(const std::filesystem::path &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    std::FILE *file = ::fdopen(fd, "rb");
    if (!file)
        ::close(fd);
    return file;
}

bool runningAsRoot()
{
    return geteuid() == 0;
}

std::string machineIdentity()
{
    std::string id;
    if (std::FILE *file = std::fopen("/etc/machine-id", "re")) {
        char line[128] = {};
        if (std::fgets(line, sizeof line, file))
            id = trimmed(line, " \t\r\n");
        std::fclose(file);
    }
    if (!id.empty())
        return id;
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    return host;
}

ErrorInfo syncFile(std::FILE *file)
{
    errno = 0;
    if (std::fflush(file) == 0 && ::fsync(fileno(file)) == 0)
        return {};
    return errorFromErrno(errno ? errno : EIO);
}

namespace {

// Opens path for reading only (a folder too) and applies one call to it.
ErrorInfo onOpened(const std::filesystem::path &path, int (*call)(int))
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errorFromErrno(errno, path);
    const int done = call(fd);
    const int err = errno;
    ::close(fd);
    return done == 0 ? ErrorInfo{} : errorFromErrno(err ? err : EIO, path);
}

} // namespace

ErrorInfo syncPath(const std::filesystem::path &path)
{
    return onOpened(path, ::fsync);
}

ErrorInfo syncFileSystem(const std::filesystem::path &path)
{
    return onOpened(path, ::syncfs);
}

void startWriting(std::FILE *file, std::uint64_t offset, std::uint64_t length)
{
#ifdef __linux__
    ::sync_file_range(fileno(file), static_cast<off64_t>(offset), static_cast<off64_t>(length), SYNC_FILE_RANGE_WRITE);
#else
    (void)file, (void)offset, (void)length;
#endif
}

bool processRunning(long pid)
{
    if (pid <= 0)
        return false;
    // A child of ours that ended stays a zombie until reaped: it is not running.
    int status = 0;
    if (::waitpid(static_cast<pid_t>(pid), &status, WNOHANG) == static_cast<pid_t>(pid))
        return false;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)
        return false;
#ifdef __linux__
    // Ended but not yet reaped by whoever inherited it: no longer running.
    std::FILE *stat = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!stat)
        return false;
    char line[512] = {};
    const size_t length = std::fread(line, 1, sizeof line - 1, stat);
    std::fclose(stat);
    // "pid (name) state ...": the name may hold anything, the state follows its last ")".
    const char *close = std::strrchr(line, ')');
    const char state = close && close + 2 < line + length ? close[2] : '?';
    return state != 'Z' && state != 'X';
#else
    return true;
#endif
}

void killProcess(long pid)
{
    if (pid > 0)
        ::kill(static_cast<pid_t>(pid), SIGKILL);
}

std::optional<long> processMemoryKiB(long pid)
{
    const std::string proc = "/proc/" + std::to_string(pid);
    // smaps_rollup is Linux 4.14 and later; status has no share but always the resident size.
    for (const auto &[file, format] :
         {std::pair{"/smaps_rollup", "Pss: %ld kB"}, std::pair{"/status", "VmRSS: %ld kB"}}) {
        std::FILE *f = std::fopen((proc + file).c_str(), "r");
        if (!f)
            continue;
        char line[256];
        long kib = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, f))
            found = std::sscanf(line, format, &kib) == 1;
        std::fclose(f);
        if (found)
            return kib;
    }
    return std::nullopt;
}

void endProcessNow(int exitCode)
{
    // The browser engine's helper processes watch their pipe to us and end as soon as it closes.
    std::_Exit(exitCode);
}

namespace {

// Closes the descriptors first..last. Async-signal-safe, so it serves between fork and exec too;
// the loop is for kernels older than 5.9.
void closeRange(unsigned first, unsigned last, long openMax)
{
    if (first > last || ::close_range(first, last, 0) == 0)
        return;
    for (long fd = first; fd <= static_cast<long>(last) && fd < openMax; ++fd)
        ::close(static_cast<int>(fd));
}

} // namespace

namespace {

// Everything a started program needs, made before fork: after it, only async-signal-safe calls.
struct PreparedStart
{
    explicit PreparedStart(const ProgramStart &start)
        : program(start.program.string())
        , folder(start.folder.string())
        , environmentText(start.environment)
    {
        arguments.push_back(program.data());
        argumentText = start.arguments;
        for (std::string &argument : argumentText)
            arguments.push_back(argument.data());
        arguments.push_back(nullptr);
        for (std::string &entry : environmentText)
            environment.push_back(entry.data());
        environment.push_back(nullptr);
    }

    // In the child: becomes the program, or returns the errno of the failure.
    int become(const ProgramStart &start, int keep, long openMax)
    {
        struct sigaction byDefault
        {
        };
        byDefault.sa_handler = SIG_DFL;
        for (int signal = 1; signal < NSIG; ++signal)
            ::sigaction(signal, &byDefault, nullptr);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const int standard[] = {start.input, start.output, start.error};
        for (int fd = 0; fd < 3; ++fd) {
            if (standard[fd] >= 0 && standard[fd] != fd && ::dup2(standard[fd], fd) < 0)
                return errno;
        }
        const auto kept = static_cast<unsigned>(keep);
        if (kept > 2) {
            closeRange(3, kept - 1, openMax);
            closeRange(kept + 1, ~0U, openMax);
        } else {
            closeRange(3, ~0U, openMax);
        }
        if (!folder.empty() && ::chdir(folder.c_str()) != 0)
            return errno;
        char *const *env = environmentText.empty() ? environ : environment.data();
        if (program.find('/') == std::string::npos)
            ::execvpe(program.c_str(), arguments.data(), env);
        else
            ::execve(program.c_str(), arguments.data(), env);
        return errno;
    }

    std::string program;
    std::string folder;
    std::vector<std::string> argumentText;
    std::vector<std::string> environmentText;
    std::vector<char *> arguments;
    std::vector<char *> environment;
};

// What the child tells through the report pipe: a failure's errno, or the detached program's id.
struct Report
{
    int failed;
    int value;
};

void send(int fd, const Report &report)
{
    [[maybe_unused]] const ssize_t written = ::write(fd, &report, sizeof report);
}

// Reads the child's reports to the end (both write ends close: at the child's exit, at the
// program's exec), in whatever order they came: any failure wins.
struct Received
{
    bool failed = false;
    int error = 0;
    long pid = 0;
};

Received receive(int fd)
{
    Received outcome;
    Report report{};
    for (ssize_t got; (got = ::read(fd, &report, sizeof report)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got != static_cast<ssize_t>(sizeof report))
            return {true, EIO, 0};
        if (report.failed)
            outcome = {true, report.value, 0};
        else if (!outcome.failed)
            outcome.pid = report.value;
    }
    return outcome;
}

} // namespace

Result<long> startProgram(const ProgramStart &start)
{
    using Started = Result<long>;
    PreparedStart prepared(start);
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return Started::failure(errorFromErrno(errno, start.program));

    const bool detached = start.tie == ProgramStart::Tie::Detached;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        if (!detached) {
            ::setpgid(0, 0);
            send(report[1], {1, prepared.become(start, report[1], openMax)});
            ::_exit(127);
        }
        // A session of its own and a second fork: the program is nobody's child here, is not
        // ended with our process group, and is reaped by the system.
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            send(report[1], {1, prepared.become(start, report[1], openMax)});
            ::_exit(127);
        }
        send(report[1], grandchild > 0 ? Report{0, grandchild} : Report{1, errno});
        ::_exit(grandchild > 0 ? 0 : 127);
    }
    const int forkError = errno;
    ::close(report[1]);
    if (child < 0) {
        ::close(report[0]);
        return Started::failure(errorFromErrno(forkError, start.program));
    }
    if (!detached)
        ::setpgid(child, child); // whichever of the two runs first
    const Received received = receive(report[0]);
    ::close(report[0]);
    // A detached start's middle process ends at once; a child that failed to become the program, too.
    if (detached || received.failed) {
        int status = 0;
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    }
    if (received.failed)
        return Started::failure(errorFromErrno(received.error, start.program));
    if (detached)
        return received.pid > 0 ? Started{received.pid, {}} : Started::failure(errorFromErrno(EIO, start.program));
    return {child, {}};
}

namespace {

constexpr int EndSignals[] = {SIGTERM, SIGINT, SIGHUP};
volatile std::sig_atomic_t g_endRequestWrite = -1;
struct sigaction g_previousActions[std::size(EndSignals)];

void onEndSignal(int signal)
{
    const int savedErrno = errno;
    const auto number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_endRequestWrite, &number, 1);
    errno = savedErrno;
}

} // namespace

EndRequestWatch::EndRequestWatch()
{
    int ends[2];
    if (g_endRequestWrite != -1 || ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_read = ends[0];
    g_endRequestWrite = ends[1];
    struct sigaction action
    {
    };
    action.sa_handler = onEndSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < std::size(EndSignals); ++i)
        ::sigaction(EndSignals[i], &action, &g_previousActions[i]);
}

EndRequestWatch::~EndRequestWatch()
{
    if (m_read == -1)
        return;
    for (size_t i = 0; i < std::size(EndSignals); ++i)
        ::sigaction(EndSignals[i], &g_previousActions[i], nullptr);
    ::close(g_endRequestWrite);
    ::close(m_read);
    g_endRequestWrite = -1;
}

int EndRequestWatch::takeRequest()
{
    unsigned char number = 0;
    return m_read != -1 && ::read(m_read, &number, 1) == 1 ? number : 0;
}

InstanceLock::~InstanceLock()
{
    release();
}

InstanceLock::Result InstanceLock::tryLock(const std::filesystem::path &file)
{
    release();
    int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC); // flock needs no write access
    if (fd < 0)
        return Result::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return Result::HeldElsewhere;
    }
    m_handle = fd;
    return Result::Acquired;
}

bool InstanceLock::heldElsewhere(const std::filesystem::path &file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    // A shared lock taken and dropped at once: it fails only while someone holds the exclusive one.
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

void InstanceLock::release()
{
    if (m_handle != -1) {
        ::close(static_cast<int>(m_handle));
        m_handle = -1;
    }
}

} // namespace platform
