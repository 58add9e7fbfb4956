#pragma once

#include "clsfileini.h"
#include "monthlylog.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>

// A setting that counts (seconds, repeats, checks). An unattended program cannot refuse to
// start, so a value that is not a whole 16-bit number from `minimum` to `maximum` takes the
// fallback and is reported once.
struct CountSetting
{
    const char *section;
    const char *key;
    const char *defaultText;
    int16_t fallback;
    int16_t minimum = 1;
    int16_t maximum = INT16_MAX;
};

// Reads count settings and reports a value that falls back, once per key and bad text, so that a
// value read again every few seconds does not flood the log.
class CountSettingReader
{
public:
    CountSettingReader(const clsFileIni &ini, LogFunction log);
    int16_t read(const CountSetting &setting);
    // For a setting that switches a feature on: absent or empty gives the fallback (the feature
    // off) without a line; any other text is read as read() reads it.
    int16_t readOptional(const CountSetting &setting);

    // The line written when a value falls back.
    static std::string fallbackMessage(const CountSetting &setting, const std::string &text);

private:
    int16_t valueOf(const CountSetting &setting, const std::string &text);

    const clsFileIni &m_ini;
    LogFunction m_log;
    std::map<std::string, std::string> m_reported; // key -> bad text last reported
};
