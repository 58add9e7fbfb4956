#pragma once

#include <QObject>

#include <cstdint>
#include <functional>

class FormTimer;
class KioskLog;
class Navigator;
class PageDialog;
class ServerList;
struct KioskSettings;

// The idle reset: after idle_reset seconds (counted by tick(), tmrIdleReset) without a touch,
// click, key or wheel anywhere in the application, the visitor's session is thrown away and the
// start page loaded, once per visitor. The count stands at 0 while `busy` says the kiosk is busy
// with something else (the error countdown, the operator panel). A page's question still waiting
// then is answered "Annulla", questions are refused until the reset, and it follows a second later.
class IdleReset : public QObject
{
    Q_OBJECT
public:
    IdleReset(FormTimer *timer, Navigator &navigator, PageDialog &dialog, const ServerList &servers, KioskLog &log,
              std::function<bool()> busy, QObject *parent = nullptr);

    // Without idle_reset nothing is watched and the timer stays off.
    void configure(const KioskSettings &settings);
    void tick();
    // Seconds since a visitor last touched, clicked or typed; -1 when nobody has since the last
    // reset.
    int idleSeconds() const { return m_idleSeconds; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    FormTimer *m_timer;
    Navigator &m_navigator;
    PageDialog &m_dialog;
    const ServerList &m_servers;
    KioskLog &m_log;
    std::function<bool()> m_busy;
    int16_t m_limit = 0;
    int m_idleSeconds = -1;
};
