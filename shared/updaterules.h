#pragma once

// Naming and clean-up rules of an update run.

#include "clock.h"
#include "errorinfo.h"

#include <filesystem>
#include <string>
#include <string_view>

// The backup copy of an installed file: entry + "." + "yyyymmddhhmmss" + ".bak".
std::string backupCopyName(const std::string &entry, const LocalDateTime &t);

// True when the manifest entry names the executable: both agree once in (ASCII) upper case, so
// "Tesmora" names "tesmora" while " tesmora" names another file.
bool namesExecutable(std::string_view entry, std::string_view exeName);

// ".bku" files older than this many calendar days are deleted by every run.
constexpr int BkuMaxAgeDays = 15;

// True when a file last modified at `modified` is past the limit: earlier than the same time of
// day BkuMaxAgeDays calendar days before `now`. A file exactly at the limit stays.
bool isExpiredBku(TimePoint modified, TimePoint now);

// Deletes the expired "*.bku" files lying directly in folder (subfolders are not searched),
// reading the clock for each. Stops at the first file whose time cannot be read or that cannot
// be deleted and returns that failure; the files deleted until then stay deleted.
ErrorInfo removeExpiredBkuFiles(const std::filesystem::path &folder, const Clock &clock);
