#pragma once

#include <QObject>

#include <cstdint>
#include <filesystem>

class CountSettingReader;
struct KioskSettings;

// The request to end: every shutdown_check_interval seconds, counted by tick() and read again
// after every look, the kiosk looks for the request file; once it is there, requested() asks for
// the orderly end.
class ShutdownRequest : public QObject
{
    Q_OBJECT
public:
    ShutdownRequest(std::filesystem::path requestFile, CountSettingReader &counts, QObject *parent = nullptr);

    void configure(const KioskSettings &settings);
    // tmrShutdown, once a second.
    void tick();
    // The design's ShutdownCountdown: seconds to the next look.
    int16_t countdown() const { return m_countdown; }

signals:
    void requested();

private:
    std::filesystem::path m_file;
    CountSettingReader &m_counts;
    int16_t m_countdown = 5;
};
