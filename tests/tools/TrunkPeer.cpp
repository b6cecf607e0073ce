// A second radio for end-to-end tests: a process that uses libhalvane2.so to
// listen to one group through the given relays and reports, one line each,
// every datagram it receives and every settings-changed notification.
//
// trunk_peer DEVICE_ID GROUP PORT RELAY_PORT... ; runs until its standard
// input closes (at most 20 s).
#include "halvane2.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

void OnSettingsChanged()
{
    std::printf("NOTIFIED\n");
    std::fflush(stdout);
}

int OpenListener(unsigned short port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

bool InputClosed()
{
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) > 0; // readable means end of input: the test never writes
}

void Report(const unsigned char* data, int length)
{
    std::string hex;
    char piece[4];
    for (int i = 0; i < length; ++i) {
        std::snprintf(piece, sizeof piece, "%02X", data[i]);
        hex += piece;
    }
    std::printf("RECEIVED %s\n", hex.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: trunk_peer DEVICE_ID GROUP PORT RELAY_PORT...\n");
        return 2;
    }
    hv_init_interface(static_cast<unsigned int>(std::strtoul(argv[1], nullptr, 0)), 0, "lo", &OnSettingsChanged);
    for (int i = 4; i < argc; ++i)
        hv_init_routing("127.0.0.1", static_cast<unsigned int>(std::atoi(argv[i])));
    const int fd = OpenListener(static_cast<unsigned short>(std::atoi(argv[3])));
    hv_socket(fd, AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    hv_group_join(fd, argv[2]);

    unsigned char buffer[2000];
    hv_recvfrom_rtp(fd, buffer, sizeof buffer, 0, nullptr, nullptr); // subscribes at the relays
    std::printf("READY\n");
    std::fflush(stdout);
    const unsigned int end = get_current_time() + 20000;
    while (!InputClosed() && static_cast<int>(end - get_current_time()) > 0) {
        const int n = hv_recvfrom_rtp(fd, buffer, sizeof buffer, 0, nullptr, nullptr);
        if (n > 0)
            Report(buffer, n);
        else
            polled_timer_t::sleep(2);
    }
    return 0;
}
