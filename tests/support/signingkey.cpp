#include "signingkey.h"

#include "process.h"
#include "tempfolder.h"

std::string makeMinisignKey(const std::filesystem::path &folder, const std::string &name)
{
    if (runProgram("/usr/bin/minisign", {"-G", "-W", "-p", name + ".pub", "-s", name + ".sec"}, folder) != 0)
        return {};
    // The file is a comment line, then the key.
    const std::string pub = readFile(folder / (name + ".pub"));
    const size_t keyStart = pub.find('\n');
    return keyStart == std::string::npos ? std::string() : pub.substr(keyStart + 1, 56);
}
