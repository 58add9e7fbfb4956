#pragma once

#include "clock.h"

#include <QObject>

#include <chrono>

// When somebody last touched, clicked, typed or scrolled anywhere in the application, by the
// clock given; nobody yet counts from the watch's creation.
class InputWatch : public QObject
{
    Q_OBJECT
public:
    explicit InputWatch(const Clock &clock, QObject *parent = nullptr);

    std::chrono::seconds sinceInput() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    const Clock &m_clock;
    TimePoint m_lastInput;
};
