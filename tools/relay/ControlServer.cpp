// The control thread's loop.
#include "ControlServer.h"

#include "AcceptLoop.h"

#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Relay {

namespace {

constexpr std::chrono::milliseconds kClientTime{1000};

} // namespace

ControlServer::ControlServer(int listeningSocket, int stopEvent, Handler handler)
    : mSocket(listeningSocket), mStopEvent(stopEvent), mHandler(std::move(handler))
{
}

ControlServer::~ControlServer()
{
    ::close(mSocket);
}

void ControlServer::Run()
{
    ServeConnectionsUntilStopped(mSocket, mStopEvent, [this](int connection) { Serve(connection); });
}

void ControlServer::Serve(int connection)
{
    std::string request;
    if (!ReadRequest(connection, request))
        return;
    const std::string reply = mHandler(request);
    // Not cut short by a stop: the reply to "stop" itself must go out.
    const auto deadline = std::chrono::steady_clock::now() + kClientTime;
    for (std::size_t sent = 0; sent < reply.size();) {
        pollfd waiting{connection, POLLOUT, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || ::poll(&waiting, 1, static_cast<int>(left.count())) <= 0)
            return;
        const ssize_t n = ::send(connection, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

// One line, or everything until the client stops writing.
bool ControlServer::ReadRequest(int connection, std::string& request)
{
    const auto deadline = std::chrono::steady_clock::now() + kClientTime;
    char chunk[kMaxRequest];
    while (request.size() < kMaxRequest) {
        pollfd waiting[2] = {{connection, POLLIN, 0}, {mStopEvent, POLLIN, 0}};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || ::poll(waiting, 2, static_cast<int>(left.count())) <= 0 || (waiting[1].revents & POLLIN))
            return false;
        const ssize_t n = ::recv(connection, chunk, kMaxRequest - request.size(), 0);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        request.append(chunk, static_cast<std::size_t>(n));
        const auto end = request.find('\n');
        if (end != std::string::npos) {
            request.resize(end);
            return true;
        }
    }
    return !request.empty() && request.size() < kMaxRequest;
}

} // namespace Relay
