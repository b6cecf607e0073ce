// The relay's subscribers: who listens to which group, with the device id
// they announce and when they were last heard from.
#pragma once

#include "Endpoint.h"

#include <chrono>
#include <cstddef>
#include <map>
#include <set>
#include <unordered_map>
#include <vector>

namespace Relay {

using Clock = std::chrono::steady_clock;

class SubscriberTable
{
public:
    explicit SubscriberTable(std::size_t maxSubscribers);

    // A subscription list: the sender's groups become exactly these. False
    // when the sender is new and the table is full.
    bool ReplaceGroups(const Endpoint& from, unsigned int deviceId, const std::set<unsigned int>& groups,
                       Clock::time_point now);
    bool Join(const Endpoint& from, unsigned int deviceId, unsigned int group, Clock::time_point now);
    void Leave(const Endpoint& from, unsigned int group, Clock::time_point now);
    // Any datagram from a known subscriber keeps it alive.
    void Heard(const Endpoint& from, Clock::time_point now);

    // The subscribers of the group (never changed while a caller walks it).
    const std::vector<Endpoint>& MembersOf(unsigned int group) const;
    std::vector<Endpoint> WithDeviceId(unsigned int deviceId) const;
    // Forgets subscribers silent for longer than the time-out; how many.
    std::size_t ForgetSilent(Clock::time_point now, Clock::duration timeout);
    std::size_t Size() const { return mSubscribers.size(); }

private:
    struct Subscriber
    {
        unsigned int deviceId = 0;
        std::set<unsigned int> groups;
        Clock::time_point lastHeard;
    };

    Subscriber* FindOrAdd(const Endpoint& from, unsigned int deviceId, Clock::time_point now);
    void AddMember(unsigned int group, const Endpoint& member);
    void RemoveMember(unsigned int group, const Endpoint& member);

    std::size_t mMaxSubscribers;
    std::map<Endpoint, Subscriber> mSubscribers;
    std::unordered_map<unsigned int, std::vector<Endpoint>> mMembers; // group -> subscribers
};

} // namespace Relay
