// One request and reply on the relay's control port.
#include "ControlClient.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Relay {

bool SendControlRequest(unsigned short controlPort, const std::string& request, std::string& reply,
                        std::chrono::milliseconds timeout)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in relay{};
    relay.sin_family = AF_INET;
    relay.sin_port = htons(controlPort);
    relay.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool answered = false;
    if (::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&relay), sizeof relay) >= 0) {
        pollfd waiting{fd, POLLIN, 0};
        char text[4096];
        if (::poll(&waiting, 1, static_cast<int>(timeout.count())) > 0) {
            const ssize_t length = ::recv(fd, text, sizeof text, 0);
            answered = length >= 0;
            if (answered)
                reply.assign(text, static_cast<std::size_t>(length));
        }
    }
    ::close(fd);
    return answered;
}

} // namespace Relay
