#include "logreading.h"

#include "tempfolder.h"

#include <algorithm>
#include <regex>

std::vector<std::string> updaterLogMessages(const std::filesystem::path &folder, const std::string &exeName,
                                            LogLines which)
{
    const std::regex fileName(exeName + R"(\d{6}\.log)");
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        if (std::regex_match(entry.path().filename().string(), fileName))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());

    const std::regex stamp(R"(\d{2}/\d{2}/\d{4} \d{2}:\d{2}:\d{2} - )");
    const size_t stampLength = 22;
    std::vector<std::string> messages;
    for (const auto &file : files) {
        for (const std::string &line : readCrLfLines(file)) {
            if (line.size() >= stampLength && std::regex_match(line.substr(0, stampLength), stamp)) {
                if (which == LogLines::All
                    || line.compare(stampLength, RunLines::Closing.size(), RunLines::Closing) != 0)
                    messages.push_back(line.substr(stampLength));
            } else
                messages.push_back("BAD STAMP: " + line);
        }
    }
    return messages;
}
