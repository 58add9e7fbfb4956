#include "serverwatch.h"

#include "formtimer.h"
#include "kiosklog.h"
#include "kiosksettings.h"
#include "navigator.h"
#include "serverlist.h"
#include "servicestatus.h"

ServerWatch::ServerWatch(FormTimer *checkTimer, ServerList &servers, Navigator &navigator, KioskLog &log,
                         QObject *parent)
    : QObject(parent)
    , m_timer(checkTimer)
    , m_servers(servers)
    , m_navigator(navigator)
    , m_log(log)
    , m_watchProbe(new ServerProbe(this))
    , m_failbackProbe(new ServerProbe(this))
{
    connect(m_watchProbe, &ServerProbe::answered, this, &ServerWatch::watchAnswered);
    connect(m_failbackProbe, &ServerProbe::answered, this,
            [this](const QUrl &, const ProbeAnswer &answer) { failbackAnswered(answer); });
}

void ServerWatch::configure(const KioskSettings &settings)
{
    m_failover = settings.failover;
    m_failbackInterval = settings.failbackInterval;
    m_watchInterval = settings.watchInterval;
    m_answerTimeout = settings.loadTimeout;
    // Without these the timer keeps its interval 0: switched by the status, it never fires.
    if (m_failover || m_watchInterval > 0)
        m_timer->setInterval(1000);
}

void ServerWatch::Serviziotesmora(int16_t Avvia)
{
    if (Avvia == 1)
        m_timer->setEnabled(true);
    else if (Avvia == 0)
        m_timer->setEnabled(false);
}

void ServerWatch::statusChanged(int16_t code)
{
    if (code == ServiceStatus::Play)
        Serviziotesmora(1);
    else if (code == ServiceStatus::Pause || code == ServiceStatus::Error)
        Serviziotesmora(0);
}

bool ServerWatch::checking() const
{
    return m_timer->isEnabled();
}

void ServerWatch::retryStartPage()
{
    if (m_failover)
        moveToNextServer();
    m_navigator.Navigate(m_servers.startPage());
}

void ServerWatch::moveToNextServer()
{
    const std::string before = m_servers.address("");
    m_servers.moveToNext();
    m_failbackSeconds = 0;
    if (m_servers.address("") != before)
        m_log.write("Passaggio al server " + m_servers.shownServer());
}

bool ServerWatch::onBackupServer() const
{
    return m_failbackInterval > 0 && !m_servers.onFirst();
}

void ServerWatch::tick()
{
    m_watchProbe->secondPassed(m_answerTimeout);
    m_failbackProbe->secondPassed(m_answerTimeout);
    if (m_watchInterval > 0 && ++m_watchSeconds >= m_watchInterval) {
        m_watchSeconds = 0;
        m_watchProbe->start(QUrl(QString::fromStdString(m_servers.startPage())));
    }
    if (onBackupServer() && ++m_failbackSeconds >= m_failbackInterval) {
        m_failbackSeconds = 0;
        m_failbackProbe->start(QUrl(QString::fromStdString(m_servers.firstStartPage())));
    }
}

void ServerWatch::watchAnswered(const QUrl &url, const ProbeAnswer &answer)
{
    // An answer that comes when the kiosk no longer plays, or for a server it has left, is old.
    if (answer.failed() && checking() && url == QUrl(QString::fromStdString(m_servers.startPage())))
        emit serverDown(url, answer.value, QString::fromStdString(answer.error.description));
}

void ServerWatch::failbackAnswered(const ProbeAnswer &answer)
{
    if (answer.failed() || !checking() || !onBackupServer())
        return;
    m_servers.returnToFirst();
    m_log.write("Ritorno al primo server " + m_servers.shownServer());
    m_navigator.Navigate(m_servers.startPage());
}
