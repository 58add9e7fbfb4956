#include "kiosksettings.h"

#include "fileops.h"

Result<KioskSettings> readKioskSettings(const std::filesystem::path &file, clsFileIni &ini, CountSettingReader &counts)
{
    if (!ordinaryFileExists(file))
        return Result<KioskSettings>::failure(errorFor(ErrorNumber::FileNotFound));
    ini.setNomeFile(file.string());
    KioskSettings s;
    s.serverList = ini.ReadKey("data", "web_server ", "");
    s.startPage = ini.ReadKey("data", "start_page", "");
    s.logoutPage = ini.ReadKey("data", "logout_page", "");
    s.adminPage = ini.ReadKey("data", "admin_page", "");
    s.refreshInterval = counts.read(KioskKeys::geturlInterval);
    s.failureLimit = counts.read(KioskKeys::geturlFailureLimit);
    s.restartCountdown = counts.read(KioskKeys::timeRestartExe);
    s.errorPage = ini.ReadKey("failure", "error_page", "");
    s.shutdownCountdown = counts.read(KioskKeys::shutdownCheckInterval);
    s.updateTime = ini.ReadKey("data", "update_start", "");
    s.loadTimeout = counts.read(KioskKeys::loadTimeout);
    s.failover = counts.readOptional(KioskKeys::failover) == 1;
    if (s.failover)
        s.failbackInterval = counts.read(KioskKeys::failbackInterval);
    s.watchInterval = counts.readOptional(KioskKeys::watchInterval);
    s.idleReset = counts.readOptional(KioskKeys::idleReset);
    s.allowedHosts = ini.ReadKey("data", "allowed_hosts", "");
    s.metricsFile = ini.ReadKey("data", "metrics_file", "");
    s.logEvents = counts.readOptional(KioskKeys::logEvents) == 1;
    s.updateSpread = counts.readOptional(KioskKeys::updateSpread);
    s.screenOff = ini.ReadKey("data", "screen_off", "");
    s.screenOn = ini.ReadKey("data", "screen_on", "");
    if (!s.screenOff.empty() || !s.screenOn.empty()) {
        s.screenWakeSeconds = counts.read(KioskKeys::screenWakeSeconds);
        s.screenCec = counts.readOptional(KioskKeys::screenCec) == 1;
    }
    s.onScreenKeyboard = counts.readOptional(KioskKeys::onScreenKeyboard) == 1;
    if (s.onScreenKeyboard)
        s.keyboardLayout = ini.ReadKey("data", "keyboard_layout", "");
    s.pageCheckInterval = counts.readOptional(KioskKeys::pageCheckInterval);
    s.rendererMemoryLimit = counts.readOptional(KioskKeys::rendererMemoryLimit);
    s.screenshotFile = ini.ReadKey("data", "screenshot_file", "");
    if (!s.screenshotFile.empty())
        s.screenshotInterval = counts.readOptional(KioskKeys::screenshotInterval);
    return {s, {}};
}
