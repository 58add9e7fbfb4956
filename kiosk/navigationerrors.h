#pragma once

#include "clock.h"

#include <QObject>
#include <QUrl>

#include <cstdint>
#include <optional>
#include <string>

class CountSettingReader;
class FormTimer;
class KioskLog;
class Navigator;
class ServiceStatus;
struct KioskSettings;

// What a failed page leads to. The browser shows the error page instead, or the kiosk's own text
// when there is no error page or it failed too; the status passes through pause to error, and the
// error countdown (tmrRestartApp) shows "Service error n" once a second for time_restart_exe
// seconds (read again after every countdown), then countdownEnded() asks for the start page again.
// With log_events each error is logged, the same one once a countdown, and after an error the
// first page that loads, other than the error page, is logged as loaded again; with failover,
// watch_interval or metrics_file that page brings the status back to play.
class NavigationErrors : public QObject
{
    Q_OBJECT
public:
    NavigationErrors(FormTimer *countdownTimer, Navigator &navigator, ServiceStatus &status, CountSettingReader &counts,
                     KioskLog &log, const Clock &clock, QObject *parent = nullptr);

    void configure(const KioskSettings &settings);

    // statusCode: the HTTP status, the engine's error number, or 0.
    void navigateError(const QUrl &url, int statusCode, const QString &description);
    void documentComplete(const QUrl &url);
    void countdownTick();
    // Error starts the countdown.
    void statusChanged(int16_t code);

    bool countdownRunning() const;
    // The design's RestartCountdown: the number the next tick shows.
    int16_t countdown() const { return m_countdown; }
    // For the metrics: errors since start, and when a page other than the error page last loaded.
    uint64_t errorCount() const { return m_errorCount; }
    std::optional<TimePoint> lastPageLoaded() const { return m_lastPageLoaded; }

signals:
    void labelChanged(const QString &text);
    void countdownEnded();

private:
    FormTimer *m_timer;
    Navigator &m_navigator;
    ServiceStatus &m_status;
    CountSettingReader &m_counts;
    KioskLog &m_log;
    const Clock &m_clock;
    std::string m_errorPage;
    bool m_returnsToPlay = false;
    int16_t m_countdown = 1;
    uint64_t m_errorCount = 0;
    std::optional<TimePoint> m_lastPageLoaded;
    bool m_errorSinceLoad = false;
    std::string m_lastErrorLine; // the error line of the running countdown
};
