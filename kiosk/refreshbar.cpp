#include "refreshbar.h"

#include "formtimer.h"
#include "kiosksettings.h"
#include "servicestatus.h"

RefreshBar::RefreshBar(FormTimer *timer, float baseWidth, float fillWidth, QObject *parent)
    : QObject(parent)
    , m_timer(timer)
    , m_baseWidth(baseWidth)
    , m_fillWidth(fillWidth)
{
}

void RefreshBar::configure(const KioskSettings &settings)
{
    m_interval = settings.refreshInterval;
}

void RefreshBar::setWidths(float baseWidth, float fillWidth)
{
    m_baseWidth = baseWidth;
    setFill(fillWidth);
}

void RefreshBar::setFill(float width)
{
    m_fillWidth = width;
    emit fillChanged(width);
}

void RefreshBar::tick()
{
    setFill(m_fillWidth + m_baseWidth / static_cast<float>(m_interval));
    m_ticks++;
    if (m_ticks == m_interval)
        reset();
}

void RefreshBar::reset()
{
    m_ticks = 0;
    setFill(0);
}

void RefreshBar::stop()
{
    m_timer->setEnabled(false);
}

void RefreshBar::restart()
{
    reset();
    m_timer->setEnabled(true);
}

void RefreshBar::statusChanged(int16_t code)
{
    if (code == ServiceStatus::Error)
        m_timer->setEnabled(false);
}

bool RefreshBar::running() const
{
    return m_timer->isEnabled();
}
