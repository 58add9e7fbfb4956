#include "nginxserver.h"

#include "httpserver.h"

#include <arpa/inet.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

bool accepts(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

} // namespace

std::filesystem::path NginxServer::program()
{
    return "/usr/sbin/nginx";
}

NginxServer::NginxServer(const std::filesystem::path &root, const std::string &extraServerLines,
                         const std::optional<Tls> &tls)
    : m_root(root)
    , m_tls(tls)
    , m_extraServerLines(extraServerLines)
{
    if (!std::filesystem::exists(program()))
        throw std::runtime_error("nginx is not installed (Debian package nginx-light)");
    // The port was free a moment ago; another test may take it in between, so try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOn(unusedPort(), extraServerLines))
            return;
    }
    throw std::runtime_error("nginx did not start: " + readFile(m_state / "error.log"));
}

NginxServer::~NginxServer() = default;

bool NginxServer::startOn(int port, const std::string &extraServerLines)
{
    const auto state = m_state.path();
    for (const char *sub : {"body", "proxy", "fastcgi", "uwsgi", "scgi"})
        std::filesystem::create_directories(state / "temp" / sub);
    // master_process off: one process that never changes user, so it reads the test's files
    // whoever runs the tests.
    writeFile(state / "nginx.conf",
              "daemon off;\nmaster_process off;\nworker_processes 1;\n"
              "pid "
                  + (state / "nginx.pid").string()
                  + ";\n"
                    "error_log "
                  + (state / "error.log").string()
                  + " warn;\n"
                    "events { worker_connections 64; }\n"
                    "http {\n"
                    "  log_format requests '$msec $request_method $request_uri $status';\n"
                    "  access_log "
                  + (state / "access.log").string()
                  + " requests;\n"
                    "  client_body_temp_path "
                  + (state / "temp/body").string()
                  + ";\n"
                    "  proxy_temp_path "
                  + (state / "temp/proxy").string()
                  + ";\n"
                    "  fastcgi_temp_path "
                  + (state / "temp/fastcgi").string()
                  + ";\n"
                    "  uwsgi_temp_path "
                  + (state / "temp/uwsgi").string()
                  + ";\n"
                    "  scgi_temp_path "
                  + (state / "temp/scgi").string()
                  + ";\n"
                    "  types { text/html html; text/plain txt; application/javascript js; }\n"
                    "  default_type application/octet-stream;\n"
                    "  sendfile on;\n"
                    "  keepalive_requests 10000;\n"
                    "  server {\n"
                    "    listen 127.0.0.1:"
                  + std::to_string(port) + (m_tls ? " ssl" : "")
                  + ";\n"
                    "    root "
                  + m_root.string() + ";\n"
                  + (m_tls ? "    ssl_certificate " + m_tls->certificate.string() + ";\n    ssl_certificate_key "
                             + m_tls->key.string() + ";\n"
                           : std::string())
                  + extraServerLines
                  + "  }\n"
                    "}\n");
    m_process = std::make_unique<ChildProcess>(
        program(), state, std::map<std::string, std::string>{}, state / "output.txt",
        std::vector<std::string>{"-p", state.string(), "-c", (state / "nginx.conf").string()});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!m_process->running())
            return false;
        if (accepts(port)) {
            m_port = port;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void NginxServer::stop()
{
    m_process.reset();
}

void NginxServer::restart()
{
    stop();
    if (!startOn(m_port, m_extraServerLines))
        throw std::runtime_error("nginx did not start again: " + readFile(m_state / "error.log"));
}

std::string NginxServer::baseUrl() const
{
    return std::string(m_tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(m_port) + "/";
}

std::vector<NginxServer::Request> NginxServer::requests() const
{
    std::vector<Request> found;
    std::istringstream in(readFile(m_state / "access.log"));
    for (std::string line; std::getline(in, line);) {
        Request r;
        std::istringstream fields(line);
        if (fields >> r.time >> r.method >> r.path >> r.status)
            found.push_back(r);
    }
    return found;
}

size_t NginxServer::requestCount(const std::string &path) const
{
    size_t n = 0;
    for (const auto &r : requests())
        n += r.path == path;
    return n;
}

double NginxServer::loggedAt(const std::string &path) const
{
    for (const auto &r : requests()) {
        if (r.path == path)
            return r.time;
    }
    return -1;
}

bool NginxServer::waitForRequest(const std::string &path, size_t count, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (requestCount(path) < count) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}
