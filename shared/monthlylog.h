#pragma once

#include "clock.h"

#include <filesystem>
#include <functional>
#include <string>

// Where a part of a program writes its log lines.
using LogFunction = std::function<void(const std::string &)>;

// The two programs' monthly log files. The kiosk writes "<exe>.yyyymm.log" with bare message
// lines; the updater writes "<exe>yyyymm.log" (no dot) with each line led by
// "dd/mm/yyyy hh:mm:ss - ". Lines end with CR LF and are only ever appended; control characters
// in a message are written escaped ("\n") and a line is cut at MaxLineCharacters characters.
enum class LogStyle { Kiosk, Updater };
constexpr size_t MaxLineCharacters = 1000;

std::string logFileName(LogStyle style, const std::string &exeName, const LocalDateTime &t);
// The updater's line prefix.
std::string logTimeStamp(const LocalDateTime &t);

class MonthlyLog
{
public:
    MonthlyLog(LogStyle style, std::filesystem::path folder, std::string exeName, const Clock &clock);

    // Appends one line, opening and closing the file. Never fails towards the caller: a line
    // that cannot be written is lost.
    void write(const std::string &message) const noexcept;

    // The file a line written now goes to.
    std::filesystem::path currentFile() const;

private:
    LogStyle m_style;
    std::filesystem::path m_folder;
    std::string m_exeName;
    const Clock &m_clock;
};
