// Loopback UDP endpoint for tests.
#include "UdpEndpoint.h"

#include <arpa/inet.h>
#include <cstdio>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace rvx::test {

namespace {

sockaddr_in Ipv4Address(const std::string& address, unsigned short port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &result.sin_addr) != 1)
        throw std::invalid_argument("not an IPv4 address: " + address);
    return result;
}

} // namespace

UdpEndpoint::UdpEndpoint(const std::string& address) : address_(address)
{
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in local = Ipv4Address(address, 0);
    if (socket_ < 0 || bind(socket_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        throw std::runtime_error("cannot bind a UDP socket to " + address);
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.sin_port);
}

UdpEndpoint::~UdpEndpoint()
{
    if (socket_ >= 0)
        close(socket_);
}

bool UdpEndpoint::SendTo(unsigned short port, const Bytes& datagram, const std::string& address) const
{
    const sockaddr_in to = Ipv4Address(address, port);
    return sendto(socket_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(datagram.size());
}

std::optional<Bytes> UdpEndpoint::Receive(std::chrono::milliseconds timeout, unsigned short* fromPort) const
{
    pollfd waiting{socket_, POLLIN, 0};
    if (poll(&waiting, 1, static_cast<int>(timeout.count())) <= 0)
        return std::nullopt;
    Bytes datagram(65536);
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t received =
        recvfrom(socket_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (received < 0)
        return std::nullopt;
    datagram.resize(static_cast<std::size_t>(received));
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    return datagram;
}

std::vector<Bytes> UdpEndpoint::ReceiveAll(std::chrono::milliseconds quiet) const
{
    std::vector<Bytes> all;
    while (auto datagram = Receive(quiet))
        all.push_back(std::move(*datagram));
    return all;
}

Bytes HexBytes(const std::string& hex)
{
    Bytes bytes;
    unsigned int value = 0;
    int digits = 0;
    for (char c : hex) {
        if (c == ' ')
            continue;
        value = value * 16 + static_cast<unsigned int>(std::stoi(std::string(1, c), nullptr, 16));
        if (++digits == 2) {
            bytes.push_back(static_cast<std::uint8_t>(value));
            value = 0;
            digits = 0;
        }
    }
    return bytes;
}

std::string ToHex(const Bytes& bytes)
{
    std::string text;
    char piece[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(piece, sizeof piece, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += piece;
    }
    return text;
}

} // namespace rvx::test
