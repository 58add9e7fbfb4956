#include "kiosksettings.h"

#include "numberconversion.h"

CountSettingReader::CountSettingReader(const clsFileIni &ini, LogFunction log)
    : m_ini(ini)
    , m_log(std::move(log))
{
}

std::string CountSettingReader::fallbackMessage(const CountSetting &setting, const std::string &text)
{
    return "Valore non valido per " + std::string(setting.key) + ": '" + text + "', uso il valore "
        + std::to_string(setting.fallback);
}

int16_t CountSettingReader::read(const CountSetting &setting)
{
    const std::string text = m_ini.ReadKey(setting.section, setting.key, setting.defaultText);
    const Int16Result number = toInt16(text);
    if (number.ok() && number.value >= 1) {
        m_reported.erase(setting.key);
        return number.value;
    }
    const auto previous = m_reported.find(setting.key);
    if (previous == m_reported.end() || previous->second != text) {
        m_reported[setting.key] = text;
        if (m_log)
            m_log(fallbackMessage(setting, text));
    }
    return setting.fallback;
}

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
