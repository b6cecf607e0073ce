// The relay's subscriber table and its per-group member lists.
#include "SubscriberTable.h"

#include <algorithm>

namespace Relay {

SubscriberTable::SubscriberTable(std::size_t maxSubscribers) : mMaxSubscribers(maxSubscribers) {}

SubscriberTable::Subscriber* SubscriberTable::FindOrAdd(const Endpoint& from, unsigned int deviceId,
                                                        Clock::time_point now)
{
    auto found = mSubscribers.find(from);
    if (found == mSubscribers.end()) {
        if (mSubscribers.size() >= mMaxSubscribers)
            return nullptr;
        found = mSubscribers.emplace(from, Subscriber{}).first;
    }
    found->second.deviceId = deviceId;
    found->second.lastHeard = now;
    return &found->second;
}

bool SubscriberTable::ReplaceGroups(const Endpoint& from, unsigned int deviceId,
                                    const std::set<unsigned int>& groups, Clock::time_point now)
{
    Subscriber* subscriber = FindOrAdd(from, deviceId, now);
    if (subscriber == nullptr)
        return false;
    for (unsigned int group : subscriber->groups)
        if (!groups.count(group))
            RemoveMember(group, from);
    for (unsigned int group : groups)
        if (!subscriber->groups.count(group))
            AddMember(group, from);
    subscriber->groups = groups;
    return true;
}

bool SubscriberTable::Join(const Endpoint& from, unsigned int deviceId, unsigned int group, Clock::time_point now)
{
    Subscriber* subscriber = FindOrAdd(from, deviceId, now);
    if (subscriber == nullptr)
        return false;
    if (subscriber->groups.insert(group).second)
        AddMember(group, from);
    return true;
}

void SubscriberTable::Leave(const Endpoint& from, unsigned int group, Clock::time_point now)
{
    const auto found = mSubscribers.find(from);
    if (found == mSubscribers.end())
        return;
    found->second.lastHeard = now;
    if (found->second.groups.erase(group))
        RemoveMember(group, from);
}

void SubscriberTable::Heard(const Endpoint& from, Clock::time_point now)
{
    const auto found = mSubscribers.find(from);
    if (found != mSubscribers.end())
        found->second.lastHeard = now;
}

const std::vector<Endpoint>& SubscriberTable::MembersOf(unsigned int group) const
{
    static const std::vector<Endpoint> none;
    const auto found = mMembers.find(group);
    return found == mMembers.end() ? none : found->second;
}

std::vector<Endpoint> SubscriberTable::WithDeviceId(unsigned int deviceId) const
{
    std::vector<Endpoint> matching;
    for (const auto& [endpoint, subscriber] : mSubscribers)
        if (subscriber.deviceId == deviceId)
            matching.push_back(endpoint);
    return matching;
}

std::size_t SubscriberTable::ForgetSilent(Clock::time_point now, Clock::duration timeout)
{
    std::size_t forgotten = 0;
    for (auto it = mSubscribers.begin(); it != mSubscribers.end();) {
        if (now - it->second.lastHeard <= timeout) {
            ++it;
            continue;
        }
        for (unsigned int group : it->second.groups)
            RemoveMember(group, it->first);
        it = mSubscribers.erase(it);
        ++forgotten;
    }
    return forgotten;
}

void SubscriberTable::AddMember(unsigned int group, const Endpoint& member)
{
    mMembers[group].push_back(member);
}

void SubscriberTable::RemoveMember(unsigned int group, const Endpoint& member)
{
    const auto found = mMembers.find(group);
    if (found == mMembers.end())
        return;
    std::vector<Endpoint>& members = found->second;
    members.erase(std::remove(members.begin(), members.end(), member), members.end());
    if (members.empty())
        mMembers.erase(found);
}

} // namespace Relay
