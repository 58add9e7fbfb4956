#pragma once

// Putting files in place so that nobody ever finds one missing or half-written: a new name
// appears only when its content is whole, and a replaced file is replaced by rename. (A file
// written whole from memory is replaceFileAtomically's, in fileops.h.)

#include "errorinfo.h"

#include <filesystem>

// Where copyFile's copy goes.
enum class CopyPlacement {
    // Target must not exist and is never overwritten, not even by a file that appears meanwhile.
    // A hard link where the file system allows one (no room taken: installed files are replaced
    // by rename, never rewritten), a copy otherwise. How backups are made.
    NewName,
    // Target is replaced (or created) by a copy that shares nothing with source. How a backup is
    // put back.
    Replace,
};

// Makes target hold what source holds; source stays as it is. Source is never followed through
// a link (one there fails); a copy keeps source's permission bits and reaches the disk before it
// appears under target's name. A full disk is "Disk full"; on failure target is as it was and no
// temporary file is left.
ErrorInfo copyFile(const std::filesystem::path &source, const std::filesystem::path &target, CopyPlacement placement);

// Moves source into target's place, replacing (or creating) it: by rename where both lie on one
// file system (the caller makes sure source's data reached the disk), by copyFile otherwise
// (source then stays). The new file takes the permission bits of the file it replaces, or keeps
// its own; `executable` adds execute bits wherever the file can be read. On failure target is as
// it was and no temporary file is left.
ErrorInfo installFile(const std::filesystem::path &source, const std::filesystem::path &target, bool executable);
