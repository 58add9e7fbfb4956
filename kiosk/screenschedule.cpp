#include "screenschedule.h"

#include "displaypower.h"
#include "formtimer.h"
#include "kiosklog.h"
#include "kiosksettings.h"

#include <QCoreApplication>
#include <QEvent>

#include <charconv>

std::optional<int> minuteOfDay(const std::string &text)
{
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    const auto number = [](std::string_view digits, int below) -> std::optional<int> {
        int value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (digits.empty() || digits.size() > 2 || error != std::errc() || end != digits.data() + digits.size()
            || digits.front() == '-' || digits.front() == '+' || value >= below)
            return std::nullopt;
        return value;
    };
    const std::string_view all(text);
    const auto hour = number(all.substr(0, colon), 24);
    const auto minute = number(all.substr(colon + 1), 60);
    if (!hour || !minute)
        return std::nullopt;
    return *hour * 60 + *minute;
}

ScreenSchedule::ScreenSchedule(FormTimer *timer, const Clock &clock, KioskLog &log, QObject *parent)
    : QObject(parent)
    , m_timer(timer)
    , m_clock(clock)
    , m_log(log)
{
}

void ScreenSchedule::configure(const KioskSettings &settings, DisplayPower *display)
{
    if (settings.screenOff.empty() && settings.screenOn.empty())
        return;
    const auto off = minuteOfDay(settings.screenOff);
    const auto on = minuteOfDay(settings.screenOn);
    if (!off || !on || *off == *on) {
        m_log.write("Orario dello schermo non valido (screen_off='" + settings.screenOff + "', screen_on='"
                    + settings.screenOn + "'): lo schermo resta acceso");
        return;
    }
    m_offMinute = *off;
    m_onMinute = *on;
    m_wakeSeconds = settings.screenWakeSeconds;
    m_display = display;
    connect(m_display, &DisplayPower::switched, this, &ScreenSchedule::switched);
    connect(m_display, &DisplayPower::failed, this, &ScreenSchedule::failed);
    QCoreApplication::instance()->installEventFilter(this);
    m_timer->setEnabled(true);
}

void ScreenSchedule::tick()
{
    if (!m_display)
        return;
    const LocalDateTime local = m_clock.localNow();
    const int now = local.hour * 60 + local.minute;
    const bool offTime =
        m_offMinute < m_onMinute ? now >= m_offMinute && now < m_onMinute : now >= m_offMinute || now < m_onMinute;
    if (offTime != m_offTime) {
        m_offTime = offTime;
        m_wakeEnds.reset();
        if (offTime)
            switchTo(false, "Schermo spento secondo l'orario (screen_off)");
        else
            switchTo(true, "Schermo acceso secondo l'orario (screen_on)");
    } else if (m_wakeEnds && m_clock.now() >= *m_wakeEnds) {
        m_wakeEnds.reset();
        switchTo(false, "Schermo spento di nuovo dopo " + std::to_string(m_wakeSeconds) + " secondi senza tocchi");
    }
}

bool ScreenSchedule::visitorInput()
{
    if (!m_display || !m_offTime)
        return false;
    const bool waking = !m_displayOn;
    if (waking)
        switchTo(true, "Schermo acceso da un tocco per " + std::to_string(m_wakeSeconds) + " secondi");
    if (waking || m_wakeEnds)
        m_wakeEnds = m_clock.now() + std::chrono::seconds(m_wakeSeconds);
    return waking;
}

bool ScreenSchedule::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    // The touch that wakes a dark screen was aimed at nothing the visitor could see.
    if ((type == QEvent::MouseButtonPress || type == QEvent::TouchBegin || type == QEvent::KeyPress) && visitorInput())
        return true;
    return QObject::eventFilter(watched, event);
}

void ScreenSchedule::switchTo(bool on, std::string line)
{
    if (on == m_displayOn)
        return;
    // Counted as it is asked: a reload or a server check must not slip in while the command runs.
    setDisplayOn(on);
    m_pendingLines.push_back(std::move(line));
    m_display->switchTo(on);
}

void ScreenSchedule::switched(bool)
{
    m_log.write(m_pendingLines.front());
    m_pendingLines.pop_front();
}

void ScreenSchedule::failed(bool on, const QString &reason)
{
    m_pendingLines.pop_front();
    m_log.write((on ? "Impossibile accendere lo schermo: " : "Impossibile spegnere lo schermo, resta acceso: ")
                + reason.toStdString());
    setDisplayOn(true);
}

void ScreenSchedule::setDisplayOn(bool on)
{
    if (on == m_displayOn)
        return;
    m_displayOn = on;
    emit displayChanged(on);
}
