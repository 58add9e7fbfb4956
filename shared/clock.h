#pragma once

#include <chrono>
#include <string>

// A broken-down local date and time, as the clock of the place where the kiosk stands shows it.
struct LocalDateTime
{
    int year = 1970;
    int month = 1; // 1..12
    int day = 1; // 1..31
    int hour = 0; // 0..23
    int minute = 0;
    int second = 0;

    friend bool operator==(const LocalDateTime &, const LocalDateTime &) = default;
};

using TimePoint = std::chrono::system_clock::time_point;

// The source of "now" for every rule that depends on the time of day. Programs use SystemClock;
// tests pass a clock that moves only when told.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    LocalDateTime localNow() const;
};

class SystemClock final : public Clock
{
public:
    TimePoint now() const override;
};

// "yyyymm", as in the monthly log file names.
std::string monthStamp(const LocalDateTime &t);
// "dd/mm/yyyy hh:mm:ss", the readable form of the lock file and request file lines.
std::string dateTimeText(const LocalDateTime &t);
// "yyyymmddhhmmss", 14 digits, as in backup copy names.
std::string compactStamp(const LocalDateTime &t);
// The time of day as hour ":" minute without leading zeros ("7:5", "14:30", "0:0").
std::string hourMinuteText(const LocalDateTime &t);

// The same local time of day, the given number of calendar days earlier or later.
TimePoint addLocalDays(TimePoint t, int days);
