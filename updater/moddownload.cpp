#include "moddownload.h"

#include "fileops.h"
#include "platform.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace modDownload {

namespace {

// Reading and writing 4096 bytes at a time costs a system call for every block; larger reads
// and writes let a fast local transfer keep up with other clients.
constexpr long ReceiveSize = 256 * 1024;
constexpr size_t WriteBufferSize = 64 * 1024;
// A large file goes to the disk while it still arrives, so that the sync before installing it
// finds little left to write.
constexpr std::uintmax_t WritebackStep = 8 * 1024 * 1024;
constexpr long ConnectTimeoutSeconds = 30;
// A server sending less than one byte a second for a minute is taken as gone.
constexpr long StallBytesPerSecond = 1;
constexpr long StallSeconds = 60;

const char *const OpenFailed = "Errore in fase di chiamata InternetOpen";

struct CurlDeleter
{
    void operator()(CURL *handle) const { curl_easy_cleanup(handle); }
    void operator()(CURLU *url) const { curl_url_cleanup(url); }
};

struct Transfer
{
    std::FILE *file = nullptr;
    std::filesystem::path path;
    const Options *options = nullptr;
    std::uintmax_t bytes = 0;
    std::uintmax_t writtenBack = 0;
    bool cutShort = false;
    bool stopped = false;
    ErrorInfo fileError;
};

size_t writeBlock(char *data, size_t size, size_t count, void *userData) noexcept
{
    auto *transfer = static_cast<Transfer *>(userData);
    const Options &options = *transfer->options;
    const size_t length = size * count;
    size_t kept = length;
    if (options.maxBytes > 0 && transfer->bytes + length > options.maxBytes) {
        kept = static_cast<size_t>(options.maxBytes - transfer->bytes);
        transfer->cutShort = true;
    }
    try {
        if (options.onBlock)
            options.onBlock();
        if (options.onData)
            options.onData(std::string_view(data, kept));
    } catch (...) {
        // The window's or the hash's trouble is not the transfer's.
    }
    if (options.stop.stop_requested()) {
        transfer->stopped = true;
        return 0;
    }
    errno = 0;
    if (std::fwrite(data, 1, kept, transfer->file) != kept) {
        transfer->fileError = errorFromErrno(errno ? errno : EIO, transfer->path);
        return 0; // makes curl abort the transfer
    }
    transfer->bytes += kept;
    if (transfer->bytes - transfer->writtenBack >= WritebackStep && std::fflush(transfer->file) == 0) {
        platform::startWriting(transfer->file, transfer->writtenBack, transfer->bytes - transfer->writtenBack);
        transfer->writtenBack = transfer->bytes;
    }
    return transfer->cutShort ? 0 : length;
}

// libcurl calls this about once a second even while no data comes, so that a stop requested
// during a stall is not kept waiting for the stall's time-out.
int checkStop(void *userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept
{
    auto *transfer = static_cast<Transfer *>(userData);
    transfer->stopped = transfer->options->stop.stop_requested();
    return transfer->stopped ? 1 : 0;
}

ErrorInfo userError(const std::string &description)
{
    return {ErrorNumber::UserError, description};
}

// Only an absolute http or https address is fetched. Without this a bare name such as
// "update.txt" (no update_url set) would be guessed into a host name and looked up.
std::unique_ptr<CURLU, CurlDeleter> parsedAddress(const std::string &address)
{
    std::unique_ptr<CURLU, CurlDeleter> url(curl_url());
    if (!url)
        return nullptr;
    // Manifest entries may hold blanks; they travel as %20.
    if (curl_url_set(url.get(), CURLUPART_URL, address.c_str(), CURLU_ALLOW_SPACE | CURLU_URLENCODE) != CURLUE_OK)
        return nullptr;
    char *scheme = nullptr;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
        return nullptr;
    const std::string name(scheme);
    curl_free(scheme);
    if (name != "http" && name != "https")
        return nullptr;
    return url;
}

Result<Download> transfer(const std::string &address, const std::filesystem::path &localPath, const Options &options)
{
    using Failure = Result<Download>;
    if (address.empty() || localPath.empty())
        return Failure::failure(errorFor(ErrorNumber::InvalidArgument));

    // The parsed address outlives the handle that refers to it.
    const auto url = parsedAddress(address);
    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return Failure::failure(userError("Errore in fase di InternetOpen"));
    if (!url)
        return Failure::failure(userError(OpenFailed));

    const Result<NewFile> created = createFileBeside(localPath, "download");
    if (created.failed())
        return Failure::failure(created.error);
    const NewFile &part = created.value;
    std::setvbuf(part.file, nullptr, _IOFBF, WriteBufferSize);
    Transfer state{part.file, part.path, &options, 0, 0, false, false, {}};
    char curlMessage[CURL_ERROR_SIZE] = {};

    CURL *h = curl.get();
    curl_easy_setopt(h, CURLOPT_CURLU, url.get());
    curl_easy_setopt(h, CURLOPT_USERAGENT, options.userAgent.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, writeBlock);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, ReceiveSize);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, curlMessage);
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, ConnectTimeoutSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, StallBytesPerSecond);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, StallSeconds);
    // A server trickling bytes would otherwise hold the run, and its window over the kiosk, for
    // days.
    curl_easy_setopt(h, CURLOPT_TIMEOUT, options.timeoutSeconds);
    // What is installed is the file, not the compressed form a server chose to send: libcurl
    // undoes what it knows and fails on what it does not.
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    // One thread and no alarm signals behind the window's back.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    if (options.stop.stop_possible()) {
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkStop);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &state);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    // Proxies: libcurl takes http_proxy, https_proxy, all_proxy and no_proxy from the
    // environment when no proxy is set here.

    const CURLcode result = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);

    errno = 0;
    const bool closed = std::fclose(part.file) == 0;
    ErrorInfo failure = state.fileError;
    if (failure.ok() && state.stopped)
        failure = errorFor(ErrorNumber::UserInterrupt);
    if (failure.ok() && !closed)
        failure = errorFromErrno(errno ? errno : EIO, part.path);
    if (failure.ok() && result != CURLE_OK && !(state.cutShort && result == CURLE_WRITE_ERROR)) {
        if (result == CURLE_HTTP_RETURNED_ERROR)
            failure = userError("Risposta del server: " + std::to_string(status));
        else if (status == 0)
            failure = userError(OpenFailed);
        else
            failure = userError(std::string("Trasferimento interrotto: ")
                                + (curlMessage[0] ? curlMessage : curl_easy_strerror(result)));
    }

    if (failure.ok()) {
        std::error_code ec;
        std::filesystem::rename(part.path, localPath, ec);
        if (!ec)
            return {{state.bytes, state.cutShort}, {}};
        failure = errorFromSystem(ec, localPath);
    }
    (void)removeFileIfPresent(part.path); // a hidden name that the next run clears away
    return {{state.bytes, state.cutShort}, failure};
}

} // namespace

Result<Download> DownloadFile(const std::string &address, const std::string &localPath, const Options &options)
{
    Result<Download> result = transfer(address, localPath, options);
    if (result.failed()) {
        // An earlier copy at the local path would otherwise be taken for this download; one that
        // cannot go fails the run's check of its length.
        if (!localPath.empty() && ordinaryFileExists(localPath))
            (void)removeFileIfPresent(localPath);
        if (options.log && result.error.number != ErrorNumber::UserInterrupt)
            options.log("Error download " + errorText(result.error));
    }
    return result;
}

} // namespace modDownload
