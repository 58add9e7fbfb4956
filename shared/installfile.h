#pragma once

// Putting files in place so that nobody ever finds one missing or half-written: the content is
// written under a temporary name in the same folder and renamed over the target when complete.

#include "errorinfo.h"

#include <cstdio>
#include <filesystem>
#include <string_view>

struct NewFile
{
    std::FILE *file = nullptr; // open for writing bytes; the caller closes it
    std::filesystem::path path;
    ErrorInfo error;
};

// Creates an empty file beside `target`, under a hidden name that no file had (exclusive
// creation, so nothing is ever overwritten), e.g. ".update.txt.download-0".
NewFile createFileBeside(const std::filesystem::path &target, std::string_view purpose);

// Copies source to target, which must not exist: an existing target is a failure, never
// overwritten. The copy appears under its name only once complete.
ErrorInfo copyToNewFile(const std::filesystem::path &source, const std::filesystem::path &target);

// Replaces (or creates) target with a copy of source. The copy takes the permission bits of the
// file it replaces, or keeps its own for a new file; `executable` adds execute bits wherever the
// file can be read. On failure target is as it was and no temporary file is left.
ErrorInfo installFile(const std::filesystem::path &source, const std::filesystem::path &target,
                      bool executable);

// Deletes, directly in folder, the temporary copies that installFile and copyToNewFile leave
// behind when their process is killed half-way (".<name>.install-<n>", ".<name>.copy-<n>").
// Safe only while nothing else installs into the folder, as the updater's run lock ensures.
void removeInstallLeftovers(const std::filesystem::path &folder);
