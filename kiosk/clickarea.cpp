#include "clickarea.h"

#include <QMouseEvent>

ClickArea::ClickArea(QWidget *parent)
    : QLabel(parent)
{
}

void ClickArea::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
}

void ClickArea::mouseReleaseEvent(QMouseEvent *event)
{
    // A click is a press and a release on the same area.
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click)
        emit clicked();
}
