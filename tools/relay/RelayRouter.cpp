// The relay's forwarding rules, on top of the trunk library's packet code.
#include "RelayRouter.h"

#include "Packet/ByteOrder.h"
#include "Packet/Challenge.h"
#include "Packet/GroupMsg.h"
#include "Packet/Subscription.h"
#include "Packet/SubscriptionListPacket.h"
#include "Packet/WebManagementMsg.h"

#include <algorithm>
#include <memory>

namespace Relay {

using namespace Halvane::Packet;

namespace {

TableLimits LimitsOf(const RouterSettings& settings)
{
    TableLimits limits;
    limits.maxSubscribers = settings.maxSubscribers;
    // Under a policy that challenges, unproven endpoints get at most half
    // the table, so that forged subscriptions cannot keep proven units out.
    limits.maxUnproven = settings.unprovenPolicy == UnprovenPolicy::kOpen
                             ? settings.maxSubscribers
                             : std::max<std::size_t>(1, settings.maxSubscribers / 2);
    limits.maxEndpointsPerAddress = settings.maxEndpointsPerAddress;
    limits.maxSubscriptionsPerAddress = settings.maxSubscriptionsPerAddress;
    limits.maxGroupsPerEndpoint = settings.maxGroupsPerEndpoint;
    return limits;
}

Refusal RefusalOf(TableRefusal refusal)
{
    switch (refusal) {
    case TableRefusal::kEndpointsPerAddress:
        return Refusal::kEndpointsPerAddress;
    case TableRefusal::kSubscriptionsPerAddress:
        return Refusal::kSubscriptionsPerAddress;
    case TableRefusal::kGroupsPerEndpoint:
        return Refusal::kGroupsPerEndpoint;
    default:
        return Refusal::kTableFull;
    }
}

template <typename Type>
std::unique_ptr<Type> Parse(const unsigned char* data, std::size_t length)
{
    EParseResult result = EParseResult::kOk;
    std::unique_ptr<CPacket> packet = CPacket::TryCreatePacket(data, static_cast<unsigned int>(length), result);
    return std::unique_ptr<Type>(static_cast<Type*>(packet.release()));
}

} // namespace

RelayRouter::RelayRouter(const RouterSettings& settings) : RelayRouter(settings, RoutabilityCheck()) {}

RelayRouter::RelayRouter(const RouterSettings& settings, const RoutabilityCheck& routability)
    : mSettings(settings), mRoutability(routability), mTable(LimitsOf(settings)),
      mSenderRates(settings.maxDatagramsPerSecond), mRecent(settings.duplicateWindow)
{
}

void RelayRouter::HandleDatagram(const Endpoint& from, const unsigned char* data, std::size_t length,
                                 Clock::time_point now, DatagramSink& sink)
{
    // Junk costs a length test and a look at the first byte.
    if (length == 0 || length > CPacket::kMaxDatagramSize) {
        mCounters.CountIn(InKind::kMalformed, length);
        return;
    }
    const auto wellFormed = [&](InKind kind, bool ok) {
        mCounters.CountIn(ok ? kind : InKind::kMalformed, length);
        if (ok && !mSenderRates.Allow(from, now)) {
            mCounters.Refuse(Refusal::kSenderRate);
            return false;
        }
        return ok;
    };
    switch (data[0]) {
    case kTypeGroupMsg:
        if (wellFormed(InKind::kGroupMessage, length >= CGroupMsg::kHeaderSize))
            Forward(from, ReadLe32(data + CPacket::kCommonHeaderSize), data, length, now, sink);
        break;
    case kTypeSubscription:
        // Exactly 13 bytes, and a join or a leave.
        if (wellFormed(InKind::kSubscription, length == CSubscription::kHeaderSize &&
                                                  (data[CPacket::kCommonHeaderSize] == CSubscription::kJoin ||
                                                   data[CPacket::kCommonHeaderSize] == CSubscription::kLeave)))
            Subscribe(from, data, length, now, sink);
        break;
    case kTypeSubscriptionList:
        if (wellFormed(InKind::kSubscriptionList, length >= CSubscriptionListPacket::kHeaderSize &&
                                                      (length - CSubscriptionListPacket::kHeaderSize) % 4 == 0))
            ReplaceSubscriptions(from, data, length, now, sink);
        break;
    case kTypeChallengeAnswer:
        if (wellFormed(InKind::kChallengeAnswer, length >= CPacket::kCommonHeaderSize))
            TakeAnswer(from, data, length, now);
        break;
    case kTypeWebManagementMsg:
        mCounters.CountIn(length >= CWebManagementMsg::kHeaderSize ? InKind::kUnexpected : InKind::kMalformed, length);
        break;
    case kTypeChallenge:
        mCounters.CountIn(length >= CPacket::kCommonHeaderSize ? InKind::kUnexpected : InKind::kMalformed, length);
        break;
    default:
        mCounters.CountIn(InKind::kUnknownType, length);
        break;
    }
}

void RelayRouter::Forward(const Endpoint& from, std::uint32_t group, const unsigned char* data, std::size_t length,
                          Clock::time_point now, DatagramSink& sink)
{
    if (mRecent.SeenRecently(data, length, now)) {
        mCounters.Refuse(Refusal::kDuplicate);
        return;
    }
    const std::vector<Subscriber*>& members = mTable.MembersOf(group);
    if (!sink.Accepting(from, members.size())) {
        mCounters.Refuse(Refusal::kBacklog);
        return;
    }
    mTargets.clear();
    for (Subscriber* member : members) {
        if (member->endpoint != from && MayReceive(*member, length, now)) // never back to the sender
            mTargets.push_back(member->endpoint);
    }
    if (!mTargets.empty() && !sink.Forward(from, data, length, mTargets, now))
        mCounters.Refuse(Refusal::kBacklog);
}

bool RelayRouter::MayReceive(Subscriber& member, std::size_t length, Clock::time_point now)
{
    if (member.proven || mSettings.unprovenPolicy == UnprovenPolicy::kOpen)
        return true;
    if (mSettings.unprovenPolicy == UnprovenPolicy::kStrict) {
        mCounters.Refuse(Refusal::kUnprovenStrict);
        return false;
    }
    // One budget per source address, so that forged endpoints on several
    // ports of one victim do not add up.
    const auto rate = static_cast<double>(mSettings.unprovenBytesPerSecond);
    if (member.source->unprovenBytes.Take(static_cast<double>(length), rate, rate, now))
        return true;
    mCounters.Refuse(Refusal::kUnprovenCapped);
    return false;
}

void RelayRouter::Subscribe(const Endpoint& from, const unsigned char* data, std::size_t length,
                            Clock::time_point now, DatagramSink& sink)
{
    const auto subscription = Parse<CSubscription>(data, length);
    if (!subscription)
        return;
    if (subscription->Action() == CSubscription::kLeave) {
        if (Subscriber* subscriber = mTable.Find(from)) {
            mTable.Touch(*subscriber, now);
            mTable.Leave(*subscriber, subscription->GroupId());
        }
        return;
    }
    Subscriber* subscriber = SubscriberFor(from, subscription->DeviceId(), now, sink);
    if (subscriber == nullptr)
        return;
    CountTableRefusal(mTable.Join(*subscriber, subscription->GroupId()));
    ChallengeIfDue(subscriber, from, now, sink);
}

void RelayRouter::ReplaceSubscriptions(const Endpoint& from, const unsigned char* data, std::size_t length,
                                       Clock::time_point now, DatagramSink& sink)
{
    const auto list = Parse<CSubscriptionListPacket>(data, length);
    if (!list)
        return;
    Subscriber* subscriber = SubscriberFor(from, list->DeviceId(), now, sink);
    if (subscriber == nullptr)
        return;
    mGroups = list->GroupIds();
    std::sort(mGroups.begin(), mGroups.end());
    mGroups.erase(std::unique(mGroups.begin(), mGroups.end()), mGroups.end());
    TableRefusal why = TableRefusal::kNone;
    const std::size_t leftOut = mTable.ReplaceGroups(*subscriber, mGroups, why);
    if (leftOut > 0)
        CountTableRefusal(why, leftOut);
    ChallengeIfDue(subscriber, from, now, sink);
}

Subscriber* RelayRouter::SubscriberFor(const Endpoint& from, std::uint32_t deviceId, Clock::time_point now,
                                       DatagramSink& sink)
{
    if (Subscriber* known = mTable.Find(from)) {
        mTable.Touch(*known, now);
        mTable.SetDeviceId(*known, deviceId);
        return known;
    }
    TableRefusal why = TableRefusal::kNone;
    Subscriber* added = mTable.Add(from, deviceId, false, now, why);
    if (added == nullptr) {
        CountTableRefusal(why);
        // No room to remember it, but a unit that answers gets room then.
        if (why == TableRefusal::kTableFull)
            ChallengeIfDue(nullptr, from, now, sink);
    }
    return added;
}

void RelayRouter::TakeAnswer(const Endpoint& from, const unsigned char* data, std::size_t length,
                             Clock::time_point now)
{
    const auto answer = Parse<CChallengeAnswer>(data, length);
    if (!answer || !mRoutability.Verify(from, answer->Payload(), answer->PayloadLength(), now)) {
        mCounters.Refuse(Refusal::kBadAnswer);
        return;
    }
    Subscriber* subscriber = mTable.Find(from);
    if (subscriber != nullptr) {
        mTable.Touch(*subscriber, now);
    } else {
        TableRefusal why = TableRefusal::kNone;
        subscriber = mTable.Add(from, answer->DeviceId(), true, now, why);
        mCounters.evictedSubscribers = mTable.Evicted();
        if (subscriber == nullptr) {
            CountTableRefusal(why);
            return;
        }
    }
    mTable.MarkProven(*subscriber, now);
    ++mCounters.proofs;
}

void RelayRouter::ChallengeIfDue(Subscriber* subscriber, const Endpoint& from, Clock::time_point now,
                                 DatagramSink& sink)
{
    if (mSettings.unprovenPolicy == UnprovenPolicy::kOpen)
        return;
    if (subscriber != nullptr) {
        // Proven units are asked again before their proof lapses.
        if (subscriber->proven && now - subscriber->provenAt < mSettings.proofLifetime / 2)
            return;
        if (subscriber->challenged && now - subscriber->lastChallenge < kChallengeInterval)
            return;
        subscriber->challenged = true;
        subscriber->lastChallenge = now;
    }
    const auto rate = static_cast<double>(mSettings.challengesPerSecond);
    if (!mChallengeBudget.Take(1, rate, rate, now)) {
        mCounters.Refuse(Refusal::kChallengeRate);
        return;
    }
    const RoutabilityCheck::Cookie cookie = mRoutability.CookieFor(from, now);
    const CChallenge challenge(0, 0, cookie.data(), static_cast<unsigned int>(cookie.size()));
    unsigned char datagram[CPacket::kCommonHeaderSize + RoutabilityCheck::kCookieSize];
    challenge.Encode(datagram);
    sink.Send(from, datagram, challenge.EncodedSize(), OutKind::kChallenge);
}

void RelayRouter::CountTableRefusal(TableRefusal refusal, std::uint64_t times)
{
    if (refusal != TableRefusal::kNone)
        mCounters.Refuse(RefusalOf(refusal), times);
}

std::size_t RelayRouter::NotifySettingsChanged(std::uint32_t deviceId, DatagramSink& sink)
{
    const CWebManagementMsg notice(0, 0, nullptr, 0, CWebManagementMsg::kSettingsChanged);
    unsigned char datagram[CWebManagementMsg::kHeaderSize];
    notice.Encode(datagram);
    std::size_t notified = 0;
    for (const Subscriber* unit : mTable.WithDeviceId(deviceId & 0x00FFFFFFu)) {
        if (!unit->proven && mSettings.unprovenPolicy == UnprovenPolicy::kStrict)
            continue;
        sink.Send(unit->endpoint, datagram, notice.EncodedSize(), OutKind::kNotice);
        ++notified;
    }
    return notified;
}

void RelayRouter::Sweep(Clock::time_point now)
{
    mCounters.forgottenSubscribers += mTable.ForgetSilent(now, mSettings.subscriberTimeout);
    mCounters.lapsedProofs += mTable.ExpireProofs(now, mSettings.proofLifetime);
}

} // namespace Relay
