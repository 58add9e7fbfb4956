#pragma once

// The kiosk as an update run handles it, through the files of the program folder: asked to quit
// by the request file, taken for running while its lock file is there, started from the folder
// and watched after an update. Each step writes its own log lines.

#include "monthlylog.h"
#include "result.h"
#include "updaterenvironment.h"

#include <cstdint>
#include <string>

class KioskService
{
public:
    KioskService(const UpdaterEnvironment &env, const MonthlyLog &log);

    // Its lock file is there, which a kiosk that died leaves behind too.
    bool running() const;
    // Its executable is in the program folder.
    bool installed() const;

    // Logs "Start servizio Tesmora" and starts the kiosk; a start that fails is logged as
    // "Impossibile riavviare servizio Tesmora". Its process id, or why it could not be started.
    Result<long> start();

    enum class Stop { Stopped, GaveUp };
    // Writes the request file and looks for the lock file to go, once a second, `checks` times.
    // Stopped: the request is removed again, so that the next kiosk does not quit at once. GaveUp:
    // logged, the request withdrawn and a start tried, as the kiosk that stays may yet quit.
    // Fails when the request cannot be written.
    Result<Stop> StopTesmora(int16_t checks);

    // Watches a kiosk started after an update for `seconds`: its process must still run, its lock
    // file be there at the end, and have been touched within the last LockTouchSeconds (a running
    // kiosk touches it every few seconds from its event loop; a stuck one runs on and touches
    // nothing). Why it did not pass (the end of the log line that undoes the update), or empty.
    std::string watch(const Result<long> &started, int16_t seconds);
    static constexpr int LockTouchSeconds = 10;

    // Ends a started kiosk that still runs.
    void end(const Result<long> &started);

private:
    Result<long> launch();
    void withdrawRequest();

    const UpdaterEnvironment &m_env;
    const MonthlyLog &m_log;
};
