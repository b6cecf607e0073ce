// A UDP peer of the relay: IPv4 address and port, both in network order, as
// they come in a sockaddr_in.
#pragma once

#include "KeyedHash.h"

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
    // Address and port in one number, the same for equal endpoints.
    std::uint64_t Packed() const { return static_cast<std::uint64_t>(address) << 16 | port; }
};

// For hash tables whose keys outsiders choose (they pick their addresses).
struct EndpointHasher
{
    std::size_t operator()(const Endpoint& endpoint) const
    {
        const std::uint64_t packed = endpoint.Packed();
        return static_cast<std::size_t>(KeyedHash(TableHashKey(), &packed, sizeof packed));
    }
};

struct KeyedIdHasher
{
    std::size_t operator()(std::uint32_t id) const
    {
        return static_cast<std::size_t>(KeyedHash(TableHashKey(), &id, sizeof id));
    }
};

} // namespace Relay
