#include "updatesettings.h"

#include "text.h"

#include <charconv>

namespace {

std::string fileSetting(const clsFileIni &ini, const char *key, const std::filesystem::path &folder)
{
    const std::string value = ini.ReadKey("data", key, "");
    if (value.empty())
        return value;
    return (folder / value).string(); // an absolute value stays as it is
}

} // namespace

Result<modDownload::Connection> readConnectionSettings(const clsFileIni &ini, const std::filesystem::path &folder)
{
    modDownload::Connection connection;
    const std::string rate = ini.ReadKey("data", "max_download_rate", "");
    const std::string_view digits = trimmed(rate);
    if (!digits.empty()) {
        const auto [end, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), connection.maxKiBPerSecond);
        // Past this a limit means nothing, and its bytes per second would not fit libcurl's number.
        constexpr std::uintmax_t Largest = std::uintmax_t(1) << 40;
        if (error != std::errc() || end != digits.data() + digits.size() || connection.maxKiBPerSecond > Largest)
            return Result<modDownload::Connection>::failure(
                {ErrorNumber::UserError, "Valore non valido per max_download_rate: '" + rate + "', nessun download"});
    }
    connection.proxy = ini.ReadKey("data", "proxy", "");
    connection.proxyUser = ini.ReadKey("data", "proxy_user", "");
    connection.proxyPassword = ini.ReadKey("data", "proxy_password", "");
    connection.caFile = fileSetting(ini, "ca_file", folder);
    connection.pinnedPublicKey = ini.ReadKey("data", "pinned_public_key", "");
    if (!connection.pinnedPublicKey.empty() && !connection.pinnedPublicKey.starts_with("sha256//"))
        connection.pinnedPublicKey = fileSetting(ini, "pinned_public_key", folder);
    connection.clientCertificate = fileSetting(ini, "client_certificate", folder);
    connection.clientKey = fileSetting(ini, "client_key", folder);
    return {connection, {}};
}

UpdateSettings readUpdateSettings(const clsFileIni &ini)
{
    const std::filesystem::path folder = std::filesystem::path(ini.NomeFile()).parent_path();
    return {ini.ReadKey("data", "update_url", ""), readTrustSettings(ini), ini.ReadKey("data", "metrics_file", ""),
            readConnectionSettings(ini, folder)};
}
