// The relay's proof that an endpoint asked for traffic: UDP source addresses
// can be forged, so only an answer to a challenge sent to the address shows
// that someone there is listening. The cookie is the challenge's epoch and a
// keyed hash of the endpoint and that epoch, so the relay keeps no state for
// endpoints it has challenged and cannot be filled up by forged senders.
//
// Cookie, 12 bytes: epoch (32-bit little-endian, units of kEpoch on the
// relay's monotonic clock), then SipHash-2-4 (key, address, port, epoch) as
// 8 little-endian bytes. An answer proves its endpoint during the epoch of
// its cookie and the next one.
#pragma once

#include "Clock.h"
#include "Endpoint.h"
#include "KeyedHash.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace Relay {

class RoutabilityCheck
{
public:
    static constexpr std::size_t kCookieSize = 12;
    static constexpr Clock::duration kEpoch = std::chrono::seconds(30);
    using Cookie = std::array<unsigned char, kCookieSize>;

    RoutabilityCheck() : mKey(RandomHashKey()) {}
    explicit RoutabilityCheck(const HashKey& key) : mKey(key) {}

    Cookie CookieFor(const Endpoint& endpoint, Clock::time_point now) const;
    // True for the cookie of this endpoint from this epoch or the one before.
    bool Verify(const Endpoint& endpoint, const unsigned char* cookie, std::size_t length,
                Clock::time_point now) const;

private:
    static std::uint32_t EpochAt(Clock::time_point now);
    std::uint64_t Mac(const Endpoint& endpoint, std::uint32_t epoch) const;
    Cookie CookieOf(const Endpoint& endpoint, std::uint32_t epoch) const;

    HashKey mKey;
};

} // namespace Relay
