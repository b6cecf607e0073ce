// The metrics endpoint's loop and its one page.
#include "MetricsServer.h"

#include "AcceptLoop.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Relay {

namespace {

constexpr std::chrono::milliseconds kClientTime{2000};

class Deadline
{
public:
    Deadline() : mEnd(std::chrono::steady_clock::now() + kClientTime) {}
    // Waits for the events or stop; false when time ran out or stop came.
    bool Wait(int fd, short events, int stopEvent) const
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(mEnd - std::chrono::steady_clock::now());
        pollfd waiting[2] = {{fd, events, 0}, {stopEvent, POLLIN, 0}};
        return left.count() > 0 && ::poll(waiting, 2, static_cast<int>(left.count())) > 0 &&
               !(waiting[1].revents & POLLIN) && (waiting[0].revents & (events | POLLHUP | POLLERR));
    }

private:
    std::chrono::steady_clock::time_point mEnd;
};

std::string Response(const std::string& status, const std::string& type, const std::string& body)
{
    return "HTTP/1.0 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

bool ParseAddressAndPort(const std::string& text, std::string& address, unsigned short& port)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos)
        return false;
    address = text.substr(0, colon);
    const std::string digits = text.substr(colon + 1);
    in_addr parsed{};
    char* end = nullptr;
    const unsigned long number = std::strtoul(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || number > 65535 || inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        return false;
    port = static_cast<unsigned short>(number);
    return true;
}

int MetricsServer::Listen(const std::string& addressAndPort, std::string& error)
{
    std::string address;
    unsigned short port = 0;
    if (!ParseAddressAndPort(addressAndPort, address, port)) {
        error = "--metrics: not an IPv4 ADDRESS:PORT: " + addressAndPort;
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 || ::listen(fd, 16) != 0) {
        error = "cannot serve metrics on " + addressAndPort + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

MetricsServer::MetricsServer(int listeningSocket, int stopEvent, Render render)
    : mSocket(listeningSocket), mStopEvent(stopEvent), mRender(std::move(render))
{
}

MetricsServer::~MetricsServer()
{
    ::close(mSocket);
}

void MetricsServer::Run()
{
    ServeConnectionsUntilStopped(mSocket, mStopEvent, [this](int connection) { Serve(connection); });
}

void MetricsServer::Serve(int connection)
{
    const Deadline deadline;
    std::string request;
    char chunk[2048];
    while (request.find("\r\n\r\n") == std::string::npos && request.find("\n\n") == std::string::npos) {
        if (request.size() >= kMaxRequest || !deadline.Wait(connection, POLLIN, mStopEvent))
            return;
        const ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
        if (n <= 0)
            return;
        request.append(chunk, static_cast<std::size_t>(n));
    }
    const std::string line = request.substr(0, request.find_first_of("\r\n"));
    std::string reply;
    if (line.rfind("GET /metrics ", 0) == 0 || line == "GET /metrics")
        reply = Response("200 OK", "text/plain; version=0.0.4; charset=utf-8", mRender());
    else if (line.rfind("GET ", 0) == 0)
        reply = Response("404 Not Found", "text/plain", "the relay's metrics are at /metrics\n");
    else
        reply = Response("405 Method Not Allowed", "text/plain", "only GET\n");
    for (std::size_t sent = 0; sent < reply.size();) {
        if (!deadline.Wait(connection, POLLOUT, mStopEvent))
            return;
        const ssize_t n = ::send(connection, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

} // namespace Relay
