#pragma once

#include "process.h"
#include "tempfolder.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Debian's nginx serving a folder on a free port of 127.0.0.1, with its own configuration, logs
// and temporary folders in a temporary folder: no system service and no root-owned path. It runs
// as one process in the foreground and ends with the object.
class NginxServer
{
public:
    // Certificate and key (PEM) of a server that speaks HTTPS only.
    struct Tls
    {
        std::filesystem::path certificate;
        std::filesystem::path key;
    };
    // extraServerLines go into the server block (a location of the caller's, say).
    explicit NginxServer(const std::filesystem::path &root, const std::string &extraServerLines = {},
                         const std::optional<Tls> &tls = {});
    ~NginxServer();

    // Stops serving (connections are refused), and serves again on the same port.
    void stop();
    void restart();

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>/", or https
    std::string baseUrl() const;

    struct Request
    {
        double time = 0; // seconds since the epoch, to the millisecond
        std::string method;
        std::string path; // with its query, as requested
        int status = 0;
    };
    // The requests served so far, from the access log.
    std::vector<Request> requests() const;
    size_t requestCount(const std::string &path) const;
    bool waitForRequest(const std::string &path, size_t count, std::chrono::milliseconds timeout) const;
    // When the server logged the first request for path, or -1.
    double loggedAt(const std::string &path) const;

    static std::filesystem::path program();

private:
    bool startOn(int port, const std::string &extraServerLines);

    TempFolder m_state;
    std::filesystem::path m_root;
    std::optional<Tls> m_tls;
    std::string m_extraServerLines;
    std::unique_ptr<ChildProcess> m_process;
    int m_port = 0;
};
