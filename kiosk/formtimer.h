#pragma once

#include <QTimer>

// A window timer as the kiosk's design uses it: switched on and off, never created at run time;
// off until switched on. A timer switched on with interval 0 counts as on but never fires;
// switching on a timer that is already on lets its running interval go on.
class FormTimer : public QTimer
{
public:
    FormTimer(int intervalMs, QObject *parent = nullptr)
        : QTimer(parent)
    {
        setInterval(intervalMs);
    }

    void setEnabled(bool on)
    {
        m_enabled = on;
        if (!on || interval() <= 0)
            stop();
        else if (!isActive())
            start();
    }
    bool isEnabled() const { return m_enabled; }

private:
    bool m_enabled = false;
};
