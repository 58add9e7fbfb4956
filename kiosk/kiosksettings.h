#pragma once

#include "countsetting.h"
#include "result.h"

#include <cstdint>
#include <filesystem>
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

    // For public places and fleets: each feature is off (0, empty) unless its setting is given.
    bool failover = false;
    int16_t failbackInterval = 0; // seconds; read only with failover
    int16_t watchInterval = 0; // seconds
    int16_t idleReset = 0; // seconds
    std::string allowedHosts;
    std::string metricsFile;
    bool logEvents = false;
    int16_t updateSpread = 0; // minutes
    std::string screenOff; // h:m
    std::string screenOn; // h:m
    int16_t screenWakeSeconds = 60; // read only with screen_off or screen_on
    bool screenCec = false; // read only with screen_off or screen_on
    bool onScreenKeyboard = false;
    std::string keyboardLayout; // a locale, it_IT; empty: the system's language
    int16_t pageCheckInterval = 0; // seconds
    int16_t rendererMemoryLimit = 0; // MiB
    std::string screenshotFile;
    int16_t screenshotInterval = 0; // seconds; read only with screenshot_file
};

namespace KioskKeys {
constexpr CountSetting geturlInterval{"data", "geturl_interval", "10", 10};
constexpr CountSetting geturlFailureLimit{"failure", "geturl_failure_limit", "1", 1};
constexpr CountSetting timeRestartExe{"failure", "time_restart_exe", "1", 1};
constexpr CountSetting shutdownCheckInterval{"data", "shutdown_check_interval", "", 5};
constexpr CountSetting loadTimeout{"failure", "load_timeout", "30", 30};
// An unusable value of these turns the feature off (the fallback 0).
constexpr CountSetting failover{"failure", "failover", "", 0, 0, 1};
constexpr CountSetting failbackInterval{"failure", "failback_interval", "300", 0};
constexpr CountSetting watchInterval{"failure", "watch_interval", "", 0, 5};
constexpr CountSetting idleReset{"data", "idle_reset", "", 0};
constexpr CountSetting logEvents{"data", "log_events", "", 0, 0, 1};
constexpr CountSetting updateSpread{"data", "update_spread", "", 0, 0, 1440};
constexpr CountSetting screenWakeSeconds{"data", "screen_wake_seconds", "60", 60};
constexpr CountSetting screenCec{"data", "screen_cec", "", 0, 0, 1};
constexpr CountSetting onScreenKeyboard{"data", "on_screen_keyboard", "", 0, 0, 1};
constexpr CountSetting pageCheckInterval{"failure", "page_check_interval", "", 0, 5};
constexpr CountSetting rendererMemoryLimit{"failure", "renderer_memory_limit", "", 0};
constexpr CountSetting screenshotInterval{"data", "screenshot_interval", "", 0, 5};
} // namespace KioskKeys

// Reads the settings file, which becomes ini's file, through counts (which logs the counts that
// fall back). Without an ordinary file there it fails with File not found (53) and reads nothing.
Result<KioskSettings> readKioskSettings(const std::filesystem::path &file, clsFileIni &ini, CountSettingReader &counts);
