// A UDP socket on a loopback address for tests: plays a relay router, a
// subscriber or a peer, sends datagrams and waits briefly for them.
#pragma once

#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <vector>

namespace rvx::test {

using Bytes = std::vector<std::uint8_t>;

class UdpEndpoint
{
public:
    // Binds to the address (a 127.0.0.x address) and a free port.
    explicit UdpEndpoint(const std::string& address = "127.0.0.1");
    ~UdpEndpoint();
    UdpEndpoint(const UdpEndpoint&) = delete;
    UdpEndpoint& operator=(const UdpEndpoint&) = delete;

    unsigned short Port() const { return port_; }
    const std::string& Address() const { return address_; }
    int Descriptor() const { return socket_; }

    bool SendTo(unsigned short port, const Bytes& datagram, const std::string& address = "127.0.0.1") const;
    // The next datagram, or none within the time-out. from, when given,
    // receives the sender's port.
    std::optional<Bytes> Receive(std::chrono::milliseconds timeout = std::chrono::milliseconds(1000),
                                 unsigned short* fromPort = nullptr) const;
    // Every datagram that arrives until none has come for quiet.
    std::vector<Bytes> ReceiveAll(std::chrono::milliseconds quiet = std::chrono::milliseconds(100)) const;

private:
    int socket_ = -1;
    std::string address_;
    unsigned short port_ = 0;
};

// Little helpers for building datagrams in tests.
Bytes HexBytes(const std::string& hex);
std::string ToHex(const Bytes& bytes);

} // namespace rvx::test
