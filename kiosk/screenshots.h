#pragma once

#include "clock.h"
#include "metricsfile.h"

#include <QObject>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

class FormTimer;
class InputWatch;
class KioskLog;
class QWidget;
struct KioskSettings;

// Pictures of the window for remote checks: with screenshot_file and screenshot_interval, every
// so many seconds (counted by tick(), once a second) the window's picture, at most 1280 pixels
// wide, replaces the file whole (JPEG when the name ends in .jpg or .jpeg, else PNG), but only
// while nobody has touched the screen for as long: a visitor's form stays nobody's business.
// A picture that cannot be written is logged when its failure is new.
class ScreenShots : public QObject
{
    Q_OBJECT
public:
    ScreenShots(FormTimer *timer, QWidget *window, const std::filesystem::path &programFolder, const InputWatch &input,
                KioskLog &log, const Clock &clock, QObject *parent = nullptr);

    void configure(const KioskSettings &settings);
    void tick();
    const std::filesystem::path &path() const { return m_path; }
    // For the metrics file; nothing while off.
    std::vector<Metric> metrics() const;

    static constexpr int MaxWidth = 1280;

private:
    void take();

    FormTimer *m_timer;
    QWidget *m_window;
    std::filesystem::path m_folder;
    const InputWatch &m_input;
    KioskLog &m_log;
    const Clock &m_clock;
    std::filesystem::path m_path;
    int16_t m_interval = 0; // seconds
    int m_seconds = 0;
    std::optional<TimePoint> m_lastTaken;
    std::string m_lastFailure;
};
