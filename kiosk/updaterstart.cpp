#include "updaterstart.h"

#include "fileops.h"
#include "formtimer.h"
#include "kiosklog.h"
#include "kiosksettings.h"
#include "platform.h"

#include <cstdint>

int updateSpreadSeconds(std::string_view machineIdentity, int spreadMinutes)
{
    if (spreadMinutes <= 0)
        return 0;
    // FNV-1a, the same on every build and machine (std::hash is not), then a final mix so that
    // host names differing in their last character land far apart.
    std::uint64_t hash = 14695981039346656037ULL;
    for (const char c : machineIdentity) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ULL;
    }
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdULL;
    hash ^= hash >> 33;
    return static_cast<int>(hash % (static_cast<std::uint64_t>(spreadMinutes) * 60));
}

UpdaterStart::UpdaterStart(FormTimer *timer, ProgramPaths paths, const Clock &clock, KioskLog &log)
    : m_timer(timer)
    , m_paths(std::move(paths))
    , m_clock(clock)
    , m_log(log)
{
}

void UpdaterStart::configure(const KioskSettings &settings)
{
    m_time = settings.updateTime;
    m_spread = settings.updateSpread > 0;
    if (m_spread)
        m_spreadSeconds = updateSpreadSeconds(platform::machineIdentity(), settings.updateSpread);
}

void UpdaterStart::tick()
{
    if (m_wait > 0) {
        // This kiosk's slot in the fleet's spread has not come yet.
        if (--m_wait == 0)
            launch();
    } else if (hourMinuteText(m_clock.localNow()) == m_time) {
        m_pending = true;
        m_timer->setInterval(60000);
    } else if (m_pending) {
        m_pending = false;
        m_timer->setInterval(1000);
        m_wait = m_spreadSeconds;
        if (m_wait == 0)
            launch();
    }
}

void UpdaterStart::launch()
{
    const std::string updater = m_paths.exeName + "Update";
    if (m_spread)
        m_log.write("Avvio di " + updater + " con un ritardo di " + std::to_string(m_spreadSeconds) + " secondi");
    else
        m_log.event("Avvio di " + updater);
    // The updater's small window opens over the kiosk, which goes on showing its page and taking
    // clicks; the updater closes its window itself when its run ends.
    const auto program = findFileIgnoringCase(m_paths.folder, updater);
    if (program.empty() || platform::startProgram(platform::ProgramStart::inFolder(program, m_paths.folder)).failed())
        m_log.write("Errore nell'avvio di " + updater);
}
