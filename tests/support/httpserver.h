#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

// A port of 127.0.0.1 on which nothing listens (it was free a moment ago).
int unusedPort();

// A real HTTP server on 127.0.0.1 and a free port, running in its own thread for the life of the
// object. Paths answer what the test registered; anything else gets 404. Every request is
// recorded.
class TestHttpServer
{
public:
    struct Request
    {
        std::string method;
        std::string path;
        std::string userAgent;
        std::string target; // as in the request line: absolute through a proxy
        std::string range;
        std::string ifRange;
    };

    // On a free port, or on the given one: a server that went down comes back where it was.
    explicit TestHttpServer(int port = 0);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer &) = delete;
    TestHttpServer &operator=(const TestHttpServer &) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>/"
    std::string baseUrl() const;

    using Headers = std::vector<std::pair<std::string, std::string>>;
    // The latest answer given for a path is the one served.
    void serve(const std::string &path, const std::string &body, int status = 200,
               const std::string &contentType = "application/octet-stream", const Headers &headers = {});
    // Takes the request and never answers (until the server stops).
    void serveNoAnswer(const std::string &path);
    // Announces announcedLength bytes, sends only the first sentBytes of body, then drops the
    // connection.
    void serveBrokenOff(const std::string &path, const std::string &body, size_t sentBytes);
    // Serves body with the ETag etag, answering a Range with 206 when If-Range names that ETag
    // (or is absent), else whole with 200; with rangesIgnored always whole. With breakOffAt, the
    // whole body is announced and the connection dropped after that many bytes. The latest call
    // for a path is the one served.
    void serveRanges(const std::string &path, const std::string &body, const std::string &etag,
                     bool rangesIgnored = false, size_t breakOffAt = SIZE_MAX);
    // Answers with a redirect to location (absolute, or a path on this server).
    void serveRedirect(const std::string &path, const std::string &location, int status = 302);
    // Sends body in chunks of chunkSize with a pause before each.
    void serveSlowly(const std::string &path, const std::string &body, size_t chunkSize,
                     std::chrono::milliseconds pause);

    std::vector<Request> requests() const;
    size_t requestCount(const std::string &path) const;
    // Waits (without busy spinning) until the path has been requested at least `count` times.
    bool waitForRequest(const std::string &path, std::chrono::milliseconds timeout, size_t count = 1) const;

    // Stops the slow bodies in progress, so that the destructor does not wait for them.
    void stop();

private:
    void record(Request request);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
    struct Answer
    {
        std::string body;
        int status;
        std::string contentType;
        Headers headers;
    };
    std::map<std::string, Answer> m_answers;
    struct RangedAnswer
    {
        std::shared_ptr<const std::string> body;
        std::string etag;
        bool rangesIgnored;
        size_t breakOffAt;
    };
    std::map<std::string, RangedAnswer> m_ranged;
    // Read by the server's threads while stop() sets it.
    std::shared_ptr<std::atomic<bool>> m_stopping;
};

// A port on 127.0.0.1 where nothing listens, held for the life of the object so that no other
// server (of a test running in parallel) can take it: connecting is refused at once.
class RefusingPort
{
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort &) = delete;
    RefusingPort &operator=(const RefusingPort &) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:<port>/"
    std::string baseUrl() const;

private:
    int m_socket = -1;
    int m_port = 0;
};
