#pragma once

#include "clsfileini.h"
#include "moddownload.h"
#include "result.h"
#include "updatetrust.h"

#include <filesystem>
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
    // How the server is reached; a failure carries the line the run refuses with.
    Result<modDownload::Connection> connection;
};

UpdateSettings readUpdateSettings(const clsFileIni &ini);

// max_download_rate (KiB per second, a whole number; 0 or blank: no limit), proxy, proxy_user,
// proxy_password, ca_file, pinned_public_key, client_certificate and client_key of section "data";
// a relative file path lies in folder. A rate that is not a whole number fails with the line
// "Valore non valido per max_download_rate: '<text>', nessun download": a kiosk held to a rate
// never takes the whole link because of a typing error.
Result<modDownload::Connection> readConnectionSettings(const clsFileIni &ini, const std::filesystem::path &folder);
