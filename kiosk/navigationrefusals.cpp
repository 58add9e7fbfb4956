#include "navigationrefusals.h"

#include "kiosklog.h"
#include "kioskpage.h"
#include "text.h"

NavigationRefusals::NavigationRefusals(KioskLog &log, const Clock &clock)
    : m_log(log)
    , m_clock(clock)
{
}

void NavigationRefusals::refused(const QUrl &url)
{
    const bool web = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    const std::string line = "Navigazione rifiutata verso "
        + (web ? hostOf(url) + ": non in allowed_hosts"
               : cutToCharacters(url.scheme().toStdString(), SchemeShown) + ": schema non consentito");
    const TimePoint now = m_clock.now();
    std::erase_if(m_logged, [&](const auto &entry) { return now - entry.second >= std::chrono::minutes(1); });
    if (m_logged.contains(line) || m_logged.size() >= LinesPerMinute)
        return;
    m_logged[line] = now;
    m_log.write(line);
}
