// What the relay has seen and done, for the counters it prints.
#pragma once

#include <cstdint>
#include <string>

namespace Relay {

struct RelayCounters
{
    std::uint64_t received = 0;          // datagrams read
    std::uint64_t groupMessages = 0;     // type 2
    std::uint64_t forwarded = 0;         // copies of group messages sent
    std::uint64_t subscriptions = 0;     // type 1, join or leave
    std::uint64_t subscriptionLists = 0; // type 5
    std::uint64_t malformed = 0;         // too short, too long or inconsistent
    std::uint64_t unknownType = 0;       // no such packet type
    std::uint64_t unexpected = 0;        // valid, but nothing a unit sends (type 4)
    std::uint64_t notificationsSent = 0; // settings-changed notices sent
    std::uint64_t sendErrors = 0;        // sends the system refused
    std::uint64_t refusedSubscribers = 0; // new subscribers over the limit
    std::uint64_t forgottenSubscribers = 0; // silent for too long

    // One "name value" pair per line, plus the current subscriber count.
    std::string Format(std::size_t subscribers) const;
};

} // namespace Relay
