#pragma once

// One HTTP(S) transfer: the body of one address into one local file.

#include "countsetting.h"
#include "result.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

namespace modDownload {

// How the server is reached: the network settings of TesmoraUpdate.ini. Every member left empty
// (or 0) is libcurl's default; a file path is as given, relative to the working folder.
struct Connection
{
    std::uintmax_t maxKiBPerSecond = 0; // receive limit; 0: none
    // "http://host:port" or libcurl's other forms. Empty: libcurl's own choice from http_proxy,
    // https_proxy, all_proxy and no_proxy; given: every request goes through it, no_proxy too.
    std::string proxy;
    std::string proxyUser; // with proxyPassword, sent to a proxy that asks for a log-in
    std::string proxyPassword;
    std::string caFile; // PEM certificates trusted for the server instead of the system's
    std::string pinnedPublicKey; // "sha256//<base64>[;sha256//...]" or a public key file
    std::string clientCertificate; // PEM, for a server that asks for one
    std::string clientKey; // PEM; empty: in clientCertificate
};

// One libcurl handle kept across downloads, so that the downloads of a run from one server share
// a connection (and its TLS session) instead of opening one each.
class Session
{
public:
    Session();
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    void *handle() const { return m_handle; } // a CURL *, or null when libcurl had no memory

private:
    void *m_handle = nullptr;
};

// Called once per block that arrives, before its bytes are written: the window blinks and lets
// its pending events run (a close among them asks the run to stop).
using BlockHook = std::function<void()>;
// Sees every byte of the body, in order (what a hash is computed over).
using DataSink = std::function<void(std::string_view bytes)>;

struct Options
{
    std::string userAgent; // the updater's executable name
    LogFunction log; // where the failure line goes
    BlockHook onBlock;
    DataSink onData;
    long timeoutSeconds = 0; // for the whole transfer; 0: none
    std::uintmax_t maxBytes = 0; // a longer body is cut there and counts as whole; 0: no limit
    Connection connection;
    Session *session = nullptr; // null: a connection of its own
    // A transfer that breaks off keeps what arrived, when the server named a validator (ETag or
    // Last-Modified), and the next call for the same address and path asks only for the rest.
    bool resume = false;
    // Once a stop is requested the transfer ends at its next block, or within a second while none
    // comes.
    std::stop_token stop;
};

struct Download
{
    std::uintmax_t bytes = 0; // of the body, as decoded, kept or not
    bool cutShort = false; // the body passed maxBytes
    std::uintmax_t resumedFrom = 0; // bytes kept from an earlier transfer; 0: from the start
};

// Fetches address into localPath. The body goes to a temporary file beside localPath that is
// renamed into place only when the transfer is complete, so localPath afterwards holds either
// the whole body or nothing at all (an earlier file there is removed too). The body is as the
// server meant it: a compression the server applied is undone, and one that cannot be undone is
// a failure. With resume, a transfer that breaks off keeps its temporary file and the answer's
// validator beside localPath, and the next call sends Range and If-Range: a 206 answer with the
// rest of the file continues it ("Download ripreso dal byte " + offset is logged), any other
// answer starts from zero. A failure is logged as "Error download (" + number + ") " +
// description and returned. Failures: an empty argument (5); the address cannot be opened
// (-2147220504, "Errore in fase di chiamata InternetOpen"); an HTTP status of 400 or more
// (-2147220504, "Risposta del server: " + status); a transfer that breaks off, stalls or passes
// the time-out (-2147220504, "Trasferimento interrotto: " + reason); a TLS connection refused:
// an unknown certificate, a key not the pinned one, a client certificate that cannot be read
// (-2147220504, "Connessione TLS rifiutata: " + libcurl's reason); the local file cannot be
// written (the file error's number); a stop requested (18, "User interrupt occurred", not
// logged: whoever asked knows).
Result<Download> DownloadFile(const std::string &address, const std::string &localPath, const Options &options);

// Deletes from folder the temporary files of downloads a killed or failed run left, but not those
// kept with their validator for resuming.
void removeAbandonedParts(const std::filesystem::path &folder);
// Deletes every temporary file of downloads in folder, kept ones too.
void removeAllParts(const std::filesystem::path &folder);

} // namespace modDownload
