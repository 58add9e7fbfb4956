#pragma once

#include "clock.h"

#include <QUrl>

#include <map>
#include <string>

class KioskLog;

// The log lines of refused navigations: an http(s) address by its host, any other by its scheme
// (the rest of the address may carry what a visitor typed). The same line at most once a minute,
// and at most 20 lines a minute in all, so that a page trying one address after another cannot
// flood the log.
class NavigationRefusals
{
public:
    NavigationRefusals(KioskLog &log, const Clock &clock);

    void refused(const QUrl &url);

private:
    static constexpr size_t LinesPerMinute = 20;
    static constexpr size_t SchemeShown = 40; // characters

    KioskLog &m_log;
    const Clock &m_clock;
    std::map<std::string, TimePoint> m_logged; // line -> when it was last logged
};
