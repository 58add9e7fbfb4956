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

struct ManifestReading
{
    enum class Outcome { Accepted, BadHeader, UnsafeEntry, TooManyEntries };

    Outcome outcome = Outcome::BadHeader;
    // Accepted: the entries in file order, empty lines left out.
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
// not "." or "..", no wildcard ("*", "?") and no control character. Empty is not safe either.
bool isSafeManifestEntry(std::string_view entry);

// Checks the header, then the entries in order; the first fault decides the outcome. Empty
// content has no header.
ManifestReading readManifest(std::string_view content);
