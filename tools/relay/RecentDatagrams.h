// The datagrams the relay forwarded lately, by keyed fingerprint, so that a
// datagram that comes round again (relays subscribed to each other, by
// mistake or by a forged subscription) is dropped instead of circling for
// ever. A fixed table: a fingerprint goes into the slot its value picks,
// replacing what was there, so memory and time per datagram stay constant;
// under heavy load an old entry may be overwritten early, which only lets a
// looping datagram round once more.
#pragma once

#include "Clock.h"
#include "KeyedHash.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Relay {

class RecentDatagrams
{
public:
    // A window of zero turns the check off.
    explicit RecentDatagrams(Clock::duration window, std::size_t slots = std::size_t{1} << 16);

    // True when the same bytes were recorded within the window; records them.
    bool SeenRecently(const unsigned char* data, std::size_t length, Clock::time_point now);

private:
    struct Slot
    {
        std::uint64_t fingerprint = 0;
        Clock::time_point at{};
        bool used = false;
    };

    Clock::duration mWindow;
    std::vector<Slot> mSlots;
    HashKey mKey;
};

} // namespace Relay
