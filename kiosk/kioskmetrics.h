#pragma once

#include "metricsfile.h"

#include <QObject>

#include <functional>
#include <vector>

class FormTimer;
class KioskLog;
class NavigationErrors;
class ServerList;
class ScreenSchedule;
class ServiceStatus;
struct KioskSettings;

// The kiosk's figures for Prometheus in metrics_file, written every 10 seconds (tmrMetrics) and at
// every change of the status: the status, the page errors, when a page last loaded, the server in
// use and the version. Without metrics_file nothing is written.
class KioskMetrics : public QObject
{
    Q_OBJECT
public:
    KioskMetrics(FormTimer *timer, const std::filesystem::path &programFolder, const KioskLog &log,
                 const ServiceStatus &status, const NavigationErrors &errors, const ServerList &servers,
                 QObject *parent = nullptr);

    void configure(const KioskSettings &settings);
    // With screen_off and screen_on, whether the screen is lit is one of the figures.
    void showDisplay(const ScreenSchedule &screen) { m_screen = &screen; }
    void write();
    // The figures once more with the status stop, at the kiosk's orderly end.
    void writeStopped();
    std::vector<Metric> metrics() const;
    // Figures of another rule, written after these.
    void addFigures(std::function<std::vector<Metric>()> figures) { m_more.push_back(std::move(figures)); }

private:
    FormTimer *m_timer;
    MetricsFile m_file;
    const ServiceStatus &m_status;
    const NavigationErrors &m_errors;
    const ServerList &m_servers;
    const ScreenSchedule *m_screen = nullptr;
    std::vector<std::function<std::vector<Metric>()>> m_more;
};
