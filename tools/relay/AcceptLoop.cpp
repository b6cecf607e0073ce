// One connection at a time, until the relay stops: the control socket and
// the metrics listener are both served this way.
#include "AcceptLoop.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Relay {

void ServeConnectionsUntilStopped(int listeningSocket, int stopEvent, const std::function<void(int)>& serve)
{
    for (;;) {
        pollfd waiting[2] = {{listeningSocket, POLLIN, 0}, {stopEvent, POLLIN, 0}};
        if (::poll(waiting, 2, -1) < 0)
            continue;
        if (waiting[1].revents & POLLIN)
            return;
        const int connection = ::accept4(listeningSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection >= 0) {
            serve(connection);
            ::close(connection);
        }
    }
}

} // namespace Relay
