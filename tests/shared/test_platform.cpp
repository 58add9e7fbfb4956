#include "platform.h"
#include "process.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
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

} // namespace
