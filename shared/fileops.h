#pragma once

// File steps shared by both programs. Each opens and closes what it uses within the call.

#include "errorinfo.h"
#include "result.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct NewFile
{
    std::FILE *file = nullptr; // open for writing bytes; the caller closes it
    std::filesystem::path path;
};

// The existence test of both programs: an ordinary file (or a link to one) at exactly this path.
bool ordinaryFileExists(const std::filesystem::path &path);

// The ordinary files directly in a folder, listed in full before the caller touches any (deleting
// while a folder is being listed is unspecified); what could be listed of a folder that fails.
Result<std::vector<std::filesystem::path>> filesIn(const std::filesystem::path &folder);

// The ordinary files of a folder by name, compared without regard to ASCII letter case as the file
// systems these programs came from compare names: an exact match first, else the smallest name.
class FolderNames
{
public:
    explicit FolderNames(const std::filesystem::path &folder);
    // The folder's spelling of name, or "" when it has none.
    std::string find(const std::string &name) const;

private:
    std::map<std::string, std::string> m_byFolded; // folded name -> the smallest spelling
    std::set<std::string> m_exact;
};

// The folder's file that FolderNames finds for name, read from the folder now. Empty when none.
std::filesystem::path findFileIgnoringCase(const std::filesystem::path &folder, const std::string &name);

// Opens for appending (creating the file), writes text followed by CR LF, closes.
ErrorInfo appendLine(const std::filesystem::path &path, std::string_view text);

// Deletes one file. A file that is not there is not an error.
ErrorInfo removeFileIfPresent(const std::filesystem::path &path);

// Sets a file's modification time to now, its content unchanged. A missing file stays missing.
ErrorInfo touchFile(const std::filesystem::path &path);

// Length in bytes; a missing file is an error.
Result<std::uintmax_t> fileLength(const std::filesystem::path &path);

// Reads the whole file as bytes.
Result<std::string> readWholeFile(const std::filesystem::path &path);

// Reads the whole file unless it holds more than maxBytes: then fails with Overflow (6) and an
// empty content, having stopped reading one block past the limit.
Result<std::string> readFileUpTo(const std::filesystem::path &path, std::uintmax_t maxBytes);

// Creates an empty file beside `target`, under a hidden name that no file had (exclusive
// creation, so nothing is ever overwritten), e.g. ".update.txt.download-0". The target's name is
// shortened in it where the whole would pass the file system's limit of a name.
Result<NewFile> createFileBeside(const std::filesystem::path &target, std::string_view purpose);
// The hidden name createFileBeside tries at the given attempt.
std::filesystem::path besideName(const std::filesystem::path &target, std::string_view purpose, int attempt);
// Whether a file name is one that besideName makes for the purpose.
bool isBesideName(std::string_view name, std::string_view purpose);
// Deletes, directly in folder, the ordinary files whose names besideName makes for one of the
// purposes: what a process killed half-way through a step left behind. Nothing else is touched.
void removeBesideFiles(const std::filesystem::path &folder, std::initializer_list<std::string_view> purposes);

// The longest file name the file systems in use take, in bytes.
constexpr size_t MaxNameBytes = 255;

// Writes content to a new file beside the target and renames it over the target, so that a
// reader never sees a half-written file, even after a crash or, when durable, a power cut.
enum class Durability { UntilPowerCut, UntilCrash };
ErrorInfo replaceFileAtomically(const std::filesystem::path &target, std::string_view content,
                                Durability durability = Durability::UntilPowerCut);
