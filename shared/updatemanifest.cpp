#include "updatemanifest.h"

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
    const size_t first = line.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return false;
    const size_t last = line.find_last_not_of(' ');
    return line.substr(first, last - first + 1) == ManifestHeader;
}

bool isSafeManifestEntry(std::string_view entry)
{
    if (entry.empty() || entry == "." || entry == "..")
        return false;
    for (const char c : entry) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return false;
        if (c == '/' || c == '\\' || c == '*' || c == '?')
            return false;
    }
    return true;
}

ManifestReading readManifest(std::string_view content)
{
    ManifestReading reading;
    const std::vector<std::string> lines = manifestLines(content);
    if (lines.empty() || !isManifestHeader(lines.front()))
        return reading;

    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string &entry = lines[i];
        if (entry.empty())
            continue;
        if (!isSafeManifestEntry(entry)) {
            reading.outcome = ManifestReading::Outcome::UnsafeEntry;
            reading.unsafeEntry = entry;
            reading.entries.clear();
            return reading;
        }
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
