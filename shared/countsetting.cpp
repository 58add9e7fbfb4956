#include "countsetting.h"

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
    return valueOf(setting, m_ini.ReadKey(setting.section, setting.key, setting.defaultText));
}

int16_t CountSettingReader::readOptional(const CountSetting &setting)
{
    const std::string text = m_ini.ReadKey(setting.section, setting.key, "");
    return text.empty() ? setting.fallback : valueOf(setting, text);
}

int16_t CountSettingReader::valueOf(const CountSetting &setting, const std::string &text)
{
    const Result<int16_t> number = toInt16(text);
    if (number.ok() && number.value >= setting.minimum && number.value <= setting.maximum) {
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
