#pragma once

// The update manifest "update.txt": a header line "TesmoraUpdate:" (spaces around it allowed),
// then one file name per line. Lines end at CR or CR LF; a line feed alone ends nothing, so a
// file written with LF line ends reads as one line and fails the header check.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

constexpr std::string_view ManifestHeader = "TesmoraUpdate:";
// The run counts entries with 16-bit integers.
constexpr size_t ManifestMaxEntries = 32767;
// A manifest is read only this far; an entry that reaches beyond is refused.
constexpr size_t ManifestMaxBytes = 1024 * 1024;
// As the log line shows a refused entry.
constexpr size_t RefusedEntryShownCharacters = 200;

struct ManifestReading
{
    enum class Outcome { Accepted, BadHeader, UnsafeEntry, TooManyEntries };

    Outcome outcome = Outcome::BadHeader;
    // Accepted: the entries in file order, empty lines left out and each file once (the first
    // of names that differ only in letter case).
    std::vector<std::string> entries;
    // UnsafeEntry: the first entry refused, as written.
    std::string unsafeEntry;
};

// The lines of the content. A last line without a line end counts; a line end at the very end
// adds no empty line.
std::vector<std::string> manifestLines(std::string_view content);

// The header test: only the space character is trimmed; case, tabs and a byte-order mark count.
bool isManifestHeader(std::string_view line);

// An entry must name a file directly in the program folder and nothing else: no "/" or "\",
// not "." or "..", no wildcard ("*", "?"), no control character, at most 255 bytes, and not a
// name the programs make for their temporary files. Empty is not safe either.
bool isSafeManifestEntry(std::string_view entry);

// Checks the header, then the entries in order; the first fault decides the outcome: an unsafe
// entry, one reaching beyond ManifestMaxBytes, or one naming any of `reserved` (the programs'
// own files and folders, compared without regard to letter case). Empty content has no header.
ManifestReading readManifest(std::string_view content, const std::vector<std::string> &reserved = {});
