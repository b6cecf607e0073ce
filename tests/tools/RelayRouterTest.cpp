// The relay's forwarding rules and its command line, without sockets.
#include "RelayOptions.h"
#include "RelayRouter.h"

#include "Packet/GroupMsg.h"
#include "Packet/Subscription.h"
#include "Packet/SubscriptionListPacket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <map>

using namespace Halvane::Packet;
using Relay::Clock;
using Relay::Endpoint;
using Bytes = std::vector<unsigned char>;

namespace {

constexpr unsigned int kGroup1 = 0xEF000001;
constexpr unsigned int kGroup2 = 0xEF000002;

Endpoint Unit(unsigned char n)
{
    return {htonl(0x7F000000u | n), htons(static_cast<unsigned short>(40000 + n))};
}

Bytes Encode(const CPacket& packet)
{
    Bytes out(CPacket::kMaxDatagramSize);
    packet.Encode(out.data());
    out.resize(packet.EncodedSize());
    return out;
}

Bytes List(unsigned int deviceId, std::vector<unsigned int> groups)
{
    Bytes ids;
    for (unsigned int group : groups)
        for (int shift = 0; shift < 32; shift += 8)
            ids.push_back(static_cast<unsigned char>(group >> shift));
    return Encode(CSubscriptionListPacket(deviceId, 0, ids.data(), static_cast<unsigned int>(ids.size())));
}

Bytes Subscription(unsigned int group, unsigned char action)
{
    return Encode(CSubscription(7, 0, nullptr, 0, group, action));
}

Bytes Message(unsigned int group, unsigned char seed)
{
    const unsigned char payload[] = {0x80, 0x60, seed, seed};
    return Encode(CGroupMsg(9, 0, payload, sizeof payload, kKindRtp, group));
}

class RecordingSink : public Relay::DatagramSink
{
public:
    bool SendTo(const Endpoint& to, const unsigned char* data, std::size_t length) override
    {
        sent[to].emplace_back(data, data + length);
        return true;
    }
    std::map<Endpoint, std::vector<Bytes>> sent;
};

class RelayRouter : public ::testing::Test
{
protected:
    void Handle(const Endpoint& from, const Bytes& datagram, Clock::duration at = Clock::duration::zero())
    {
        router.HandleDatagram(from, datagram.data(), datagram.size(), start + at);
    }
    std::size_t Received(const Endpoint& unit) { return sink.sent[unit].size(); }

