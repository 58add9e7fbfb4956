#pragma once

#include "monthlylog.h"

// The kiosk's monthly log, "<exe>.yyyymm.log" in the program folder. Its lines are bare messages;
// with log_events every line starts with the date and time, and the event lines (page errors,
// recoveries, status changes, updater starts) are written too. Writing never fails towards the
// caller.
class KioskLog
{
public:
    KioskLog(const std::filesystem::path &folder, const std::string &exeName, const Clock &clock);

    // log_events.
    void setEventsLogged(bool on) { m_eventsLogged = on; }

    void write(const std::string &message) const;
    // Written only with log_events.
    void event(const std::string &line) const;

    // write() for the shared classes that log through a function.
    LogFunction writer() const
    {
        return [this](const std::string &line) { write(line); };
    }

private:
    MonthlyLog m_file;
    const Clock &m_clock;
    bool m_eventsLogged = false;
};
