// A UDP peer of the relay: IPv4 address and port, both in network order, as
// they come in a sockaddr_in.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>

namespace Relay {

struct Endpoint
{
    std::uint32_t address = 0;
    std::uint16_t port = 0;

    static Endpoint From(const sockaddr_in& socketAddress)
    {
        return {socketAddress.sin_addr.s_addr, socketAddress.sin_port};
    }
    sockaddr_in ToSocketAddress() const
    {
        sockaddr_in socketAddress{};
        socketAddress.sin_family = AF_INET;
        socketAddress.sin_addr.s_addr = address;
        socketAddress.sin_port = port;
        return socketAddress;
    }
    // "a.b.c.d:port"
    std::string ToString() const;

    bool operator==(const Endpoint& other) const { return address == other.address && port == other.port; }
    bool operator!=(const Endpoint& other) const { return !(*this == other); }
    bool operator<(const Endpoint& other) const
    {
        return address != other.address ? address < other.address : port < other.port;
    }
};

} // namespace Relay