    RecordingSink sink;
    Relay::RelayRouter router{sink, Relay::RouterSettings{std::chrono::seconds(60), 4}};
    Clock::time_point start = Clock::now();
};

TEST_F(RelayRouter, GroupMessageGoesUnchangedToEveryOtherSubscriberOfItsGroup)
{
    Handle(Unit(1), List(1, {kGroup1}));
    Handle(Unit(2), List(2, {kGroup1, kGroup2}));
    Handle(Unit(3), List(3, {kGroup2}));
    const Bytes message = Message(kGroup1, 5);
    Handle(Unit(1), message);
    EXPECT_EQ(Received(Unit(1)), 0u); // never back to the sender
    ASSERT_EQ(Received(Unit(2)), 1u);
    EXPECT_EQ(sink.sent[Unit(2)][0], message);
    EXPECT_EQ(Received(Unit(3)), 0u);

    Handle(Unit(9), Message(kGroup2, 6)); // senders need not subscribe
    EXPECT_EQ(Received(Unit(2)), 2u);
    EXPECT_EQ(Received(Unit(3)), 1u);
    EXPECT_EQ(router.Counters().forwarded, 3u);
}

TEST_F(RelayRouter, SubscriptionListReplacesTheSendersGroups)
{
    Handle(Unit(1), List(1, {kGroup1, kGroup2}));
    Handle(Unit(1), List(1, {kGroup2}));
    Handle(Unit(9), Message(kGroup1, 1));
    Handle(Unit(9), Message(kGroup2, 2));
    EXPECT_EQ(Received(Unit(1)), 1u);
    Handle(Unit(1), List(1, {}));
    Handle(Unit(9), Message(kGroup2, 3));
    EXPECT_EQ(Received(Unit(1)), 1u);
    EXPECT_EQ(router.Subscribers(), 1u); // still known, for notifications
}

TEST_F(RelayRouter, JoinAndLeaveAddAndRemoveOneGroup)
{
    Handle(Unit(1), List(1, {kGroup1}));
    Handle(Unit(1), Subscription(kGroup2, CSubscription::kJoin));
    Handle(Unit(1), Subscription(kGroup2, CSubscription::kJoin)); // repeated joins are harmless
    Handle(Unit(9), Message(kGroup2, 1));
    EXPECT_EQ(Received(Unit(1)), 1u);
    Handle(Unit(1), Subscription(kGroup1, CSubscription::kLeave));
    Handle(Unit(9), Message(kGroup1, 2));
    Handle(Unit(9), Message(kGroup2, 3));
    EXPECT_EQ(Received(Unit(1)), 2u);
    EXPECT_EQ(router.Counters().subscriptions, 3u);
}

TEST_F(RelayRouter, SilentSubscribersAreForgottenAfterTheTimeOut)
{
    Handle(Unit(1), List(1, {kGroup1}));
    Handle(Unit(2), List(2, {kGroup1}));
    Handle(Unit(2), Message(kGroup2, 1), std::chrono::seconds(50)); // any datagram keeps it alive
    router.ForgetSilentSubscribers(start + std::chrono::seconds(60));
    EXPECT_EQ(router.Subscribers(), 2u);
    router.ForgetSilentSubscribers(start + std::chrono::seconds(61));
    EXPECT_EQ(router.Subscribers(), 1u);
    Handle(Unit(9), Message(kGroup1, 2), std::chrono::seconds(61));
    EXPECT_EQ(Received(Unit(1)), 0u);
    EXPECT_EQ(Received(Unit(2)), 1u);
    EXPECT_EQ(router.Counters().forgottenSubscribers, 1u);
}

TEST_F(RelayRouter, MalformedAndUnknownDatagramsAreCountedAndDropped)
{
    Bytes oversized = Message(kGroup1, 1);
    oversized.resize(2001);
    Bytes badAction = Subscription(kGroup1, CSubscription::kJoin);
    badAction[8] = 7;
    Bytes longSubscription = Subscription(kGroup1, CSubscription::kJoin);
    longSubscription.push_back(0);
    Bytes ragged = List(1, {kGroup1});
    ragged.pop_back();
    const Bytes malformed[] = {{}, {2, 1, 0}, {5, 0, 0, 0, 0, 0, 0, 0}, oversized, badAction, longSubscription,
                               ragged};
    for (const Bytes& datagram : malformed)
        Handle(Unit(1), datagram);
    Handle(Unit(1), {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    Handle(Unit(1), {0xFF});
    Handle(Unit(1), {4, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}); // a notice is nothing a unit sends
    const Relay::RelayCounters& counters = router.Counters();
    EXPECT_EQ(counters.malformed, 7u);
    EXPECT_EQ(counters.unknownType, 2u);
    EXPECT_EQ(counters.unexpected, 1u);
    EXPECT_EQ(counters.received, 10u);
    EXPECT_EQ(router.Subscribers(), 0u);
    EXPECT_TRUE(sink.sent.empty());
}

TEST_F(RelayRouter, NotificationGoesToEverySubscriberWithTheDeviceId)
{
    Handle(Unit(1), List(0x123456, {}));
    Handle(Unit(2), List(0x123456, {kGroup1})); // the same unit on another socket
    Handle(Unit(3), List(0x654321, {}));
    EXPECT_EQ(router.NotifySettingsChanged(0xAB123456), 2u); // low 24 bits count
    const Bytes notice{4, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(sink.sent[Unit(1)], std::vector<Bytes>{notice});
    EXPECT_EQ(sink.sent[Unit(2)], std::vector<Bytes>{notice});
    EXPECT_EQ(Received(Unit(3)), 0u);
    EXPECT_EQ(router.NotifySettingsChanged(0x999999), 0u);
}

TEST_F(RelayRouter, NewSubscribersBeyondTheLimitAreRefused)
{
    for (unsigned char n = 1; n <= 5; ++n)
        Handle(Unit(n), Subscription(kGroup1, CSubscription::kJoin));
    EXPECT_EQ(router.Subscribers(), 4u);
    EXPECT_EQ(router.Counters().refusedSubscribers, 1u);
}

struct OptionsCase
{
    std::vector<std::string> arguments;
    bool valid;
};

TEST(RelayOptions, ParsesGoodCommandLinesAndRefusesBadOnes)
{
    const OptionsCase cases[] = {
        {{}, true},
        {{"--listen", "127.0.0.2", "--port", "4000", "--subscriber-timeout", "5"}, true},
        {{"--control-port", "4001", "notify", "0x123456"}, true},
        {{"counters"}, true},
        {{"--port"}, false},
        {{"--port", "70000"}, false},
        {{"--port", "-1"}, false},
        {{"--listen", "localhost"}, false},
        {{"notify"}, false},
        {{"notify", "12", "13"}, false},
        {{"notify", "0x1ffffffff"}, false},
        {{"reboot"}, false},
        {{"--verbose"}, false},
    };
    for (const OptionsCase& c : cases) {
        Relay::RelayOptions options;
        std::string error;
        EXPECT_EQ(Relay::ParseOptions(c.arguments, options, error), c.valid) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(error.empty(), c.valid) << error;
    }
}

TEST(RelayOptions, ControlPortDefaultsToTheTrunkPortPlusOne)
{
    Relay::RelayOptions options;
    std::string error;
    ASSERT_TRUE(Relay::ParseOptions({"--port", "4000"}, options, error));
    EXPECT_EQ(options.EffectiveControlPort(), 4001);
    ASSERT_TRUE(Relay::ParseOptions({"--control-port", "0", "notify", "258"}, options, error));
    EXPECT_EQ(options.EffectiveControlPort(), 0);
    EXPECT_EQ(options.command, Relay::Command::kNotify);
    EXPECT_EQ(options.deviceId, 258u);
}

} // namespace
