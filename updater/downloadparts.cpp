#include "downloadparts.h"

#include "fileops.h"
#include "moddownload.h"
#include "text.h"

#include <algorithm>
#include <charconv>

namespace modDownload {

std::filesystem::path keptPartOf(const std::filesystem::path &localPath)
{
    return besideName(localPath, PartPurpose, 0);
}

std::filesystem::path recordOf(const std::filesystem::path &part)
{
    const std::string name = part.filename().string();
    const std::string tail = std::string(PartPurpose) + "-0";
    if (!name.ends_with(tail))
        return {};
    return part.parent_path() / (name.substr(0, name.size() - tail.size()) + ResumePurpose + "-0");
}

KeptPart keptPartFor(const std::string &address, const std::filesystem::path &localPath)
{
    const std::filesystem::path part = keptPartOf(localPath);
    const std::filesystem::path record = recordOf(part);
    KeptPart kept;
    const Result<std::string> text = readWholeFile(record);
    const Result<std::uintmax_t> length = fileLength(part);
    if (text.ok() && length.ok() && length.value > 0) {
        const size_t end = text.value.find('\n');
        const std::string_view rest = std::string_view(text.value).substr(end == std::string::npos ? 0 : end + 1);
        const std::string_view validator = trimmed(rest.substr(0, rest.find('\n')), " \t\r");
        // The folder is the group's to write: nothing but one header value goes into the request.
        const bool plain =
            std::none_of(validator.begin(), validator.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; });
        if (end != std::string::npos && text.value.substr(0, end) == address && plain) {
            kept.validator = validator;
            kept.bytes = length.value;
        }
    }
    (void)removeFileIfPresent(record); // written again only if this transfer breaks off too
    if (kept.validator.empty()) {
        (void)removeFileIfPresent(part);
        return {};
    }
    return kept;
}

bool reachesTheEnd(std::string_view range, std::uintmax_t from)
{
    std::uintmax_t first = 0;
    std::uintmax_t last = 0;
    std::uintmax_t length = 0;
    if (!range.starts_with("bytes "))
        return false;
    const char *p = range.data() + 6;
    const char *end = range.data() + range.size();
    auto r = std::from_chars(p, end, first);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != '-')
        return false;
    r = std::from_chars(r.ptr + 1, end, last);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != '/')
        return false;
    r = std::from_chars(r.ptr + 1, end, length);
    return r.ec == std::errc() && r.ptr == end && first == from && last + 1 == length;
}

void removeAbandonedParts(const std::filesystem::path &folder)
{
    for (const auto &path : filesIn(folder).value) {
        const std::string name = path.filename().string();
        const std::filesystem::path record = recordOf(path);
        if (isBesideName(name, PartPurpose) && !(!record.empty() && ordinaryFileExists(record)))
            (void)removeFileIfPresent(path);
    }
    for (const auto &path : filesIn(folder).value) {
        const std::string name = path.filename().string();
        if (!isBesideName(name, ResumePurpose))
            continue;
        // The record of a part that is gone.
        const std::string tail = std::string(ResumePurpose) + "-0";
        const bool paired = name.ends_with(tail)
            && ordinaryFileExists(folder / (name.substr(0, name.size() - tail.size()) + PartPurpose + "-0"));
        if (!paired)
            (void)removeFileIfPresent(path);
    }
}

void removeAllParts(const std::filesystem::path &folder)
{
    removeBesideFiles(folder, {PartPurpose, ResumePurpose});
}

} // namespace modDownload
