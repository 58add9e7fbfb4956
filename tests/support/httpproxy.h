#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

// A real HTTP proxy on 127.0.0.1 for plain http: it forwards each GET it is sent (in absolute
// form) to its server and records the request line's target. Given a user, it answers 407 to a
// request without that user's Basic log-in.
class TestHttpProxy
{
public:
    explicit TestHttpProxy(const std::string &user = {}, const std::string &password = {});
    ~TestHttpProxy();
    TestHttpProxy(const TestHttpProxy &) = delete;
    TestHttpProxy &operator=(const TestHttpProxy &) = delete;

    // "http://127.0.0.1:<port>"
    std::string address() const;
    // The targets forwarded, in order ("http://127.0.0.1:<port>/update.txt").
    std::vector<std::string> forwarded() const;
    // Requests answered 407.
    size_t loginsAsked() const;

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_forwarded;
    size_t m_loginsAsked = 0;
};
