#pragma once

// When a kiosk starts its updater.

#include "programpaths.h"

#include <string>
#include <string_view>

class Clock;
class FormTimer;
class KioskLog;
struct KioskSettings;

// How long after the daily update time a kiosk of a fleet starts its updater, in seconds from 0
// to spreadMinutes * 60 - 1: the same for the same machine identity, and spread evenly over a
// fleet. 0 when spreadMinutes is 0 or less.
int updateSpreadSeconds(std::string_view machineIdentity, int spreadMinutes);

// The daily start of the updater. Its timer (tmrUpdate) ticks once a second; in the minute of
// update_start the start is armed and the timer slows to once a minute, so the next tick, a minute
// later, starts the updater (after this kiosk's delay of update_spread), once a day. The updater
// is "<exe>Update" of the program folder, found without regard to case; the kiosk runs on.
class UpdaterStart
{
public:
    UpdaterStart(FormTimer *timer, ProgramPaths paths, const Clock &clock, KioskLog &log);

    // update_spread's delay is this machine's (platform::machineIdentity).
    void configure(const KioskSettings &settings);
    void tick();
    // The design's UpdatePending: armed in the minute of update_start.
    bool pending() const { return m_pending; }

private:
    void launch();

    FormTimer *m_timer;
    ProgramPaths m_paths;
    const Clock &m_clock;
    KioskLog &m_log;
    std::string m_time; // update_start, as written
    bool m_spread = false;
    int m_spreadSeconds = 0;
    int m_wait = 0; // seconds left before a spread start; 0 when none waits
    bool m_pending = false;
};
