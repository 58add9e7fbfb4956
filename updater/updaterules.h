#pragma once

// Naming and clean-up rules of an update run.

#include "clock.h"
#include "errorinfo.h"
#include "result.h"

#include <filesystem>
#include <string>
#include <string_view>

// The backup copy of an installed file: name + "." + "yyyymmddhhmmss" + ".bak"; variants above 0
// add "-<variant>" to the stamp. The name is shortened where the whole would pass the file
// system's limit of a name.
std::string backupCopyName(const std::string &name, const LocalDateTime &t, int variant = 0);

// Keeps what `installed` holds now in backupFolder, under the first backup name of the stamp
// that is free: an older copy is never overwritten. The name used.
Result<std::string> makeBackupCopy(const std::filesystem::path &installed, const std::filesystem::path &backupFolder,
                                   const LocalDateTime &stamp);

// The address of a listed file: the base followed by the entry, whose characters other than
// letters, digits and "-._~" travel percent-encoded, so that exactly the listed file is fetched
// ("#", "?", "%" and blanks included).
std::string entryAddress(std::string_view base, std::string_view entry);

// True when the manifest entry names the executable: both agree once in (ASCII) upper case, so
// "Tesmora" names "tesmora" while " tesmora" names another file.
bool namesExecutable(std::string_view entry, std::string_view exeName);

// ".bku" files older than this many calendar days are deleted by every run.
constexpr int BkuMaxAgeDays = 15;

// True when a file last modified at `modified` is past the limit: earlier than the same time of
// day BkuMaxAgeDays calendar days before `now`. A file exactly at the limit stays.
bool isExpiredBku(TimePoint modified, TimePoint now);

// Deletes the expired "*.bku" files (the extension in any letter case) lying directly in folder
// (subfolders are not searched),
// reading the clock for each. Stops at the first file whose time cannot be read or that cannot
// be deleted and returns that failure; the files deleted until then stay deleted.
ErrorInfo removeExpiredBkuFiles(const std::filesystem::path &folder, const Clock &clock);
