#include "servicestatus.h"

#include "kiosklog.h"

ServiceStatus::ServiceStatus(KioskLog &log, QObject *parent)
    : QObject(parent)
    , m_log(log)
{
}

std::string ServiceStatus::name(int16_t code)
{
    static const char *const names[] = {"", "pause", "play", "stop", "error"};
    return code >= Pause && code <= Error ? names[code] : "";
}

void ServiceStatus::change(int16_t code)
{
    if (code < Pause || code > Error)
        return;
    if (!m_passingThroughPause && code != m_applied) {
        m_applied = code;
        m_log.event("Stato del servizio: " + name(code));
        emit statusApplied(code);
    }
    switch (code) {
    case Pause:
        emit choicesChanged(true, false);
        emit labelChanged(QStringLiteral("Service pause"));
        break;
    case Play:
        emit choicesChanged(false, true);
        emit labelChanged(QStringLiteral("Service play"));
        break;
    case Error:
        emit choicesChanged(false, false);
        break;
    default:
        break;
    }
    emit changed(code);
}

void ServiceStatus::changeToErrorThroughPause()
{
    m_passingThroughPause = true;
    change(Pause);
    m_passingThroughPause = false;
    change(Error);
}
