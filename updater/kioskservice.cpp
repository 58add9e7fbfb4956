#include "kioskservice.h"

#include "fileops.h"
#include "modmain.h"

#include <optional>

using modMain::KioskExeName;
using modMain::KioskLockFile;
using modMain::ShutdownRequestFile;

KioskService::KioskService(const UpdaterEnvironment &env, const MonthlyLog &log)
    : m_env(env)
    , m_log(log)
{
}

bool KioskService::running() const
{
    return ordinaryFileExists(m_env.paths.file(KioskLockFile));
}

bool KioskService::installed() const
{
    return ordinaryFileExists(m_env.paths.file(KioskExeName));
}

Result<long> KioskService::start()
{
    m_log.write("Start servizio Tesmora");
    return launch();
}

Result<long> KioskService::launch()
{
    Result<long> started = m_env.startProgram(m_env.paths.file(KioskExeName));
    // The line names no cause, as it always has; the caller gets it.
    if (started.failed())
        m_log.write("Impossibile riavviare servizio Tesmora");
    return started;
}

void KioskService::withdrawRequest()
{
    if (removeFileIfPresent(m_env.paths.file(ShutdownRequestFile)).failed())
        m_log.write("Impossibile cancellare file Shutdown.txt");
}

Result<KioskService::Stop> KioskService::StopTesmora(int16_t checks)
{
    if (const ErrorInfo e = appendLine(m_env.paths.file(ShutdownRequestFile), dateTimeText(m_env.clock->localNow()));
        e.failed())
        return Result<Stop>::failure(e);

    for (int16_t check = 0; check < checks; ++check) {
        if (!running()) {
            // Served: the kiosk this run starts later must not find it and close again.
            withdrawRequest();
            return {Stop::Stopped, {}};
        }
        // The kiosk looks for the request on its own schedule; the window stays still meanwhile.
        m_env.waitOneSecond();
    }

    const std::string count = std::to_string(checks);
    m_log.write("Imposibile terminare il programma Tesmora, tentativi effettuati " + count + " in " + count
                + " secondi");
    withdrawRequest();
    (void)launch(); // logged when it fails; the run gives up either way
    return {Stop::GaveUp, {}};
}

std::string KioskService::watch(const Result<long> &started, int16_t seconds)
{
    if (started.failed())
        return "Tesmora non si avvia";
    const auto lockTime = [this] {
        std::error_code ec;
        const auto t = std::filesystem::last_write_time(m_env.paths.file(KioskLockFile), ec);
        return ec ? std::optional<std::filesystem::file_time_type>() : t;
    };
    // Changes are counted in watched seconds, not compared with a clock: the file system's time
    // and the run's clock need not agree.
    std::optional<std::filesystem::file_time_type> touched = lockTime();
    int lastTouch = 0;
    for (int16_t waited = 0; waited < seconds; ++waited) {
        m_env.waitOneSecond();
        if (!m_env.processRunning(started.value))
            return "Tesmora terminato dopo " + std::to_string(waited + 1) + " secondi";
        if (const auto now = lockTime(); now && now != touched) {
            touched = now;
            lastTouch = waited + 1;
        }
    }
    if (!running())
        return std::string(KioskLockFile) + " assente dopo " + std::to_string(seconds) + " secondi";
    if (seconds - lastTouch >= LockTouchSeconds)
        return std::string(KioskLockFile) + " non aggiornato da " + std::to_string(seconds - lastTouch) + " secondi";
    return {};
}

void KioskService::end(const Result<long> &started)
{
    if (started.ok() && m_env.processRunning(started.value))
        m_env.killProcess(started.value);
}
