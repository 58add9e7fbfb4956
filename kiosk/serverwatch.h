#pragma once

#include "serverprobe.h"

#include <QObject>

#include <cstdint>

class FormTimer;
class KioskLog;
class Navigator;
class ServerList;
struct KioskSettings;

// The servers while the kiosk runs. After each error countdown the start page is asked for again,
// with failover on the next entry of the list. The checks tick once a second (tmrTestWebServer),
// while the status is play: with watch_interval the server in use is asked for its start page
// every so many seconds, and a server that is down is a failed page (serverDown()); with
// failback_interval, while the kiosk is on another server than the first, the first is asked,
// and once it answers the kiosk goes back to it. A check gets load_timeout seconds to answer.
class ServerWatch : public QObject
{
    Q_OBJECT
public:
    ServerWatch(FormTimer *checkTimer, ServerList &servers, Navigator &navigator, KioskLog &log,
                QObject *parent = nullptr);

    void configure(const KioskSettings &settings);
    // The design's Serviziotesmora: 1 switches the checks on, 0 off, anything else nothing.
    void Serviziotesmora(int16_t Avvia);
    // Play switches the checks on, pause and error off.
    void statusChanged(int16_t code);
    bool checking() const;
    void tick();
    // The error countdown has ended.
    void retryStartPage();

signals:
    void serverDown(const QUrl &url, int statusCode, const QString &reason);

private:
    void moveToNextServer();
    bool onBackupServer() const;
    void watchAnswered(const QUrl &url, const ProbeAnswer &answer);
    void failbackAnswered(const ProbeAnswer &answer);

    FormTimer *m_timer;
    ServerList &m_servers;
    Navigator &m_navigator;
    KioskLog &m_log;
    ServerProbe *m_watchProbe;
    ServerProbe *m_failbackProbe;
    bool m_failover = false;
    int16_t m_failbackInterval = 0; // seconds
    int16_t m_watchInterval = 0; // seconds
    int16_t m_answerTimeout = 30; // seconds
    int m_watchSeconds = 0;
    int m_failbackSeconds = 0;
};
