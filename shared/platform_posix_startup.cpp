// What a program does at its very start: its inherited descriptors and its display session.
#include "platform.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

DisplaySession chooseDisplayPlatform(bool windowless)
{
    const auto given = [](const char *name) {
        const char *value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    if (given("QT_QPA_PLATFORM"))
        return DisplaySession::Given;
    // Named rather than left to Qt, whose choice depends on how it was built and on
    // XDG_SESSION_TYPE, which a compositor started by hand (cage) does not set.
    if (given("WAYLAND_DISPLAY")) {
        // X11 through the compositor's Xwayland when Qt's wayland plugin is not installed.
        ::setenv("QT_QPA_PLATFORM", "wayland;xcb", 1);
        return DisplaySession::Wayland;
    }
    if (given("DISPLAY")) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        return DisplaySession::X11;
    }
    if (windowless)
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return DisplaySession::None;
}

void markInheritedDescriptorsCloseOnExec()
{
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    // Kernels older than 5.11.
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    for (long fd = 3; fd < openMax; ++fd) {
        const int flags = ::fcntl(static_cast<int>(fd), F_GETFD);
        if (flags >= 0 && !(flags & FD_CLOEXEC))
            ::fcntl(static_cast<int>(fd), F_SETFD, flags | FD_CLOEXEC);
    }
}

} // namespace platform
