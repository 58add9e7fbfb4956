#pragma once

// Putting files in place so that nobody ever finds one missing or half-written: the content is
// written under a temporary name in the same folder and renamed over the target when complete.

#include "errorinfo.h"
#include "fileops.h"

#include <cstdio>
#include <filesystem>
#include <string_view>

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
