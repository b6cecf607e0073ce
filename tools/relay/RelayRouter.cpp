// The relay's forwarding rules, on top of the trunk library's packet parser.
#include "RelayRouter.h"

#include "Packet/GroupMsg.h"
#include "Packet/Subscription.h"
#include "Packet/SubscriptionListPacket.h"
#include "Packet/WebManagementMsg.h"

namespace Relay {

using namespace Halvane::Packet;

RelayRouter::RelayRouter(DatagramSink& sink, const RouterSettings& settings)
    : mSink(sink), mSettings(settings), mTable(settings.maxSubscribers)
{
}

void RelayRouter::HandleDatagram(const Endpoint& from, const unsigned char* data, std::size_t length,
                                 Clock::time_point now)
{
    ++mCounters.received;
    EParseResult result = EParseResult::kOk;
    const auto packet = length > CPacket::kMaxDatagramSize
                            ? nullptr
                            : CPacket::TryCreatePacket(data, static_cast<unsigned int>(length), result);
    if (!packet) {
        ++(result == EParseResult::kUnknownType ? mCounters.unknownType : mCounters.malformed);
        return;
    }
    mTable.Heard(from, now);
    switch (packet->Type()) {
    case kTypeGroupMsg:
        ++mCounters.groupMessages;
        Forward(from, static_cast<const CGroupMsg&>(*packet).GroupId(), data, length);
        break;
    case kTypeSubscription:
        Subscribe(from, static_cast<const CSubscription&>(*packet), length, now);
        break;
    case kTypeSubscriptionList:
        ReplaceSubscriptions(from, static_cast<const CSubscriptionListPacket&>(*packet), now);
        break;
    default:
        ++mCounters.unexpected;
        break;
    }
}

void RelayRouter::Forward(const Endpoint& from, unsigned int group, const unsigned char* data, std::size_t length)
{
    for (const Endpoint& member : mTable.MembersOf(group)) {
        if (member == from)
            continue; // never back to the sender
        ++(mSink.SendTo(member, data, length) ? mCounters.forwarded : mCounters.sendErrors);
    }
}

void RelayRouter::Subscribe(const Endpoint& from, const CSubscription& subscription, std::size_t length,
                            Clock::time_point now)
{
    const bool wellFormed = length == CSubscription::kHeaderSize &&
                            (subscription.Action() == CSubscription::kJoin ||
                             subscription.Action() == CSubscription::kLeave);
    if (!wellFormed) {
        ++mCounters.malformed;
        return;
    }
    ++mCounters.subscriptions;
    if (subscription.Action() == CSubscription::kJoin)
        CountRefusal(mTable.Join(from, subscription.DeviceId(), subscription.GroupId(), now));
    else
        mTable.Leave(from, subscription.GroupId(), now);
}

void RelayRouter::ReplaceSubscriptions(const Endpoint& from, const CSubscriptionListPacket& list,
                                       Clock::time_point now)
{
    if (list.PayloadLength() % 4 != 0) {
        ++mCounters.malformed;
        return;
    }
    ++mCounters.subscriptionLists;
    const std::vector<unsigned int> ids = list.GroupIds();
    CountRefusal(mTable.ReplaceGroups(from, list.DeviceId(), {ids.begin(), ids.end()}, now));
}

void RelayRouter::CountRefusal(bool accepted)
{
    if (!accepted)
        ++mCounters.refusedSubscribers;
}

std::size_t RelayRouter::NotifySettingsChanged(unsigned int deviceId)
{
    const CWebManagementMsg notice(0, 0, nullptr, 0, CWebManagementMsg::kSettingsChanged);
    unsigned char datagram[CWebManagementMsg::kHeaderSize];
    notice.Encode(datagram);
    std::size_t notified = 0;
    for (const Endpoint& unit : mTable.WithDeviceId(deviceId & 0x00FFFFFFu)) {
        if (mSink.SendTo(unit, datagram, notice.EncodedSize())) {
            ++notified;
            ++mCounters.notificationsSent;
        } else {
            ++mCounters.sendErrors;
        }
    }
    return notified;
}

void RelayRouter::ForgetSilentSubscribers(Clock::time_point now)
{
    mCounters.forgottenSubscribers += mTable.ForgetSilent(now, mSettings.subscriberTimeout);
}

} // namespace Relay
