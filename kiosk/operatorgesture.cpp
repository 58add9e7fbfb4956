#include "operatorgesture.h"

#include "formtimer.h"
#include "servicestatus.h"

OperatorGesture::OperatorGesture(FormTimer *openTimer, FormTimer *hideTimer, QObject *parent)
    : QObject(parent)
    , m_openTimer(openTimer)
    , m_hideTimer(hideTimer)
{
}

void OperatorGesture::leftCornerClicked()
{
    m_left = QStringLiteral("7");
    TryOpenAdmin();
}

void OperatorGesture::rightCornerClicked()
{
    m_right = QStringLiteral("3");
    TryOpenAdmin();
}

void OperatorGesture::TryOpenAdmin()
{
    // A click while the time runs lets it run on: the 5 seconds count from the first click.
    m_openTimer->setEnabled(true);
    if (m_left + m_right != QLatin1String("73"))
        return;
    m_openTimer->setEnabled(false);
    clearMarks();
    m_panelOpen = true;
    emit panelShown(true);
    m_hideTimer->setEnabled(true);
}

void OperatorGesture::openTimeUp()
{
    clearMarks();
    m_openTimer->setEnabled(false);
}

void OperatorGesture::hideTimeUp()
{
    m_panelOpen = false;
    emit panelShown(false);
    m_hideTimer->setEnabled(false);
}

void OperatorGesture::statusChanged(int16_t code)
{
    if (code == ServiceStatus::Pause)
        m_hideTimer->setEnabled(true);
    else if (code == ServiceStatus::Play)
        m_hideTimer->setEnabled(false);
}

void OperatorGesture::clearMarks()
{
    m_left = QStringLiteral("0");
    m_right = QStringLiteral("0");
}
