// The relay's subscribers: who listens to which group, the device id they
// announce, when they were last heard from, and whether they proved that
// they are at their address. Every outside choice is bounded: endpoints and
// subscriptions per source address, groups per endpoint, subscribers in all
// and unproven subscribers among them; a subscriber leaves every group in
// constant time per group.
#pragma once

#include "Clock.h"
#include "Endpoint.h"
#include "TokenBucket.h"

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <vector>

namespace Relay {

// Why the table did not take a subscriber or a group.
enum class TableRefusal { kNone, kTableFull, kEndpointsPerAddress, kSubscriptionsPerAddress, kGroupsPerEndpoint };

struct TableLimits
{
    std::size_t maxSubscribers = 10000;
    // Unproven subscribers never take more than this, so that forged ones
    // cannot crowd out units that prove their address.
    std::size_t maxUnproven = 10000;
    std::size_t maxEndpointsPerAddress = 256;
    std::size_t maxSubscriptionsPerAddress = 4096;
    std::size_t maxGroupsPerEndpoint = 64;
};

// One source address: its endpoints and subscriptions count against its
// limits, and its unproven endpoints share one byte budget.
struct SourceAddress
{
    std::size_t endpoints = 0;
    std::size_t subscriptions = 0;
    TokenBucket unprovenBytes;
};

struct Subscriber
{
    struct Membership
    {
        std::uint32_t group;
        std::size_t slot; // where this subscriber stands in the group's member list
    };

    Endpoint endpoint;
    std::uint32_t deviceId = 0;
    Clock::time_point lastHeard{};
    bool proven = false;
    Clock::time_point provenAt{};
    bool challenged = false;
    Clock::time_point lastChallenge{};
    std::vector<Membership> groups;
    SourceAddress* source = nullptr;
    std::size_t deviceSlot = 0;
    std::list<Subscriber*>::iterator unprovenEntry; // valid while not proven
};

class SubscriberTable
{
public:
    explicit SubscriberTable(const TableLimits& limits);
    SubscriberTable(const SubscriberTable&) = delete;
    SubscriberTable& operator=(const SubscriberTable&) = delete;

    Subscriber* Find(const Endpoint& endpoint);
    // Adds a subscriber that is not in the table yet; none, with the reason,
    // when a limit refuses it. When the table is full, a proven newcomer
    // takes the place of the unproven subscriber heard from least recently.
    Subscriber* Add(const Endpoint& endpoint, std::uint32_t deviceId, bool proven, Clock::time_point now,
                    TableRefusal& why);
    void SetDeviceId(Subscriber& subscriber, std::uint32_t deviceId);
    // The subscriber spoke for itself (a subscription or an answer).
    void Touch(Subscriber& subscriber, Clock::time_point now);
    void MarkProven(Subscriber& subscriber, Clock::time_point now);

    TableRefusal Join(Subscriber& subscriber, std::uint32_t group);
    void Leave(Subscriber& subscriber, std::uint32_t group);
    // Makes the subscriber's groups these (ascending, no duplicates) as far
    // as the limits allow; returns how many were left out, and why.
    std::size_t ReplaceGroups(Subscriber& subscriber, const std::vector<std::uint32_t>& groups, TableRefusal& why);

    // Never changed while a caller walks it.
    const std::vector<Subscriber*>& MembersOf(std::uint32_t group) const;
    const std::vector<Subscriber*>& WithDeviceId(std::uint32_t deviceId) const;

    // Forgets subscribers silent for longer than the time-out; how many.
    std::size_t ForgetSilent(Clock::time_point now, Clock::duration timeout);
    // Proofs older than the lifetime lapse; how many.
    std::size_t ExpireProofs(Clock::time_point now, Clock::duration lifetime);

    std::size_t Size() const { return mSubscribers.size(); }
    std::size_t ProvenCount() const { return mSubscribers.size() - mUnproven.size(); }
    std::size_t Subscriptions() const { return mSubscriptions; }
    std::size_t Groups() const { return mMembers.size(); }
    std::size_t SourceAddresses() const { return mSources.size(); }
    std::uint64_t Evicted() const { return mEvicted; }

private:
    using Subscribers = std::unordered_map<Endpoint, Subscriber, EndpointHasher>;

    Subscribers::iterator Remove(Subscribers::iterator entry);
    void AddMembership(Subscriber& subscriber, std::uint32_t group);
    void RemoveMembership(Subscriber& subscriber, std::size_t index);
    bool IsMember(const Subscriber& subscriber, std::uint32_t group) const;
    TableRefusal RoomForGroup(const Subscriber& subscriber) const;
    void IndexDevice(Subscriber& subscriber);
    void UnindexDevice(Subscriber& subscriber);

    TableLimits mLimits;
    Subscribers mSubscribers;
    std::unordered_map<std::uint32_t, std::vector<Subscriber*>, KeyedIdHasher> mMembers; // group -> members
    std::unordered_map<std::uint32_t, std::vector<Subscriber*>, KeyedIdHasher> mByDeviceId;
    std::unordered_map<std::uint32_t, SourceAddress, KeyedIdHasher> mSources; // by address
    std::list<Subscriber*> mUnproven; // least recently heard first
    std::size_t mSubscriptions = 0;
    std::uint64_t mEvicted = 0;
};

} // namespace Relay
