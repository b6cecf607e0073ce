// Stands between a radio's trunk and its relay router on 127.0.0.1: the
// radio's datagrams go on to the relay at once, the relay's are held for a
// set time before they reach the radio (a relay far away), and the relayed
// RTP of each sender is counted on its way to the radio.
#pragma once

#include "device_id.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace rvx::test {

class RelayDelayLine
{
public:
    // The relay listens on relayAddress:relayPort; the radio is given
    // 127.0.0.1:Port() as its router. Make it inside the test's namespace.
    RelayDelayLine(const char* relayAddress, unsigned short relayPort, std::chrono::milliseconds delay,
                   device_id_t countedSender)
        : delay_(delay), countedSender_(countedSender)
    {
        relay_.sin_family = AF_INET;
        relay_.sin_port = htons(relayPort);
        inet_pton(AF_INET, relayAddress, &relay_.sin_addr);
        socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        if (socket_ < 0 || ::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &length) != 0)
            return;
        port_ = ntohs(local.sin_port);
        worker_ = std::thread([this] { run(); });
    }
    ~RelayDelayLine()
    {
        stop_ = true;
        if (worker_.joinable())
            worker_.join();
        if (socket_ >= 0)
            ::close(socket_);
    }
    RelayDelayLine(const RelayDelayLine&) = delete;
    RelayDelayLine& operator=(const RelayDelayLine&) = delete;

    unsigned short Port() const { return port_; }
    // Relayed group messages carrying RTP from the counted sender that were
    // handed to the radio.
    int RelayedRtpFromCountedSender() const { return relayedRtp_; }

private:
    using Clock = std::chrono::steady_clock;
    struct Held
    {
        Clock::time_point due;
        std::vector<unsigned char> datagram;
    };

    void run()
    {
        while (!stop_) {
            pollfd readable{socket_, POLLIN, 0};
            ::poll(&readable, 1, 2);
            if (readable.revents & POLLIN)
                receive();
            releaseDue();
        }
    }

    void receive()
    {
        std::vector<unsigned char> datagram(2048);
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(socket_, datagram.data(), datagram.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (n <= 0)
            return;
        datagram.resize(static_cast<std::size_t>(n));
        if (from.sin_addr.s_addr != relay_.sin_addr.s_addr || from.sin_port != relay_.sin_port) {
            radio_ = from;
            ::sendto(socket_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&relay_),
                     sizeof relay_);
            return;
        }
        held_.push_back({Clock::now() + delay_, std::move(datagram)});
    }

    void releaseDue()
    {
        while (!held_.empty() && held_.front().due <= Clock::now()) {
            const std::vector<unsigned char>& datagram = held_.front().datagram;
            relayedRtp_ += isRtpFromCountedSender(datagram) ? 1 : 0;
            ::sendto(socket_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&radio_),
                     sizeof radio_);
            held_.pop_front();
        }
    }

    // A group message (type 2) of the RTP kind (1) has a 12-byte header,
    // so the RTP SSRC sits at bytes 20 to 23.
    bool isRtpFromCountedSender(const std::vector<unsigned char>& d) const
    {
        if (d.size() < 24 || d[0] != 2 || d[1] != 1)
            return false;
        const device_id_t ssrc = (device_id_t(d[20]) << 24) | (device_id_t(d[21]) << 16) |
                                 (device_id_t(d[22]) << 8) | device_id_t(d[23]);
        return ssrc == countedSender_;
    }

    const std::chrono::milliseconds delay_;
    const device_id_t countedSender_;
    sockaddr_in relay_{};
    sockaddr_in radio_{}; // the last address the radio sent from
    int socket_ = -1;
    unsigned short port_ = 0;
    std::deque<Held> held_;
    std::atomic<int> relayedRtp_{0};
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

} // namespace rvx::test
