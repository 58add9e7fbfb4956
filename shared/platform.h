#pragma once

// Everything that differs between operating systems. One implementation file per system,
// chosen by the build.

#include "clock.h"
#include "result.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Full path of the running executable, with links resolved.
std::filesystem::path executablePath();

LocalDateTime toLocal(TimePoint t);
// Normalises out-of-range fields (day 0, day 32, ...) the way the C library does.
TimePoint fromLocal(const LocalDateTime &local);

// fopen for a path of this system (narrow or wide names).
std::FILE *openFile(const std::filesystem::path &path, const char *mode);
// Opens a file for reading bytes, failing where the last part of the path is a link.
std::FILE *openFileNoFollow(const std::filesystem::path &path);

bool runningAsRoot();

// A text that names this machine and stays the same across restarts: the system's machine id,
// or the host name where there is none.
std::string machineIdentity();

// Make what was written reach the disk: an open file's data; a file's data or a folder's names
// (files made, renamed, removed) by path; everything written so far to the file system that
// holds path, in one call. The system's refusal, when it refuses.
ErrorInfo syncFile(std::FILE *file);
ErrorInfo syncPath(const std::filesystem::path &path);
ErrorInfo syncFileSystem(const std::filesystem::path &path);
// Starts writing a range of an open file to the disk without waiting for it, so that a later
// sync finds less to do. Where the system has no such call, nothing happens.
void startWriting(std::FILE *file, std::uint64_t offset, std::uint64_t length);

// Whether a process this program started, by its id, still runs; and ending one at once.
bool processRunning(long pid);
void killProcess(long pid);
// The memory a process uses, its share of what it shares counted (PSS), in KiB; where the system
// does not tell the share, its resident memory. Empty when the process cannot be looked at.
std::optional<long> processMemoryKiB(long pid);

// Ends the process at once: no destructor, exit handler or window handler runs.
[[noreturn]] void endProcessNow(int exitCode);

// Marks every descriptor above standard input, output and error close-on-exec: what whoever started
// the program left open reaches none of the programs it starts (the browser's helpers, the
// updater, the kiosk again). They stay open in this process, because a parent may watch one of
// them for our end (a Wayland compositor such as cage does). For the very start of a program.
void markInheritedDescriptorsCloseOnExec();

// The graphical session a window goes to, chosen before the application object is made.
enum class DisplaySession {
    Given, // QT_QPA_PLATFORM was set by whoever started us, and stands
    Wayland, // WAYLAND_DISPLAY: Qt's wayland platform
    X11, // DISPLAY: Qt's xcb platform
    None, // no session at all
};
// Sets QT_QPA_PLATFORM for the session found; with none and windowless true, to Qt's offscreen
// platform, so that a program that can do its work without a window is not aborted by Qt.
DisplaySession chooseDisplayPlatform(bool windowless);

// A program to start. It gets standard input, output and error and no other descriptor, its
// signals as a fresh program has them, and the given folder as its working folder.
struct ProgramStart
{
    std::filesystem::path program; // a bare name is looked up in PATH
    std::vector<std::string> arguments;
    std::filesystem::path folder;
    std::vector<std::string> environment; // "NAME=value" entries; empty: ours
    // Descriptors of ours that become its standard input, output and error; -1: ours as they are.
    int input = -1;
    int output = -1;
    int error = -1;
    // Detached: it outlives us, in a session of its own, and the system reaps it (how the programs
    // start each other). Child: ours to wait for, in a process group of its own so that it can be
    // ended with whatever it starts itself (the tests and benchmarks).
    enum class Tie { Detached, Child };
    Tie tie = Tie::Detached;

    // How the programs start each other: no arguments, our environment and descriptors, detached.
    static ProgramStart inFolder(std::filesystem::path program, std::filesystem::path folder)
    {
        ProgramStart start;
        start.program = std::move(program);
        start.folder = std::move(folder);
        return start;
    }
};

// Starts the program and does not wait for it: its process id, or the reason it could not be run
// (the system's error for a program that cannot be executed).
Result<long> startProgram(const ProgramStart &start);

// While the object lives, SIGTERM, SIGINT and SIGHUP (the requests to end that a service manager,
// a session log-out and `kill` send) do not end the process: each makes descriptor() readable for
// an event loop to watch, and takeRequest() collects it. One object at a time: a second one
// watches nothing (descriptor() is -1).
class EndRequestWatch
{
public:
    EndRequestWatch();
    ~EndRequestWatch();
    EndRequestWatch(const EndRequestWatch &) = delete;
    EndRequestWatch &operator=(const EndRequestWatch &) = delete;

    int descriptor() const { return m_read; }
    // The signal number of a request that came, or 0.
    int takeRequest();

private:
    int m_read = -1;
};

// A lock the operating system holds for this process and drops when the process ends, however
// it ends. Never inherited by started programs.
class InstanceLock
{
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    enum class Result { Acquired, HeldElsewhere, Unavailable };
    // Unavailable when the file can be neither created nor opened (a read-only folder without
    // it): then nobody can hold the lock and the caller decides.
    Result tryLock(const std::filesystem::path &file);
    void release();
    // Whether another process holds the lock on file now; the file is neither made nor kept.
    static bool heldElsewhere(const std::filesystem::path &file);

private:
    long m_handle = -1;
};

} // namespace platform
