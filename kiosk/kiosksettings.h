#pragma once

#include "clsfileini.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>

using LogFunction = std::function<void(const std::string &)>;

// The kiosk's settings as start-up reads them, in the order it reads them.
struct KioskSettings
{
    std::string serverList;
    std::string startPage;
    std::string logoutPage;
    std::string adminPage;
    int16_t refreshInterval = 10;
    int16_t failureLimit = 1;
    int16_t restartCountdown = 1;
    std::string errorPage;
    int16_t shutdownCountdown = 5;
    std::string updateTime;
    int16_t loadTimeout = 30;
};

// A setting that counts (seconds, repeats) must be a whole number of at least 1; an unattended
// kiosk cannot refuse to start, so anything else takes the fallback and is reported once.
struct CountSetting
{
    const char *section;
    const char *key;
    const char *defaultText;
    int16_t fallback;
};

namespace KioskKeys {
constexpr CountSetting geturlInterval{"data", "geturl_interval", "10", 10};
constexpr CountSetting geturlFailureLimit{"failure", "geturl_failure_limit", "1", 1};
constexpr CountSetting timeRestartExe{"failure", "time_restart_exe", "1", 1};
constexpr CountSetting shutdownCheckInterval{"data", "shutdown_check_interval", "", 5};
constexpr CountSetting loadTimeout{"failure", "load_timeout", "30", 30};
}

// Reads count settings and reports a value that falls back, once per key and bad text, so that a
// value read again every few seconds does not flood the log.
class CountSettingReader
{
public:
    CountSettingReader(const clsFileIni &ini, LogFunction log);
    int16_t read(const CountSetting &setting);

    // The line written when a value falls back.
    static std::string fallbackMessage(const CountSetting &setting, const std::string &text);

private:
    const clsFileIni &m_ini;
    LogFunction m_log;
    std::map<std::string, std::string> m_reported; // key -> bad text last reported
};

KioskSettings readKioskSettings(const clsFileIni &ini, CountSettingReader &counts);
