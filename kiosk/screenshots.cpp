#include "screenshots.h"

#include "errorinfo.h"
#include "fileops.h"
#include "formtimer.h"
#include "inputwatch.h"
#include "kiosklog.h"
#include "kiosksettings.h"

#include <QBuffer>
#include <QImage>
#include <QWidget>

ScreenShots::ScreenShots(FormTimer *timer, QWidget *window, const std::filesystem::path &programFolder,
                         const InputWatch &input, KioskLog &log, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_timer(timer)
    , m_window(window)
    , m_folder(programFolder)
    , m_input(input)
    , m_log(log)
    , m_clock(clock)
{
}

void ScreenShots::configure(const KioskSettings &settings)
{
    m_interval = settings.screenshotInterval;
    m_path.clear();
    if (settings.screenshotFile.empty() || m_interval <= 0)
        return;
    m_path = std::filesystem::path(settings.screenshotFile);
    if (m_path.is_relative())
        m_path = m_folder / m_path;
    m_timer->setEnabled(true);
}

void ScreenShots::tick()
{
    if (m_path.empty() || ++m_seconds < m_interval)
        return;
    m_seconds = 0;
    if (m_input.sinceInput() < std::chrono::seconds(m_interval))
        return;
    take();
}

void ScreenShots::take()
{
    QImage picture = m_window->grab().toImage();
    if (picture.width() > MaxWidth)
        picture = picture.scaledToWidth(MaxWidth, Qt::SmoothTransformation);
    std::string extension = m_path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool jpeg = extension == ".jpg" || extension == ".jpeg";
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, jpeg ? "JPEG" : "PNG", jpeg ? 85 : -1);
    // Replaced whole: a remote check reading the file never sees half a picture.
    const ErrorInfo written = replaceFileAtomically(m_path, std::string_view(bytes.constData(), bytes.size()));
    if (written.failed()) {
        const std::string line = "Impossibile scrivere screenshot_file '" + m_path.string() + "' " + errorText(written);
        if (line != m_lastFailure)
            m_log.write(line);
        m_lastFailure = line;
        return;
    }
    m_lastFailure.clear();
    m_lastTaken = m_clock.now();
}

std::vector<Metric> ScreenShots::metrics() const
{
    if (m_path.empty())
        return {};
    const double seconds = m_lastTaken ? std::chrono::duration<double>(m_lastTaken->time_since_epoch()).count() : 0.0;
    return {{"tesmora_kiosk_last_screenshot_timestamp_seconds",
             "When the last picture of the screen was written; 0: none yet.",
             "gauge",
             seconds,
             {}}};
}
