// The relay's subscriber table. Member lists are vectors in which each
// subscriber knows its slot, so leaving swaps the last member into the gap
// instead of searching the list.
#include "SubscriberTable.h"

#include <algorithm>

namespace Relay {

namespace {

const std::vector<Subscriber*> kNobody;

// Removes the element at slot by moving the last one there; returns the one
// moved, or none when slot was the last.
Subscriber* SwapRemove(std::vector<Subscriber*>& list, std::size_t slot)
{
    Subscriber* moved = list.back();
    list.pop_back();
    if (slot == list.size())
        return nullptr;
    list[slot] = moved;
    return moved;
}

} // namespace

SubscriberTable::SubscriberTable(const TableLimits& limits) : mLimits(limits) {}

Subscriber* SubscriberTable::Find(const Endpoint& endpoint)
{
    const auto found = mSubscribers.find(endpoint);
    return found == mSubscribers.end() ? nullptr : &found->second;
}

Subscriber* SubscriberTable::Add(const Endpoint& endpoint, std::uint32_t deviceId, bool proven,
                                 Clock::time_point now, TableRefusal& why)
{
    why = TableRefusal::kNone;
    const auto source = mSources.find(endpoint.address);
    if (source != mSources.end() && source->second.endpoints >= mLimits.maxEndpointsPerAddress) {
        why = TableRefusal::kEndpointsPerAddress;
        return nullptr;
    }
    if (!proven && mUnproven.size() >= mLimits.maxUnproven) {
        why = TableRefusal::kTableFull;
        return nullptr;
    }
    if (mSubscribers.size() >= mLimits.maxSubscribers) {
        if (!proven || mUnproven.empty()) {
            why = TableRefusal::kTableFull;
            return nullptr;
        }
        Remove(mSubscribers.find(mUnproven.front()->endpoint));
        ++mEvicted;
    }
    Subscriber& added = mSubscribers[endpoint];
    added.endpoint = endpoint;
    added.deviceId = deviceId;
    added.lastHeard = now;
    added.proven = proven;
    added.provenAt = now;
    added.source = &mSources[endpoint.address];
    ++added.source->endpoints;
    IndexDevice(added);
    if (!proven)
        added.unprovenEntry = mUnproven.insert(mUnproven.end(), &added);
    return &added;
}

void SubscriberTable::SetDeviceId(Subscriber& subscriber, std::uint32_t deviceId)
{
    if (subscriber.deviceId == deviceId)
        return;
    UnindexDevice(subscriber);
    subscriber.deviceId = deviceId;
    IndexDevice(subscriber);
}

void SubscriberTable::Touch(Subscriber& subscriber, Clock::time_point now)
{
    subscriber.lastHeard = now;
    if (!subscriber.proven)
        mUnproven.splice(mUnproven.end(), mUnproven, subscriber.unprovenEntry);
}

void SubscriberTable::MarkProven(Subscriber& subscriber, Clock::time_point now)
{
    if (!subscriber.proven)
        mUnproven.erase(subscriber.unprovenEntry);
    subscriber.proven = true;
    subscriber.provenAt = now;
}

TableRefusal SubscriberTable::RoomForGroup(const Subscriber& subscriber) const
{
    if (subscriber.groups.size() >= mLimits.maxGroupsPerEndpoint)
        return TableRefusal::kGroupsPerEndpoint;
    if (subscriber.source->subscriptions >= mLimits.maxSubscriptionsPerAddress)
        return TableRefusal::kSubscriptionsPerAddress;
    return TableRefusal::kNone;
}

TableRefusal SubscriberTable::Join(Subscriber& subscriber, std::uint32_t group)
{
    if (IsMember(subscriber, group))
        return TableRefusal::kNone;
    const TableRefusal room = RoomForGroup(subscriber);
    if (room == TableRefusal::kNone)
        AddMembership(subscriber, group);
    return room;
}

void SubscriberTable::Leave(Subscriber& subscriber, std::uint32_t group)
{
    for (std::size_t i = 0; i < subscriber.groups.size(); ++i)
        if (subscriber.groups[i].group == group) {
            RemoveMembership(subscriber, i);
            return;
        }
}

std::size_t SubscriberTable::ReplaceGroups(Subscriber& subscriber, const std::vector<std::uint32_t>& groups,
                                           TableRefusal& why)
{
    why = TableRefusal::kNone;
    for (std::size_t i = subscriber.groups.size(); i-- > 0;)
        if (!std::binary_search(groups.begin(), groups.end(), subscriber.groups[i].group))
            RemoveMembership(subscriber, i);
    std::size_t leftOut = 0;
    for (std::uint32_t group : groups) {
        const TableRefusal refusal = Join(subscriber, group);
        if (refusal != TableRefusal::kNone) {
            why = refusal;
            ++leftOut;
        }
    }
    return leftOut;
}

bool SubscriberTable::IsMember(const Subscriber& subscriber, std::uint32_t group) const
{
    // At most the groups-per-endpoint limit to look through.
    return std::any_of(subscriber.groups.begin(), subscriber.groups.end(),
                       [group](const Subscriber::Membership& membership) { return membership.group == group; });
}

void SubscriberTable::AddMembership(Subscriber& subscriber, std::uint32_t group)
{
    std::vector<Subscriber*>& members = mMembers[group];
    subscriber.groups.push_back({group, members.size()});
    members.push_back(&subscriber);
    ++subscriber.source->subscriptions;
    ++mSubscriptions;
}

void SubscriberTable::RemoveMembership(Subscriber& subscriber, std::size_t index)
{
    const Subscriber::Membership membership = subscriber.groups[index];
    const auto members = mMembers.find(membership.group);
    if (Subscriber* moved = SwapRemove(members->second, membership.slot)) {
        for (Subscriber::Membership& theirs : moved->groups)
            if (theirs.group == membership.group)
                theirs.slot = membership.slot;
    }
    if (members->second.empty())
        mMembers.erase(members);
    subscriber.groups[index] = subscriber.groups.back();
    subscriber.groups.pop_back();
    --subscriber.source->subscriptions;
    --mSubscriptions;
}

void SubscriberTable::IndexDevice(Subscriber& subscriber)
{
    std::vector<Subscriber*>& units = mByDeviceId[subscriber.deviceId];
    subscriber.deviceSlot = units.size();
    units.push_back(&subscriber);
}

void SubscriberTable::UnindexDevice(Subscriber& subscriber)
{
    const auto units = mByDeviceId.find(subscriber.deviceId);
    if (Subscriber* moved = SwapRemove(units->second, subscriber.deviceSlot))
        moved->deviceSlot = subscriber.deviceSlot;
    if (units->second.empty())
        mByDeviceId.erase(units);
}

const std::vector<Subscriber*>& SubscriberTable::MembersOf(std::uint32_t group) const
{
    const auto found = mMembers.find(group);
    return found == mMembers.end() ? kNobody : found->second;
}

const std::vector<Subscriber*>& SubscriberTable::WithDeviceId(std::uint32_t deviceId) const
{
    const auto found = mByDeviceId.find(deviceId);
    return found == mByDeviceId.end() ? kNobody : found->second;
}

SubscriberTable::Subscribers::iterator SubscriberTable::Remove(Subscribers::iterator entry)
{
    Subscriber& subscriber = entry->second;
    while (!subscriber.groups.empty())
        RemoveMembership(subscriber, subscriber.groups.size() - 1);
    UnindexDevice(subscriber);
    if (!subscriber.proven)
        mUnproven.erase(subscriber.unprovenEntry);
    if (--subscriber.source->endpoints == 0)
        mSources.erase(subscriber.endpoint.address);
    return mSubscribers.erase(entry);
}

std::size_t SubscriberTable::ForgetSilent(Clock::time_point now, Clock::duration timeout)
{
    std::size_t forgotten = 0;
    for (auto it = mSubscribers.begin(); it != mSubscribers.end();) {
        if (now - it->second.lastHeard <= timeout) {
            ++it;
            continue;
        }
        it = Remove(it);
        ++forgotten;
    }
    return forgotten;
}

std::size_t SubscriberTable::ExpireProofs(Clock::time_point now, Clock::duration lifetime)
{
    std::size_t expired = 0;
    for (auto& [endpoint, subscriber] : mSubscribers) {
        if (!subscriber.proven || now - subscriber.provenAt <= lifetime)
            continue;
        subscriber.proven = false;
        subscriber.unprovenEntry = mUnproven.insert(mUnproven.end(), &subscriber);
        ++expired;
    }
    return expired;
}

} // namespace Relay
