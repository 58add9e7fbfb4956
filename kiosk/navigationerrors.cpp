#include "navigationerrors.h"

#include "formtimer.h"
#include "kiosklog.h"
#include "kiosksettings.h"
#include "navigator.h"
#include "servicestatus.h"

NavigationErrors::NavigationErrors(FormTimer *countdownTimer, Navigator &navigator, ServiceStatus &status,
                                   CountSettingReader &counts, KioskLog &log, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_timer(countdownTimer)
    , m_navigator(navigator)
    , m_status(status)
    , m_counts(counts)
    , m_log(log)
    , m_clock(clock)
{
}

void NavigationErrors::configure(const KioskSettings &settings)
{
    m_errorPage = settings.errorPage;
    m_countdown = settings.restartCountdown;
    // The design keeps the error status until a restart; the server checks run only in play, and
    // the metrics would report an error that is over.
    m_returnsToPlay = settings.failover || settings.watchInterval > 0 || !settings.metricsFile.empty();
}

void NavigationErrors::navigateError(const QUrl &url, int statusCode, const QString &description)
{
    ++m_errorCount;
    m_errorSinceLoad = true;
    const std::string line = "Errore di navigazione: " + url.toString(QUrl::RemoveUserInfo).toStdString() + " ("
        + std::to_string(statusCode) + ")" + (description.isEmpty() ? "" : " " + description.toStdString());
    if (line != m_lastErrorLine)
        m_log.event(line);
    m_lastErrorLine = line;
    if (m_errorPage.empty() && !m_navigator.showsBuiltInErrorText()) {
        // No error page configured: an empty address would leave the failed page on screen.
        m_navigator.showBuiltInErrorText();
    } else if (!m_navigator.showsErrorPage()) {
        m_navigator.Navigate2(m_errorPage);
    } else if (!(m_navigator.showsBuiltInErrorText() && url.scheme() == QLatin1String("data"))) {
        // The error page itself failed: asking for it again would spin as long as it cannot be
        // loaded, so the kiosk shows its own text, which needs no network, and lets the
        // countdown retry the start page.
        m_navigator.showBuiltInErrorText();
    }
    m_status.changeToErrorThroughPause();
}

void NavigationErrors::documentComplete(const QUrl &url)
{
    if (m_navigator.showsErrorPage())
        return; // the error page, or the kiosk's own text
    m_lastPageLoaded = m_clock.now();
    if (!m_errorSinceLoad || countdownRunning())
        return;
    m_errorSinceLoad = false;
    m_log.event("Pagina di nuovo caricata: " + url.toString(QUrl::RemoveUserInfo).toStdString());
    if (m_returnsToPlay && m_status.applied() == ServiceStatus::Error)
        m_status.change(ServiceStatus::Play);
}

void NavigationErrors::countdownTick()
{
    emit labelChanged(QStringLiteral("Service error %1").arg(m_countdown));
    m_countdown--;
    if (m_countdown != 0)
        return;
    m_lastErrorLine.clear();
    emit countdownEnded();
    m_countdown = m_counts.read(KioskKeys::timeRestartExe);
    m_timer->setEnabled(false);
}

void NavigationErrors::statusChanged(int16_t code)
{
    if (code == ServiceStatus::Error)
        m_timer->setEnabled(true);
}

bool NavigationErrors::countdownRunning() const
{
    return m_timer->isEnabled();
}
