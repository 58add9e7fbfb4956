#pragma once

// The part of a download that broke off, kept in the update folder for the next run to resume,
// with its record: the address it came from and the validator of its answer.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace modDownload {

inline const char *const PartPurpose = "download";
inline const char *const ResumePurpose = "resume";

std::filesystem::path keptPartOf(const std::filesystem::path &localPath);
// The record beside a kept part, named after the part so that the clean-up finds the pair.
std::filesystem::path recordOf(const std::filesystem::path &part);

struct KeptPart
{
    std::uintmax_t bytes = 0;
    std::string validator;
};
// The part an earlier call kept for this address, or nothing (and no stale pair left).
KeptPart keptPartFor(const std::string &address, const std::filesystem::path &localPath);

// Whether a Content-Range ("bytes <first>-<last>/<length>") runs from the byte asked for to the
// end of the file: without a hash, that and the validator are what make the file whole.
bool reachesTheEnd(std::string_view range, std::uintmax_t from);

} // namespace modDownload
