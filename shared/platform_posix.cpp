#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

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

bool runningAsRoot()
{
    return geteuid() == 0;
}

bool syncFile(std::FILE *file)
{
    return std::fflush(file) == 0 && ::fsync(fileno(file)) == 0;
}

namespace {

// Opens path for reading only (a folder too) and applies one call to it.
bool onOpened(const std::filesystem::path &path, int (*call)(int))
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool done = call(fd) == 0;
    ::close(fd);
    return done;
}

} // namespace

bool syncPath(const std::filesystem::path &path)
{
    return onOpened(path, ::fsync);
}

bool syncFileSystem(const std::filesystem::path &path)
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
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void killProcess(long pid)
{
    if (pid > 0)
        ::kill(static_cast<pid_t>(pid), SIGKILL);
}


void endProcessNow(int exitCode)
{
    // The browser engine's helper processes watch their pipe to us and end as soon as it closes.
    std::_Exit(exitCode);
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

void InstanceLock::release()
{
    if (m_handle != -1) {
        ::close(static_cast<int>(m_handle));
        m_handle = -1;
    }
}

} // namespace platform
