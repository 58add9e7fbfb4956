#pragma once

// Putting files in place so that nobody ever finds one missing or half-written: a new name
// appears only when its content is whole, and a replaced file is replaced by rename.

#include "errorinfo.h"
#include "fileops.h"

#include <filesystem>

// Makes target, which must not exist, hold what source holds: a hard link where the file system
// allows one, a copy otherwise. An existing target is a failure, never overwritten; a copy
// reaches the disk before it appears under its name.
ErrorInfo copyToNewFile(const std::filesystem::path &source, const std::filesystem::path &target);

// Replaces (or creates) target with a copy of source, which stays as it is and shares nothing
// with the copy; the copy reaches the disk before it takes target's place.
ErrorInfo replaceWithCopy(const std::filesystem::path &source, const std::filesystem::path &target);

// Replaces (or creates) target with source, which is moved there by rename where both lie on
// one file system (the caller makes sure its data reached the disk), and copied otherwise. The
// new file takes the permission bits of the file it replaces, or keeps its own; `executable`
// adds execute bits wherever the file can be read. On failure target is as it was and no
// temporary file is left.
ErrorInfo installFile(const std::filesystem::path &source, const std::filesystem::path &target, bool executable);
