#include "kiosksettings.h"

KioskSettings readKioskSettings(const clsFileIni &ini, CountSettingReader &counts)
{
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
    return s;
}
