#include "moddownload.h"

#include "downloadconnection.h"
#include "downloadparts.h"
#include "fileops.h"
#include "platform.h"
#include "text.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace modDownload {

namespace {

// Reading and writing 4096 bytes at a time costs a system call for every block; larger reads
// and writes let a fast local transfer keep up with other clients.
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
    void operator()(curl_slist *list) const { curl_slist_free_all(list); }
};

// What the headers of the latest answer said (a redirect's answer is followed by the next one's).
struct Answer
{
    long status = 0;
    std::string etag;
    std::string lastModified;
    std::string contentRange;
    bool encoded = false;

    // A strong validator If-Range may carry: a weak ETag never matches there.
    std::string validator() const
    {
        if (!etag.empty() && !etag.starts_with("W/"))
            return etag;
        return lastModified;
    }
};

struct Transfer
{
    std::FILE *file = nullptr;
    std::filesystem::path path;
    const Options *options = nullptr;
    std::uintmax_t bytes = 0; // in the file, a resumed part included
    std::uintmax_t writtenBack = 0;
    std::uintmax_t askedFrom = 0; // the Range asked for; 0: none
    std::uintmax_t resumedFrom = 0;
    bool bodyStarted = false;
    int receiveBuffer = 0;
    std::chrono::steady_clock::time_point pacedSince; // the first block's arrival
    std::uintmax_t paced = 0; // bytes since
    bool cutShort = false;
    bool stopped = false;
    ErrorInfo fileError;
    Answer answer;
};

size_t headerLine(char *data, size_t size, size_t count, void *userData) noexcept
{
    auto *transfer = static_cast<Transfer *>(userData);
    const std::string_view line(data, size * count);
    try {
        Answer &answer = transfer->answer;
        if (line.starts_with("HTTP/")) {
            answer = {};
            const size_t blank = line.find(' ');
            if (blank != std::string_view::npos)
                std::from_chars(line.data() + blank + 1, line.data() + line.size(), answer.status);
            return size * count;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return size * count;
        std::string name(line.substr(0, colon));
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
        const std::string value(trimmed(line.substr(colon + 1), " \t\r\n"));
        if (name == "etag")
            answer.etag = value;
        else if (name == "last-modified")
            answer.lastModified = value;
        else if (name == "content-range")
            answer.contentRange = value;
        else if (name == "content-encoding")
            answer.encoded = !value.empty() && value != "identity";
    } catch (...) {
        // A header that cannot be kept only costs the resume.
    }
    return size * count;
}

// Feeds the part kept from the earlier transfer to the hash, which must see the whole body.
bool feedKeptPart(Transfer &transfer)
{
    if (!transfer.options->onData)
        return true;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> kept(platform::openFile(transfer.path, "rb"), std::fclose);
    if (!kept)
        return false;
    std::string block(ReceiveSize, '\0');
    std::uintmax_t left = transfer.resumedFrom;
    while (left > 0) {
        const size_t n = std::fread(block.data(), 1, std::min<std::uintmax_t>(left, block.size()), kept.get());
        if (n == 0)
            return false;
        transfer.options->onData(std::string_view(block.data(), n));
        left -= n;
    }
    return true;
}

// libcurl's own receive limit lets whole seconds' worth through at once (and forgets itself on a
// handle that is reused), so the rate is also kept here: the block that runs ahead of it waits,
// the window served and a stop heeded meanwhile. With the socket's buffer small, the sender
// waits too, and the link stays free.
void holdToRate(Transfer &transfer, size_t length)
{
    const std::uintmax_t kiB = transfer.options->connection.maxKiBPerSecond;
    if (kiB == 0)
        return;
    transfer.paced += length;
    const auto due = transfer.pacedSince
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                         std::chrono::duration<double>(double(transfer.paced) / (double(kiB) * 1024.0)));
    for (auto now = std::chrono::steady_clock::now(); now < due && !transfer.options->stop.stop_requested();
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(due - now, std::chrono::milliseconds(50)));
        if (transfer.options->onBlock) {
            try {
                transfer.options->onBlock();
            } catch (...) {
                // The window's trouble is not the transfer's.
            }
        }
    }
}

// The first block of the final answer decides what the file holds so far: a 206 from the byte
// asked for continues it, anything else replaces it.
bool startBody(Transfer &transfer)
{
    transfer.bodyStarted = true;
    transfer.pacedSince = std::chrono::steady_clock::now();
    if (transfer.askedFrom == 0)
        return true;
    if (transfer.answer.status == 206 && reachesTheEnd(transfer.answer.contentRange, transfer.askedFrom)) {
        transfer.resumedFrom = transfer.askedFrom;
        transfer.bytes = transfer.askedFrom;
        return feedKeptPart(transfer);
    }
    if (transfer.answer.status == 206)
        return false; // not the rest of the file: the part cannot be trusted
    errno = 0;
    if (std::fseek(transfer.file, 0, SEEK_SET) != 0 || ::ftruncate(fileno(transfer.file), 0) != 0) {
        transfer.fileError = errorFromErrno(errno ? errno : EIO, transfer.path);
        return false;
    }
    return true;
}

