#pragma once

#include "clock.h"
#include "platform.h"

// A clock that stands still until a test moves it.
class TestClock final : public Clock
{
public:
    explicit TestClock(const LocalDateTime &start = {2026, 12, 7, 9, 0, 0}) { setLocal(start); }

    TimePoint now() const override { return m_now; }
    void set(TimePoint t) { m_now = t; }
    void setLocal(const LocalDateTime &t) { m_now = platform::fromLocal(t); }
    void advance(std::chrono::seconds s) { m_now += s; }

private:
    TimePoint m_now;
};
