#include "updatemanifest.h"

#include "fileops.h"
#include "text.h"

#include <set>

std::vector<std::string> manifestLines(std::string_view content)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < content.size()) {
        const size_t cr = content.find('\r', start);
        if (cr == std::string_view::npos) {
            lines.emplace_back(content.substr(start));
            break;
        }
        lines.emplace_back(content.substr(start, cr - start));
        start = cr + 1;
        if (start < content.size() && content[start] == '\n')
            ++start;
    }
    return lines;
}

bool isManifestHeader(std::string_view line)
{
    return !line.empty() && trimmed(line, " ") == ManifestHeader;
}

bool isSafeManifestEntry(std::string_view entry)
{
    if (entry.empty() || entry == "." || entry == ".." || entry.size() > MaxNameBytes)
        return false;
    for (const char c : entry) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return false;
        if (c == '/' || c == '\\' || c == '*' || c == '?')
            return false;
    }
    for (const std::string_view purpose : {"download", "install", "copy", "write"}) {
        if (isBesideName(entry, purpose))
            return false;
    }
    return true;
}

ManifestReading readManifest(std::string_view content, const std::vector<std::string> &reserved)
{
    ManifestReading reading;
    const std::vector<std::string> lines = manifestLines(content);
    if (lines.empty() || !isManifestHeader(lines.front()))
        return reading;

    std::set<std::string> reservedNames;
    for (const std::string &name : reserved)
        reservedNames.insert(toLowerAscii(name));
    std::set<std::string> seen;
    const auto refuse = [&reading](const std::string &entry) {
        reading.outcome = ManifestReading::Outcome::UnsafeEntry;
        reading.unsafeEntry = entry;
        reading.entries.clear();
        return reading;
    };

    // Where each line starts in content: the header's end plus its line end, and so on.
    size_t offset = lines.front().size();
    for (size_t i = 1; i < lines.size(); ++i) {
        offset += content[offset] == '\r' && offset + 1 < content.size() && content[offset + 1] == '\n' ? 2 : 1;
        const std::string &entry = lines[i];
        const size_t end = offset + entry.size();
        offset = end;
        if (entry.empty())
            continue;
        if (end > ManifestMaxBytes || !isSafeManifestEntry(entry))
            return refuse(entry);
        const std::string folded = toLowerAscii(entry);
        if (reservedNames.count(folded))
            return refuse(entry);
        if (!seen.insert(folded).second)
            continue;
        if (reading.entries.size() == ManifestMaxEntries) {
            reading.outcome = ManifestReading::Outcome::TooManyEntries;
            reading.entries.clear();
            return reading;
        }
        reading.entries.push_back(entry);
    }
    reading.outcome = ManifestReading::Outcome::Accepted;
    return reading;
}
