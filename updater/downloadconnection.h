#pragma once

// How libcurl reaches the update server: rate, proxy and private TLS, and which failures are the
// connection's.

#include "moddownload.h"

#include <curl/curl.h>

namespace modDownload {

// Reading and writing 4096 bytes at a time costs a system call for every block; larger reads
// and writes let a fast local transfer keep up with other clients.
constexpr long ReceiveSize = 256 * 1024;

// receiveBuffer holds what the socket callback reads; it outlives the transfer.
void setConnection(CURL *h, const Connection &connection, int &receiveBuffer);
bool isTlsRefusal(CURLcode code);
// A break-off worth resuming: the transfer, not the server's answer or the disk, failed.
bool isBreakOff(CURLcode code);

} // namespace modDownload
