// One request and reply on the relay's control socket: the request is one
// line, the reply is everything the relay writes before it closes.
#include "ControlClient.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Relay {

namespace {

using Deadline = std::chrono::steady_clock::time_point;

int MillisecondsUntil(Deadline deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

bool WaitFor(int fd, short events, Deadline deadline)
{
    pollfd waiting{fd, events, 0};
    return ::poll(&waiting, 1, MillisecondsUntil(deadline)) > 0;
}

bool Connect(int fd, const std::string& path, Deadline deadline, std::string& why)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        why = "not a control socket path: " + path;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    // A relay whose queue of connections is full says "try again".
    while (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EAGAIN || MillisecondsUntil(deadline) == 0) {
            why = "cannot reach the relay's control socket " + path + ": " + std::strerror(errno);
            return false;
        }
        ::usleep(5000);
    }
    return true;
}

bool Exchange(int fd, const std::string& request, std::string& reply, Deadline deadline)
{
    const std::string line = request + "\n";
    if (!WaitFor(fd, POLLOUT, deadline) ||
        ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size()))
        return false;
    ::shutdown(fd, SHUT_WR);
    std::string text;
    char chunk[4096];
    while (WaitFor(fd, POLLIN, deadline)) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n == 0) {
            reply = text;
            return true;
        }
        if (n < 0)
            return false;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return false;
}

} // namespace

bool SendControlRequest(const std::string& socketPath, const std::string& request, std::string& reply,
                        std::chrono::milliseconds timeout)
{
    const Deadline deadline = std::chrono::steady_clock::now() + timeout;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    std::string why;
    bool answered = Connect(fd, socketPath, deadline, why);
    if (answered) {
        answered = Exchange(fd, request, reply, deadline);
        if (!answered)
            why = "the relay at " + socketPath + " did not answer in time";
    }
    ::close(fd);
    if (!answered)
        reply = why;
    return answered;
}

} // namespace Relay
