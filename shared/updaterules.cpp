#include "updaterules.h"

#include "fileops.h"

#include <algorithm>
#include <vector>

std::string backupCopyName(const std::string &entry, const LocalDateTime &t)
{
    return entry + "." + compactStamp(t) + ".bak";
}

static char upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool namesExecutable(std::string_view entry, std::string_view exeName)
{
    return entry.size() == exeName.size()
        && std::equal(entry.begin(), entry.end(), exeName.begin(),
                      [](char a, char b) { return upper(a) == upper(b); });
}

bool isExpiredBku(TimePoint modified, TimePoint now)
{
    return modified < addLocalDays(now, -BkuMaxAgeDays);
}

ErrorInfo removeExpiredBkuFiles(const std::filesystem::path &folder, const Clock &clock)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<fs::path> candidates;
    for (const fs::path &path : filesIn(folder, ec)) {
        // As "*.bku" matches: any name ending so, ".bku" alone included.
        if (path.filename().string().ends_with(".bku"))
            candidates.push_back(path);
    }
    if (ec)
        return errorFromSystem(ec, folder);

    for (const fs::path &path : candidates) {
        const fs::file_time_type written = fs::last_write_time(path, ec);
        if (ec)
            return errorFromSystem(ec, path);
        const TimePoint modified = std::chrono::time_point_cast<TimePoint::duration>(
            std::chrono::file_clock::to_sys(written));
        if (!isExpiredBku(modified, clock.now()))
            continue;
        fs::remove(path, ec);
        if (ec)
            return errorFromSystem(ec, path);
    }
    return {};
}
