#include "idlereset.h"

#include "formtimer.h"
#include "kiosklog.h"
#include "kiosksettings.h"
#include "navigator.h"
#include "pagedialog.h"
#include "serverlist.h"

#include <QCoreApplication>
#include <QEvent>

IdleReset::IdleReset(FormTimer *timer, Navigator &navigator, PageDialog &dialog, const ServerList &servers,
                     KioskLog &log, std::function<bool()> busy, QObject *parent)
    : QObject(parent)
    , m_timer(timer)
    , m_navigator(navigator)
    , m_dialog(dialog)
    , m_servers(servers)
    , m_log(log)
    , m_busy(std::move(busy))
{
}

void IdleReset::configure(const KioskSettings &settings)
{
    m_limit = settings.idleReset;
    if (m_limit <= 0)
        return;
    QCoreApplication::instance()->installEventFilter(this);
    m_timer->setEnabled(true);
}

bool IdleReset::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::TouchBegin || type == QEvent::KeyPress
        || type == QEvent::Wheel)
        m_idleSeconds = 0;
    return QObject::eventFilter(watched, event);
}

void IdleReset::tick()
{
    if (m_idleSeconds < 0)
        return;
    // An operator at the panel is no idle visitor, and a countdown ends in the start page anyway.
    if (m_busy()) {
        m_idleSeconds = 0;
        return;
    }
    if (++m_idleSeconds < m_limit)
        return;
    // A page's question waits inside that page's own call, so the page may go only once the call
    // has returned: at the next second. Refused meanwhile, a page asking again cannot hold it off.
    if (m_dialog.waiting()) {
        m_dialog.setRefusing(true);
        m_dialog.dismiss();
        return;
    }
    m_idleSeconds = -1;
    m_log.write("Sessione azzerata dopo " + std::to_string(m_limit) + " secondi di inattività");
    m_navigator.startNewSession();
    m_dialog.setRefusing(false);
    m_navigator.Navigate(m_servers.startPage());
}
