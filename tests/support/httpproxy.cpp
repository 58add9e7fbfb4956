#include "httpproxy.h"

#include <httplib.h>

#include <chrono>
#include <stdexcept>

TestHttpProxy::TestHttpProxy(const std::string &user, const std::string &password)
    : m_server(std::make_unique<httplib::Server>())
{
    const std::string login =
        user.empty() ? std::string() : httplib::make_basic_authentication_header(user, password, true).second;
    m_server->Get(".*", [this, login](const httplib::Request &req, httplib::Response &res) {
        if (!login.empty() && req.get_header_value("Proxy-Authorization") != login) {
            std::lock_guard lock(m_mutex);
            ++m_loginsAsked;
            res.status = 407;
            res.set_header("Proxy-Authenticate", "Basic realm=\"test\"");
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            m_forwarded.push_back(req.target);
        }
        // "http://host:port/path": the server, then what is asked of it.
        const size_t hostStart = req.target.find("://");
        const size_t pathStart = hostStart == std::string::npos ? hostStart : req.target.find('/', hostStart + 3);
        if (pathStart == std::string::npos) {
            res.status = 400;
            return;
        }
        httplib::Client server(req.target.substr(0, pathStart));
        httplib::Headers headers;
        for (const char *name : {"User-Agent", "Range", "If-Range"}) {
            if (req.has_header(name))
                headers.emplace(name, req.get_header_value(name));
        }
        const auto answer = server.Get(req.target.substr(pathStart), headers);
        if (!answer) {
            res.status = 502;
            return;
        }
        res.status = answer->status;
        for (const char *name : {"ETag", "Last-Modified"}) {
            if (answer->has_header(name))
                res.set_header(name, answer->get_header_value(name));
        }
        res.set_content(answer->body, answer->get_header_value("Content-Type"));
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("cannot bind a port on 127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!m_server->is_running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            throw std::runtime_error("the test proxy does not start");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TestHttpProxy::~TestHttpProxy()
{
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::string TestHttpProxy::address() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

std::vector<std::string> TestHttpProxy::forwarded() const
{
    std::lock_guard lock(m_mutex);
    return m_forwarded;
}

size_t TestHttpProxy::loginsAsked() const
{
    std::lock_guard lock(m_mutex);
    return m_loginsAsked;
}
