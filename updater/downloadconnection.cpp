#include "downloadconnection.h"

#include <algorithm>
#include <sys/socket.h>

namespace modDownload {

namespace {

void setText(CURL *h, CURLoption option, const std::string &value)
{
    if (!value.empty())
        curl_easy_setopt(h, option, value.c_str());
}

// The socket's receive buffer while a rate is set: libcurl reads what the kernel holds in one go,
// so a buffer of megabytes would arrive as a burst far above the rate.
int smallReceiveBuffer(void *clientData, curl_socket_t socket, curlsocktype purpose) noexcept
{
    if (purpose == CURLSOCKTYPE_IPCXN) {
        const int bytes = *static_cast<const int *>(clientData);
        (void)setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }
    return CURL_SOCKOPT_OK;
}

} // namespace

void setConnection(CURL *h, const Connection &connection, int &receiveBuffer)
{
    if (connection.maxKiBPerSecond > 0) {
        const curl_off_t bytesPerSecond = static_cast<curl_off_t>(connection.maxKiBPerSecond) * 1024;
        curl_easy_setopt(h, CURLOPT_MAX_RECV_SPEED_LARGE, bytesPerSecond);
        // A tenth of a second's worth at a time keeps the rate close to the one set.
        receiveBuffer = static_cast<int>(std::clamp<curl_off_t>(bytesPerSecond / 10, 4096, ReceiveSize));
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, static_cast<long>(receiveBuffer));
        curl_easy_setopt(h, CURLOPT_SOCKOPTFUNCTION, smallReceiveBuffer);
        curl_easy_setopt(h, CURLOPT_SOCKOPTDATA, &receiveBuffer);
    }
    if (!connection.proxy.empty()) {
        curl_easy_setopt(h, CURLOPT_PROXY, connection.proxy.c_str());
        // The proxy was set for this program: the session's no_proxy does not take it away.
        curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    }
    if (!connection.proxyUser.empty()) {
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, connection.proxyUser.c_str());
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, connection.proxyPassword.c_str());
        // Whatever the proxy offers: Basic, Digest or NTLM.
        curl_easy_setopt(h, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    }
    if (!connection.caFile.empty()) {
        curl_easy_setopt(h, CURLOPT_CAINFO, connection.caFile.c_str());
        // Instead of the system's: with a private authority, no public one may vouch for the
        // update server.
        curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
    }
    setText(h, CURLOPT_PINNEDPUBLICKEY, connection.pinnedPublicKey);
    setText(h, CURLOPT_SSLCERT, connection.clientCertificate);
    setText(h, CURLOPT_SSLKEY, connection.clientKey);
}

bool isTlsRefusal(CURLcode code)
{
    switch (code) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
        return true;
    default:
        return false;
    }
}

bool isBreakOff(CURLcode code)
{
    return code == CURLE_PARTIAL_FILE || code == CURLE_RECV_ERROR || code == CURLE_OPERATION_TIMEDOUT
        || code == CURLE_GOT_NOTHING || code == CURLE_HTTP2 || code == CURLE_HTTP2_STREAM;
}

} // namespace modDownload
