#include "httpserver.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

int unusedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(fd);
    return port;
}

TestHttpServer::TestHttpServer(int port)
    : m_server(std::make_unique<httplib::Server>())
    , m_stopping(std::make_shared<std::atomic<bool>>(false))
{
    m_server->set_keep_alive_max_count(1);
    m_server->set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &) {
        record({req.method, req.path, req.get_header_value("User-Agent"), req.target, req.get_header_value("Range"),
                req.get_header_value("If-Range")});
        return httplib::Server::HandlerResponse::Unhandled;
    });
    m_server->set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.body.empty())
            res.set_content("<html><body>error " + std::to_string(res.status) + "</body></html>", "text/html");
    });
    if (port == 0)
        m_port = m_server->bind_to_any_port("127.0.0.1");
    else
        m_port = m_server->bind_to_port("127.0.0.1", port) ? port : -1;
    if (m_port <= 0)
        throw std::runtime_error("cannot bind a port on 127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // The socket listens from bind on, so requests made before the thread runs just queue. But a
    // stop() that comes before the thread marks the server running does nothing, and the join
    // would then wait for ever: so wait for that mark.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!m_server->is_running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            throw std::runtime_error("the test server does not start");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TestHttpServer::~TestHttpServer()
{
    stop();
}

void TestHttpServer::stop()
{
    *m_stopping = true;
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::string TestHttpServer::baseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

void TestHttpServer::record(Request request)
{
    std::lock_guard lock(m_mutex);
    m_requests.push_back(std::move(request));
}

void TestHttpServer::serve(const std::string &path, const std::string &body, int status, const std::string &contentType,
                           const Headers &headers)
{
    std::lock_guard lock(m_mutex);
    const bool known = m_answers.count(path) > 0;
    m_answers[path] = {body, status, contentType, headers};
    if (known)
        return;
    m_server->Get(path, [this, path](const httplib::Request &, httplib::Response &res) {
        std::lock_guard answering(m_mutex);
        const Answer &answer = m_answers.at(path);
        res.status = answer.status;
        res.set_content(answer.body, answer.contentType);
        for (const auto &[name, value] : answer.headers)
            res.set_header(name, value);
    });
}

void TestHttpServer::serveNoAnswer(const std::string &path)
{
    auto stopping = m_stopping;
    m_server->Get(path, [=](const httplib::Request &, httplib::Response &) {
        while (!*stopping)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
}

void TestHttpServer::serveBrokenOff(const std::string &path, const std::string &body, size_t sentBytes)
{
    m_server->Get(path, [=](const httplib::Request &, httplib::Response &res) {
        res.set_content_provider(body.size(), "application/octet-stream",
                                 [=](size_t offset, size_t, httplib::DataSink &sink) {
                                     if (offset >= sentBytes)
                                         return false; // drops the connection mid-body
                                     sink.write(body.data() + offset, sentBytes - offset);
                                     return true;
                                 });
    });
}

void TestHttpServer::serveRanges(const std::string &path, const std::string &body, const std::string &etag,
                                 bool rangesIgnored, size_t breakOffAt)
{
    std::lock_guard lock(m_mutex);
    const bool known = m_ranged.count(path) > 0;
    m_ranged[path] = {std::make_shared<const std::string>(body), etag, rangesIgnored, breakOffAt};
    if (known)
        return;
    m_server->Get(path, [this, path](const httplib::Request &req, httplib::Response &res) {
        std::unique_lock answering(m_mutex);
        const RangedAnswer answer = m_ranged.at(path);
        answering.unlock();
        const std::string ifRange = req.get_header_value("If-Range");
        res.set_header("ETag", answer.etag);
        if (answer.rangesIgnored || answer.breakOffAt < answer.body->size()
            || (!ifRange.empty() && ifRange != answer.etag)) {
            // The library cuts any answer to the ranges asked for: forgetting them sends it whole.
            const_cast<httplib::Request &>(req).ranges.clear();
            res.status = 200;
        }
        if (answer.breakOffAt >= answer.body->size()) {
            res.set_content(*answer.body, "application/octet-stream");
            return;
        }
        res.set_content_provider(answer.body->size(), "application/octet-stream",
                                 [answer](size_t offset, size_t length, httplib::DataSink &sink) {
                                     if (offset >= answer.breakOffAt)
                                         return false; // drops the connection mid-body
                                     sink.write(answer.body->data() + offset,
                                                std::min(length, answer.breakOffAt - offset));
                                     return true;
                                 });
    });
}

void TestHttpServer::serveRedirect(const std::string &path, const std::string &location, int status)
{
    m_server->Get(path, [=](const httplib::Request &, httplib::Response &res) { res.set_redirect(location, status); });
}

void TestHttpServer::serveSlowly(const std::string &path, const std::string &body, size_t chunkSize,
                                 std::chrono::milliseconds pause)
{
    auto stopping = m_stopping;
    m_server->Get(path, [=](const httplib::Request &, httplib::Response &res) {
        res.set_content_provider(body.size(), "application/octet-stream",
                                 [=](size_t offset, size_t, httplib::DataSink &sink) {
                                     for (auto waited = std::chrono::milliseconds(0); waited < pause;
                                          waited += std::chrono::milliseconds(10)) {
                                         if (*stopping)
                                             return false;
                                         std::this_thread::sleep_for(std::chrono::milliseconds(10));
                                     }
                                     const size_t n = std::min(chunkSize, body.size() - offset);
                                     sink.write(body.data() + offset, n);
                                     return true;
                                 });
    });
}

std::vector<TestHttpServer::Request> TestHttpServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

size_t TestHttpServer::requestCount(const std::string &path) const
{
    std::lock_guard lock(m_mutex);
    size_t n = 0;
    for (const auto &r : m_requests)
        n += r.path == path;
    return n;
}

bool TestHttpServer::waitForRequest(const std::string &path, std::chrono::milliseconds timeout, size_t count) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (requestCount(path) < count) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

RefusingPort::RefusingPort()
{
    // Bound but never listening: the port is ours, and a connection to it is refused.
    m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_socket < 0 || ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("cannot hold a port on 127.0.0.1");
    m_port = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort()
{
    if (m_socket >= 0)
        ::close(m_socket);
}

std::string RefusingPort::baseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}
