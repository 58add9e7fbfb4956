#include "clock.h"

#include "platform.h"

#include <cstdio>

LocalDateTime Clock::localNow() const
{
    return platform::toLocal(now());
}

TimePoint SystemClock::now() const
{
    return std::chrono::system_clock::now();
}

std::string monthStamp(const LocalDateTime &t)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d", t.year, t.month);
    return buf;
}

std::string dateTimeText(const LocalDateTime &t)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour, t.minute, t.second);
    return buf;
}

std::string compactStamp(const LocalDateTime &t)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return buf;
}

std::string hourMinuteText(const LocalDateTime &t)
{
    return std::to_string(t.hour) + ":" + std::to_string(t.minute);
}

TimePoint addLocalDays(TimePoint t, int days)
{
    LocalDateTime local = platform::toLocal(t);
    local.day += days; // normalised by the conversion back, across month ends and DST changes
    return platform::fromLocal(local)
        + std::chrono::duration_cast<TimePoint::duration>(t - std::chrono::floor<std::chrono::seconds>(t));
}
