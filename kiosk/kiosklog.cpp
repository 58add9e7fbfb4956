#include "kiosklog.h"

KioskLog::KioskLog(const std::filesystem::path &folder, const std::string &exeName, const Clock &clock)
    : m_file(LogStyle::Kiosk, folder, exeName, clock)
    , m_clock(clock)
{
}

void KioskLog::write(const std::string &message) const
{
    // An event log is read as a time line; the kiosk's lines carry no time of their own.
    m_file.write(m_eventsLogged ? logTimeStamp(m_clock.localNow()) + message : message);
}

void KioskLog::event(const std::string &line) const
{
    if (m_eventsLogged)
        write(line);
}
