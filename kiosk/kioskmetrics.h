#pragma once

#include "metricsfile.h"

#include <QObject>

#include <functional>
#include <vector>

class FormTimer;
class KioskLog;
class NavigationErrors;
class ServerList;
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
    void write();
    std::vector<Metric> metrics() const;
    // Figures of another rule, written after these.
    void addFigures(std::function<std::vector<Metric>()> figures) { m_more.push_back(std::move(figures)); }

private:
    FormTimer *m_timer;
    MetricsFile m_file;
    const ServiceStatus &m_status;
    const NavigationErrors &m_errors;
    const ServerList &m_servers;
    std::vector<std::function<std::vector<Metric>()>> m_more;
};
