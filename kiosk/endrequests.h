#pragma once

#include "platform.h"

#include <QObject>

#include <memory>

class QSocketNotifier;

// The system's requests to end (SIGTERM, SIGINT, SIGHUP), which no longer end the process at
// once while this watches: each arrives through the event loop as requested().
class EndRequests : public QObject
{
    Q_OBJECT
public:
    explicit EndRequests(QObject *parent = nullptr);
    ~EndRequests() override;

    // No more requests are taken: the signals end the process again.
    void stop();

signals:
    void requested();

private:
    std::unique_ptr<platform::EndRequestWatch> m_watch;
    QSocketNotifier *m_notifier = nullptr;
};
