#pragma once

#include "countsetting.h"

#include <cstdint>
#include <string>

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

namespace KioskKeys {
constexpr CountSetting geturlInterval{"data", "geturl_interval", "10", 10};
constexpr CountSetting geturlFailureLimit{"failure", "geturl_failure_limit", "1", 1};
constexpr CountSetting timeRestartExe{"failure", "time_restart_exe", "1", 1};
constexpr CountSetting shutdownCheckInterval{"data", "shutdown_check_interval", "", 5};
constexpr CountSetting loadTimeout{"failure", "load_timeout", "30", 30};
}

KioskSettings readKioskSettings(const clsFileIni &ini, CountSettingReader &counts);
