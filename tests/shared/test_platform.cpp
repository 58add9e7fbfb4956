#include "platform.h"
#include "process.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(StartProgram, TheProgramGetsStandardInputOutputAndErrorOnlyInItsFolder)
{
    TempFolder dir;
    writeFile(dir / "program",
              "#!/bin/sh\necho $$ > pid.txt\nls /proc/$$/fd > listing.txt\nmv listing.txt listed.txt\n");
    std::filesystem::permissions(dir / "program", std::filesystem::perms::owner_all);
    const int ours = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY); // a plain exec would hand it on
    const long pid = platform::startProgram(platform::ProgramStart::inFolder(dir / "program", dir.path())).value;
    ::close(ours);
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(dir / "listed.txt"); }, std::chrono::seconds(10)));
    EXPECT_EQ(readFile(dir / "pid.txt"), std::to_string(pid) + "\n") << "the id is the program's own";
    const std::string listed = "\n" + readFile(dir / "listed.txt");
    for (const std::string fd : {"0", "1", "2"})
        EXPECT_NE(listed.find("\n" + fd + "\n"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("\n" + std::to_string(ours) + "\n"), std::string::npos) << listed;

    writeFile(dir / "not-a-program", "text");
    const Result<long> refused =
        platform::startProgram(platform::ProgramStart::inFolder(dir / "not-a-program", dir.path()));
    EXPECT_EQ(refused.error.number, ErrorNumber::PermissionDenied) << "its reason, not a pid";
}

// A parent may watch a descriptor it left us for our end (cage does, through a pipe): it stays
// open here, but none of the programs we start gets it.
TEST(StartProgram, InheritedDescriptorsStayOpenButReachNoProgramWeStart)
{
    TempFolder dir;
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0); // as a parent hands it over: not close-on-exec
    platform::markInheritedDescriptorsCloseOnExec();
    EXPECT_NE(::fcntl(pipeEnds[1], F_GETFD), -1) << "still open";
    EXPECT_TRUE(::fcntl(pipeEnds[1], F_GETFD) & FD_CLOEXEC);
    EXPECT_FALSE(::fcntl(STDERR_FILENO, F_GETFD) & FD_CLOEXEC) << "standard ones untouched";

    // A plain exec (as the browser engine starts its helpers) no longer hands the pipe on: the
    // reader sees its end once we close ours.
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl("/bin/sleep", "sleep", "5", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    char byte = 0;
    EXPECT_EQ(::read(pipeEnds[0], &byte, 1), 0) << "end of file: no program holds the write end";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(pipeEnds[0]);
}

} // namespace
