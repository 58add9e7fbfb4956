#pragma once

#include "clsfileini.h"
#include "result.h"
#include "updatetrust.h"

#include <string>

// What an update run takes from TesmoraUpdate.ini, read once before the run. The counting
// settings (shutdown_timeout, download_timeout, health_check_seconds) are not among them: the run
// reads them the moment it uses them, which is where a bad value's line belongs in the log.
struct UpdateSettings
{
    // "data"/update_url as read, unchecked: the plain prefix of every download address.
    std::string updateUrl;
    // public_key and max_age_days; a failure carries the line the run refuses with.
    Result<TrustSettings> trust;
    // "data"/metrics_file as read; empty: no metrics.
    std::string metricsFile;
};

UpdateSettings readUpdateSettings(const clsFileIni &ini);
