// rvx-manager's HTTP listeners. One I/O thread reads and writes every
// connection without blocking (epoll); complete requests go to a small pool
// of worker threads, so that a slow handler (gpg) never holds up the I/O of
// other connections. Built to face the Internet: a deadline for each
// request from its accept, limits on request line, headers and body (an
// oversized body is refused as soon as its length is known, never read
// whole), caps on connections in all and per client address, a bounded
// queue of requests waiting for a worker, and "Connection: close" after
// every response.
#pragma once

#include "HttpMessage.h"
#include "HttpRequestParser.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Manager {

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

struct ListenerSettings
{
    std::string address = "127.0.0.1";  // IPv4 or IPv6 numeric address
    int port = 0;                       // 0: any free port
    HttpLimits limits;
    // From accept to the last byte of the request; a client that has not
    // sent its whole request by then is dropped.
    std::chrono::milliseconds requestDeadline{10000};
    // For sending the response and for the lingering close after it.
    std::chrono::milliseconds responseDeadline{10000};
    std::size_t maxConnections = 512;
    std::size_t maxConnectionsPerClient = 32;
};

// "ADDRESS:PORT" ("[v6]:PORT" for IPv6) into its parts; false when malformed.
bool parseListenAddress(const std::string& text, std::string& address, int& port);

// The response as bytes on the wire, with "Connection: close".
std::string serializeResponse(const HttpResponse& response, bool withBody = true);

class HttpServer
{
public:
    HttpServer(std::size_t workerThreads = 4, std::size_t maxQueuedRequests = 1024);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds a listener before start(); the port it got. Throws
    // std::runtime_error with the reason when it cannot listen.
    int addListener(const ListenerSettings& settings, HttpHandler handler);
    void start();
    // Closes the listeners and every connection; waits for the threads.
    void stop();

    // Connections open right now, all listeners together (for tests).
    std::size_t openConnections() const { return openConnections_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::atomic<std::size_t> openConnections_{0};
};

} // namespace Manager
