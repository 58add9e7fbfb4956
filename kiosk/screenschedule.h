#pragma once

#include "clock.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

class DisplayPower;
class FormTimer;
class KioskLog;
struct KioskSettings;

// A time of day written "h:m" (as update_start; leading zeros allowed), in minutes from midnight.
std::optional<int> minuteOfDay(const std::string &text);

// The screen's power schedule. From screen_off to screen_on (a span that may cross midnight) the
// screen is switched off, checked once a second (tmrScreenPower) against the clock, also when
// the kiosk starts inside the span. A touch, click or key while it is off switches it on for
// screen_wake_seconds (every further one starts them again) and does nothing else; then it goes
// off again. A switch the session cannot carry out writes one line and the screen counts as on
// until the next change of the schedule. Without both times nothing is switched and the timer
// stays off; an unusable time writes one line.
class ScreenSchedule : public QObject
{
    Q_OBJECT
public:
    ScreenSchedule(FormTimer *timer, const Clock &clock, KioskLog &log, QObject *parent = nullptr);

    // display: how the screen is switched; not owned, used only with a schedule.
    void configure(const KioskSettings &settings, DisplayPower *display);
    bool scheduled() const { return m_display != nullptr; }
    void tick();
    // A visitor's touch, click or key; whether it was spent on waking the screen.
    bool visitorInput();
    // False while the screen is off (or asked to go off): pages are then neither reloaded nor
    // their servers watched.
    bool displayOn() const { return m_displayOn; }

signals:
    void displayChanged(bool on);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void switchTo(bool on, std::string line);
    void switched(bool on);
    void failed(bool on, const QString &reason);
    void setDisplayOn(bool on);

    FormTimer *m_timer;
    const Clock &m_clock;
    KioskLog &m_log;
    DisplayPower *m_display = nullptr;
    int m_offMinute = 0;
    int m_onMinute = 0;
    int16_t m_wakeSeconds = 60;
    bool m_offTime = false; // inside the span, as the last tick saw it
    bool m_displayOn = true;
    std::optional<TimePoint> m_wakeEnds;
    std::deque<std::string> m_pendingLines; // the line each request writes once carried out
};
