#include "activityblinker.h"

#include <QCoreApplication>
#include <QWidget>

ActivityBlinker::ActivityBlinker(QWidget &window, QWidget &bar)
    : m_window(window)
    , m_bar(bar)
    , m_visible(!bar.isHidden())
{
}

void ActivityBlinker::onBlock()
{
    m_visible = !m_visible;
    // Showing or hiding a widget, and even looking for pending events, costs more than taking a
    // block of a fast transfer; once a frame keeps the window alive for the eye and the hand.
    if (!m_lastFrame.isValid() || m_lastFrame.hasExpired(FrameMs)) {
        m_lastFrame.start();
        m_bar.setHidden(!m_visible);
        QCoreApplication::processEvents();
    }
}

void ActivityBlinker::finish()
{
    m_bar.setHidden(!m_visible);
    m_lastFrame.invalidate();
    m_window.update();
}
