#pragma once

// One HTTP(S) transfer: the body of one address into one local file.

#include "errorinfo.h"

#include <functional>
#include <string>

namespace modDownload {

// Called once per received block (at most 4096 bytes), before its bytes are written: the window
// blinks and lets its pending events run. A window closed there ends the process.
using BlockHook = std::function<void()>;

// Fetches address into localPath. The body goes to a temporary file beside localPath that is
// renamed into place only when the transfer is complete, so localPath afterwards holds either
// the whole body or nothing at all (an earlier file there is removed too).
// A failure is logged as "Error download (" + number + ") " + description and returned; the
// caller may also judge by the local file alone. Failures: an empty argument (5); the address
// cannot be opened (-2147220504, "Errore in fase di chiamata InternetOpen"); an HTTP status of
// 400 or more (-2147220504, "Risposta del server: " + status); a transfer that breaks off or
// stalls (-2147220504, "Trasferimento interrotto: " + reason); the local file cannot be written
// (the file error's number).
ErrorInfo DownloadFile(const std::string &address, const std::string &localPath,
                       const BlockHook &onBlock = {});

} // namespace modDownload
