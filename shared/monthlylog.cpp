#include "monthlylog.h"

#include "fileops.h"
#include "text.h"

std::string logFileName(LogStyle style, const std::string &exeName, const LocalDateTime &t)
{
    return exeName + (style == LogStyle::Kiosk ? "." : "") + monthStamp(t) + ".log";
}

std::string logTimeStamp(const LocalDateTime &t)
{
    return dateTimeText(t) + " - ";
}

MonthlyLog::MonthlyLog(LogStyle style, std::filesystem::path folder, std::string exeName, const Clock &clock)
    : m_style(style)
    , m_folder(std::move(folder))
    , m_exeName(std::move(exeName))
    , m_clock(clock)
{
}

std::filesystem::path MonthlyLog::currentFile() const
{
    return m_folder / logFileName(m_style, m_exeName, m_clock.localNow());
}

void MonthlyLog::write(const std::string &message) const noexcept
{
    try {
        const auto path = currentFile();
        // The updater reads the clock a second time for the stamp, so a line written at the turn
        // of a month may carry the new month in the old month's file.
        const std::string line = m_style == LogStyle::Updater ? logTimeStamp(m_clock.localNow()) + message : message;
        // Text from outside (manifest entries, addresses) must never forge a line of its own or
        // flood the file.
        (void)appendLine(path,
                         cutToCharacters(visibleText(line), MaxLineCharacters)); // a lost line has nowhere to be told
    } catch (...) {
        // A log line must never take the program down.
    }
}
