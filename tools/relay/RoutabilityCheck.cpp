// Making and checking the relay's cookies.
#include "RoutabilityCheck.h"

#include "Packet/ByteOrder.h"

#include <cstring>
#include <sodium.h>

namespace Relay {

using Halvane::Packet::ReadLe32;
using Halvane::Packet::WriteLe32;

std::uint32_t RoutabilityCheck::EpochAt(Clock::time_point now)
{
    return static_cast<std::uint32_t>(now.time_since_epoch() / kEpoch);
}

std::uint64_t RoutabilityCheck::Mac(const Endpoint& endpoint, std::uint32_t epoch) const
{
    unsigned char input[10];
    std::memcpy(input, &endpoint.address, 4); // network order, as on the wire
    std::memcpy(input + 4, &endpoint.port, 2);
    WriteLe32(input + 6, epoch);
    return KeyedHash(mKey, input, sizeof input);
}

RoutabilityCheck::Cookie RoutabilityCheck::CookieFor(const Endpoint& endpoint, Clock::time_point now) const
{
    return CookieOf(endpoint, EpochAt(now));
}

RoutabilityCheck::Cookie RoutabilityCheck::CookieOf(const Endpoint& endpoint, std::uint32_t epoch) const
{
    Cookie cookie{};
    WriteLe32(cookie.data(), epoch);
    const std::uint64_t mac = Mac(endpoint, epoch);
    for (int i = 0; i < 8; ++i)
        cookie[4 + i] = static_cast<unsigned char>(mac >> (8 * i));
    return cookie;
}

bool RoutabilityCheck::Verify(const Endpoint& endpoint, const unsigned char* cookie, std::size_t length,
                              Clock::time_point now) const
{
    if (length != kCookieSize)
        return false;
    const std::uint32_t epoch = ReadLe32(cookie);
    const std::uint32_t current = EpochAt(now);
    if (epoch != current && epoch + 1 != current)
        return false;
    const Cookie expected = CookieOf(endpoint, epoch);
    // Constant time, so that timing tells nothing about a near miss.
    return sodium_memcmp(expected.data(), cookie, kCookieSize) == 0;
}

} // namespace Relay
