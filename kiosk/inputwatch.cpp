#include "inputwatch.h"

#include <QCoreApplication>
#include <QEvent>

InputWatch::InputWatch(const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_lastInput(clock.now())
{
    // The view's input arrives at a widget the engine makes and remakes.
    QCoreApplication::instance()->installEventFilter(this);
}

std::chrono::seconds InputWatch::sinceInput() const
{
    return std::chrono::duration_cast<std::chrono::seconds>(m_clock.now() - m_lastInput);
}

bool InputWatch::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::TouchBegin || type == QEvent::KeyPress
        || type == QEvent::Wheel)
        m_lastInput = m_clock.now();
    return QObject::eventFilter(watched, event);
}
