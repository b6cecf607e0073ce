// An HTTP server for tests, listening on 127.0.0.1 at a free port and
// serving from its own thread until it goes away.
#pragma once

#include <httplib.h>

#include <string>
#include <thread>

namespace rvx::test {

class LocalHttpServer
{
public:
    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    // Add handlers before Start().
    httplib::Server& Server() { return server_; }
    // Starts serving; false when no port could be bound.
    bool Start();
    int Port() const { return port_; }
    // "http://127.0.0.1:PORT" followed by path.
    std::string Url(const std::string& path = std::string()) const;

private:
    httplib::Server server_;
    std::thread thread_;
    int port_ = -1;
};

// A listening socket on 127.0.0.1 that never accepts: requests to it
// connect and then wait for ever.
class SilentTcpListener
{
public:
    SilentTcpListener();
    ~SilentTcpListener();
    SilentTcpListener(const SilentTcpListener&) = delete;
    SilentTcpListener& operator=(const SilentTcpListener&) = delete;

    int Port() const { return port_; }
    std::string Url(const std::string& path = std::string()) const;

private:
    int socket_ = -1;
    int port_ = -1;
};

} // namespace rvx::test
