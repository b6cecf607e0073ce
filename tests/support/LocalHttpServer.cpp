// An HTTP server and a silent listener on 127.0.0.1 for tests.
#include "LocalHttpServer.h"

#include <chrono>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rvx::test {

LocalHttpServer::LocalHttpServer() = default;

LocalHttpServer::~LocalHttpServer()
{
    server_.stop();
    if (thread_.joinable())
        thread_.join();
}

bool LocalHttpServer::Start()
{
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ < 0)
        return false;
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    for (int waited = 0; !server_.is_running() && waited < 200; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
}

std::string LocalHttpServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

SilentTcpListener::SilentTcpListener()
{
    socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(socket_, 8) == 0 &&
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port_ = ntohs(address.sin_port);
}

SilentTcpListener::~SilentTcpListener()
{
    if (socket_ >= 0)
        ::close(socket_);
}

std::string SilentTcpListener::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

} // namespace rvx::test
