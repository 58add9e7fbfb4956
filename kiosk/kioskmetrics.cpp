#include "kioskmetrics.h"

#include "formtimer.h"
#include "kiosklog.h"
#include "kiosksettings.h"
#include "navigationerrors.h"
#include "screenschedule.h"
#include "serverlist.h"
#include "servicestatus.h"

KioskMetrics::KioskMetrics(FormTimer *timer, const std::filesystem::path &programFolder, const KioskLog &log,
                           const ServiceStatus &status, const NavigationErrors &errors, const ServerList &servers,
                           QObject *parent)
    : QObject(parent)
    , m_timer(timer)
    , m_file(programFolder, log.writer())
    , m_status(status)
    , m_errors(errors)
    , m_servers(servers)
{
}

void KioskMetrics::configure(const KioskSettings &settings)
{
    m_file.setSetting(settings.metricsFile);
    m_timer->setEnabled(m_file.enabled());
}

void KioskMetrics::write()
{
    m_file.write(metrics());
}

void KioskMetrics::writeStopped()
{
    std::vector<Metric> figures = metrics();
    figures.front().value = ServiceStatus::Stop; // tesmora_kiosk_status
    m_file.write(figures);
}

std::vector<Metric> KioskMetrics::metrics() const
{
    const auto seconds = [](TimePoint t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); };
    const std::optional<TimePoint> loaded = m_errors.lastPageLoaded();
    std::vector<Metric> figures{
        {"tesmora_kiosk_status",
         "Service status: 1 pause, 2 play, 3 stop, 4 error.",
         "gauge",
         static_cast<double>(m_status.applied()),
         {}},
        {"tesmora_kiosk_navigation_errors_total",
         "Navigation errors since the kiosk started.",
         "counter",
         static_cast<double>(m_errors.errorCount()),
         {}},
        {"tesmora_kiosk_last_page_loaded_timestamp_seconds",
         "When a page other than the error page last loaded; 0: none yet.",
         "gauge",
         loaded ? seconds(*loaded) : 0.0,
         {}},
        {"tesmora_kiosk_server",
         "The server in use.",
         "gauge",
         1,
         {{"index", std::to_string(m_servers.index())}, {"url", m_servers.shownServer()}}},
        {"tesmora_kiosk_info", "The kiosk's version.", "gauge", 1, {{"version", TESMORA_VERSION_TEXT}}},
    };
    if (m_screen && m_screen->scheduled())
        figures.push_back({"tesmora_kiosk_display_on",
                           "Whether the screen is lit: 0 while screen_off and screen_on keep it off.",
                           "gauge",
                           m_screen->displayOn() ? 1.0 : 0.0,
                           {}});
    for (const auto &more : m_more) {
        const std::vector<Metric> added = more();
        figures.insert(figures.end(), added.begin(), added.end());
    }
    return figures;
}
