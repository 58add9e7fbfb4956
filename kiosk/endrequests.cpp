#include "endrequests.h"

#include <QSocketNotifier>

EndRequests::EndRequests(QObject *parent)
    : QObject(parent)
    , m_watch(std::make_unique<platform::EndRequestWatch>())
{
    if (m_watch->descriptor() == -1)
        return;
    m_notifier = new QSocketNotifier(m_watch->descriptor(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        if (m_watch->takeRequest() != 0)
            emit requested();
    });
}

EndRequests::~EndRequests() = default;

void EndRequests::stop()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    m_watch.reset();
}
