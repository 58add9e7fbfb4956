#pragma once

// One HTTP(S) transfer: the body of one address into one local file.

#include "countsetting.h"
#include "result.h"

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

namespace modDownload {

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
    // Once a stop is requested the transfer ends at its next block, or within a second while none
    // comes.
    std::stop_token stop;
};

struct Download
{
    std::uintmax_t bytes = 0; // of the body, as decoded, kept or not
    bool cutShort = false; // the body passed maxBytes
};

// Fetches address into localPath. The body goes to a temporary file beside localPath that is
// renamed into place only when the transfer is complete, so localPath afterwards holds either
// the whole body or nothing at all (an earlier file there is removed too). The body is as the
// server meant it: a compression the server applied is undone, and one that cannot be undone is
// a failure. A failure is logged as "Error download (" + number + ") " + description and
// returned. Failures: an empty argument (5); the address cannot be opened (-2147220504, "Errore
// in fase di chiamata InternetOpen"); an HTTP status of 400 or more (-2147220504, "Risposta del
// server: " + status); a transfer that breaks off, stalls or passes the time-out (-2147220504,
// "Trasferimento interrotto: " + reason); the local file cannot be written (the file error's
// number); a stop requested (18, "User interrupt occurred", not logged: whoever asked knows).
Result<Download> DownloadFile(const std::string &address, const std::string &localPath, const Options &options);

} // namespace modDownload
