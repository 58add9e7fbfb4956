#include "updaterules.h"

#include "fileops.h"
#include "installfile.h"
#include "text.h"

#include <algorithm>
#include <cstdint>
#include <vector>

std::string backupCopyName(const std::string &name, const LocalDateTime &t, int variant)
{
    const std::string tail = "." + compactStamp(t) + (variant > 0 ? "-" + std::to_string(variant) : "") + ".bak";
    return cutToBytes(name, MaxNameBytes - tail.size()) + tail;
}

Result<std::string> makeBackupCopy(const std::filesystem::path &installed, const std::filesystem::path &backupFolder,
                                   const LocalDateTime &stamp)
{
    const std::string name = installed.filename().string();
    std::error_code ec;
    // Each name passed over is a file that really exists, so the tries end.
    for (int variant = 0;; ++variant) {
        std::string made = backupCopyName(name, stamp, variant);
        if (!std::filesystem::exists(backupFolder / made, ec) && !ec) {
            if (ErrorInfo e = copyFile(installed, backupFolder / made, CopyPlacement::NewName); e.failed())
                return Result<std::string>::failure(std::move(e));
            return {std::move(made), {}};
        }
        if (ec)
            return Result<std::string>::failure(errorFromSystem(ec, backupFolder / made));
    }
}

std::string entryAddress(std::string_view base, std::string_view entry)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string address(base);
    for (const char c : entry) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
            || c == '_' || c == '~') {
            address += c;
        } else {
            address += '%';
            address += Hex[byte >> 4];
            address += Hex[byte & 0xf];
        }
    }
    return address;
}

bool namesExecutable(std::string_view entry, std::string_view exeName)
{
    return equalsIgnoringCase(entry, exeName);
}

bool isExpiredBku(TimePoint modified, TimePoint now)
{
    return modified < addLocalDays(now, -BkuMaxAgeDays);
}

ErrorInfo removeExpiredBkuFiles(const std::filesystem::path &folder, const Clock &clock)
{
    namespace fs = std::filesystem;
    const Result<std::vector<fs::path>> files = filesIn(folder);
    if (files.failed())
        return files.error;
    std::vector<fs::path> candidates;
    for (const fs::path &path : files.value) {
        // As "*.bku" matched where the names came from: any name ending so in any letter case,
        // ".bku" alone included.
        const std::string name = path.filename().string();
        if (name.size() >= 4 && equalsIgnoringCase(std::string_view(name).substr(name.size() - 4), ".bku"))
            candidates.push_back(path);
    }
    std::error_code ec;

    for (const fs::path &path : candidates) {
        const fs::file_time_type written = fs::last_write_time(path, ec);
        if (ec)
            return errorFromSystem(ec, path);
        const TimePoint modified =
            std::chrono::time_point_cast<TimePoint::duration>(std::chrono::file_clock::to_sys(written));
        if (!isExpiredBku(modified, clock.now()))
            continue;
        fs::remove(path, ec);
        if (ec)
            return errorFromSystem(ec, path);
    }
    return {};
}
