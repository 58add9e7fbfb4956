#include "platform.h"
#include "process.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

TEST(StartProgram, TheProgramGetsStandardInputOutputAndErrorOnlyInItsFolder)
{
    TempFolder dir;
    const auto program = dir / "program";
    writeFile(program, "#!/bin/sh\necho $$ > pid.txt\nls /proc/$$/fd > descriptors.txt\nmv descriptors.txt listed.txt\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    // Not closed on exec: a plain fork and exec would hand it on.
    const int ours = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
    const long pid = platform::startProgram(program, dir.path());
    ::close(ours);
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(dir / "listed.txt"); }, 10s));
    EXPECT_EQ(readFile(dir / "pid.txt"), std::to_string(pid) + "\n") << "the id is the program's own";
    const std::string listed = "\n" + readFile(dir / "listed.txt");
    for (const char *standard : {"\n0\n", "\n1\n", "\n2\n"})
        EXPECT_NE(listed.find(standard), std::string::npos) << listed;
    EXPECT_EQ(listed.find("\n" + std::to_string(ours) + "\n"), std::string::npos) << listed;

    writeFile(dir / "not-a-program", "text");
    EXPECT_EQ(platform::startProgram(dir / "not-a-program", dir.path()), 0);
}

} // namespace