size_t writeBlock(char *data, size_t size, size_t count, void *userData) noexcept
{
    auto *transfer = static_cast<Transfer *>(userData);
    const Options &options = *transfer->options;
    const size_t length = size * count;
    if (!transfer->bodyStarted && !startBody(*transfer))
        return 0;
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
    holdToRate(*transfer, length);
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
    std::unique_ptr<CURL, CurlDeleter> ownHandle;
    CURL *h = options.session ? static_cast<CURL *>(options.session->handle()) : nullptr;
    if (h) {
        // Options go, the connection stays.
        curl_easy_reset(h);
    } else {
        ownHandle.reset(curl_easy_init());
        h = ownHandle.get();
    }
    if (!h)
        return Failure::failure(userError("Errore in fase di InternetOpen"));
    if (!url)
        return Failure::failure(userError(OpenFailed));

    KeptPart kept = options.resume ? keptPartFor(address, localPath) : KeptPart{};
    NewFile part;
    if (kept.bytes > 0) {
        part = {platform::openFile(keptPartOf(localPath), "r+b"), keptPartOf(localPath)};
        if (!part.file || std::fseek(part.file, 0, SEEK_END) != 0) {
            if (part.file)
                std::fclose(part.file);
            (void)removeFileIfPresent(part.path);
            kept = {};
        }
    }
    if (kept.bytes == 0) {
        const Result<NewFile> created = createFileBeside(localPath, PartPurpose);
        if (created.failed())
            return Failure::failure(created.error);
        part = created.value;
    }
    std::setvbuf(part.file, nullptr, _IOFBF, WriteBufferSize);
    Transfer state;
    state.file = part.file;
    state.path = part.path;
    state.options = &options;
    state.askedFrom = kept.bytes;
    char curlMessage[CURL_ERROR_SIZE] = {};
    std::unique_ptr<curl_slist, CurlDeleter> headers;
    // A kept handle must not point at this call's buffers, state and address once it returns.
    const auto forget = [](CURL *handle) { curl_easy_reset(handle); };
    const std::unique_ptr<CURL, decltype(forget)> forgetOnReturn(options.session ? h : nullptr, forget);

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
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, headerLine);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &state);
    if (kept.bytes > 0) {
        // The bytes kept are of the body as sent, so the rest is asked for unencoded too; a
        // file changed meanwhile makes the server send it whole.
        const std::string range = std::to_string(kept.bytes) + "-";
        curl_easy_setopt(h, CURLOPT_RANGE, range.c_str());
        headers.reset(curl_slist_append(nullptr, ("If-Range: " + kept.validator).c_str()));
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    } else {
        // What is installed is the file, not the compressed form a server chose to send:
        // libcurl undoes what it knows and fails on what it does not.
        curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
    }
    // One thread and no alarm signals behind the window's back.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    if (options.stop.stop_possible()) {
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, checkStop);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &state);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    setConnection(h, options.connection, state.receiveBuffer);

    const CURLcode result = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    long proxyStatus = 0; // the proxy's answer to the tunnel asked for an https address
    curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
    if (state.resumedFrom > 0 && options.log)
        options.log("Download ripreso dal byte " + std::to_string(state.resumedFrom));

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
        else if (proxyStatus >= 400)
            failure = userError("Risposta del server: " + std::to_string(proxyStatus));
        else if (isTlsRefusal(result))
            failure = userError(std::string("Connessione TLS rifiutata: ")
                                + (curlMessage[0] ? curlMessage : curl_easy_strerror(result)));
        else if (status == 0)
            failure = userError(OpenFailed);
        else
            failure = userError(std::string("Trasferimento interrotto: ")
                                + (curlMessage[0] ? curlMessage : curl_easy_strerror(result)));
    }

    const Download done{state.bytes, state.cutShort, state.resumedFrom};
    if (failure.ok()) {
        std::error_code ec;
        std::filesystem::rename(part.path, localPath, ec);
        if (!ec)
            return {done, {}};
        failure = errorFromSystem(ec, localPath);
    }
    const std::string validator = state.answer.validator();
    if (options.resume && isBreakOff(result) && state.fileError.ok() && !state.stopped && state.bytes > 0
        && !validator.empty() && !state.answer.encoded && part.path == keptPartOf(localPath)
        && (state.answer.status == 200 || state.answer.status == 206)) {
        // Kept for the next call; if the record cannot be written the part goes with the rest.
        if (replaceFileAtomically(recordOf(part.path), address + "\n" + validator + "\n", Durability::UntilCrash).ok())
            return {done, failure};
    }
    (void)removeFileIfPresent(part.path); // a hidden name that the next run clears away
    return {done, failure};
}

} // namespace

Session::Session()
    : m_handle(curl_easy_init())
{
}

Session::~Session()
{
    curl_easy_cleanup(static_cast<CURL *>(m_handle));
}

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
