// The relay's forwarding rules, its table, its queues and its command line,
// without sockets and on a simulated clock.
#include "ForwardQueue.h"
#include "RelayOptions.h"
#include "RelayRouter.h"

#include "Packet/Challenge.h"
#include "Packet/GroupMsg.h"
#include "Packet/Subscription.h"
#include "Packet/SubscriptionListPacket.h"

#include <arpa/inet.h>
#include <cstdio>
#include <deque>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>

using namespace Halvane::Packet;
using Relay::Clock;
using Relay::Endpoint;
using Relay::Refusal;
using Relay::UnprovenPolicy;
using Bytes = std::vector<unsigned char>;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

constexpr unsigned int kGroup1 = 0xEF000001;
constexpr unsigned int kGroup2 = 0xEF000002;

Endpoint At(unsigned int address, unsigned short port)
{
    return {htonl(address), htons(port)};
}

Endpoint Unit(unsigned char n)
{
    return At(0x7F000000u | n, static_cast<unsigned short>(40000 + n));
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

Bytes Message(unsigned int group, unsigned int seed, std::size_t size = 4)
{
    Bytes payload(size, 0x11);
    payload[0] = 0x80;
    for (std::size_t i = 0; i < 4 && i + 1 < size; ++i)
        payload[i + 1] = static_cast<unsigned char>(seed >> (8 * i));
    return Encode(CGroupMsg(9, 0, payload.data(), static_cast<unsigned int>(payload.size()), kKindRtp, group));
}

bool IsChallenge(const Bytes& datagram)
{
    return !datagram.empty() && datagram[0] == kTypeChallenge;
}

// What a unit with the current trunk library sends back.
Bytes AnswerTo(const Bytes& challenge, unsigned int deviceId = 1)
{
    return Encode(CChallengeAnswer(deviceId, 0, challenge.data() + 8, static_cast<unsigned int>(challenge.size() - 8)));
}

class RecordingSink : public Relay::DatagramSink
{
public:
    bool Accepting(const Endpoint&, std::size_t) const override { return true; }
    bool Forward(const Endpoint&, const unsigned char* data, std::size_t length, const std::vector<Endpoint>& targets,
                 Clock::time_point) override
    {
        for (const Endpoint& to : targets)
            sent[to].emplace_back(data, data + length);
        return true;
    }
    void Send(const Endpoint& to, const unsigned char* data, std::size_t length, Relay::OutKind) override
    {
        sent[to].emplace_back(data, data + length);
    }

    std::size_t Messages(const Endpoint& to, std::size_t* bytes = nullptr)
    {
        std::size_t count = 0;
        for (const Bytes& datagram : sent[to])
            if (datagram[0] == kTypeGroupMsg) {
                ++count;
                if (bytes)
                    *bytes += datagram.size();
            }
        return count;
    }
    std::vector<Bytes> Challenges(const Endpoint& to)
    {
        std::vector<Bytes> challenges;
        for (const Bytes& datagram : sent[to])
            if (IsChallenge(datagram))
                challenges.push_back(datagram);
        return challenges;
    }

    std::map<Endpoint, std::vector<Bytes>> sent;
};

Relay::RouterSettings Settings(UnprovenPolicy policy, std::size_t maxSubscribers = 10000)
{
    Relay::RouterSettings settings;
    settings.unprovenPolicy = policy;
    settings.maxSubscribers = maxSubscribers;
    return settings;
}

// The forwarding rules as relays before the address check had them: the
// open policy sends no challenges.
class RelayRouter : public ::testing::Test
{
protected:
    void Handle(const Endpoint& from, const Bytes& datagram, Clock::duration at = Clock::duration::zero())
    {
        router.HandleDatagram(from, datagram.data(), datagram.size(), start + at, sink);
    }
    std::size_t Received(const Endpoint& unit) { return sink.sent[unit].size(); }

    RecordingSink sink;
    Relay::RelayRouter router{Settings(UnprovenPolicy::kOpen, 4)};
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
}

TEST_F(RelayRouter, SubscriptionListReplacesTheSendersGroups)
{
    Handle(Unit(1), List(1, {kGroup1, kGroup2}));
    Handle(Unit(1), List(1, {kGroup2, kGroup2})); // a repeated id counts once
    Handle(Unit(9), Message(kGroup1, 1));
    Handle(Unit(9), Message(kGroup2, 2));
    EXPECT_EQ(Received(Unit(1)), 1u);
    Handle(Unit(1), List(1, {}));
    Handle(Unit(9), Message(kGroup2, 3));
    EXPECT_EQ(Received(Unit(1)), 1u);
    EXPECT_EQ(router.Subscribers(), 1u); // still known, for notifications
    EXPECT_EQ(router.Table().Subscriptions(), 0u);
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
    EXPECT_EQ(router.Counters().datagramsIn[static_cast<std::size_t>(Relay::InKind::kSubscription)], 3u);
}

// Only a unit's own subscriptions keep it: what it sends to a group does
// not, or relays subscribed to each other would keep each other for ever.
TEST_F(RelayRouter, SilentSubscribersAreForgottenAfterTheTimeOut)
{
    Handle(Unit(1), List(1, {kGroup1}));
    Handle(Unit(2), List(2, {kGroup1}));
    Handle(Unit(2), List(2, {kGroup1}), seconds(50));
    Handle(Unit(1), Message(kGroup2, 1), seconds(50)); // talking is not subscribing
    router.Sweep(start + seconds(60));
    EXPECT_EQ(router.Subscribers(), 2u);
    router.Sweep(start + seconds(61));
    EXPECT_EQ(router.Subscribers(), 1u);
    Handle(Unit(9), Message(kGroup1, 2), seconds(61));
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
                               ragged, {7, 0, 0}};
    for (const Bytes& datagram : malformed)
        Handle(Unit(1), datagram);
    Handle(Unit(1), {3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    Handle(Unit(1), {0xFF});
    Handle(Unit(1), {4, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0}); // a notice is nothing a unit sends
    Handle(Unit(1), {6, 0, 0, 0, 0, 0, 0, 0, 1, 2}); // nor is a challenge
    const Relay::RouterCounters& counters = router.Counters();
    EXPECT_EQ(counters.datagramsIn[static_cast<std::size_t>(Relay::InKind::kMalformed)], 8u);
    EXPECT_EQ(counters.datagramsIn[static_cast<std::size_t>(Relay::InKind::kUnknownType)], 2u);
    EXPECT_EQ(counters.datagramsIn[static_cast<std::size_t>(Relay::InKind::kUnexpected)], 2u);
    EXPECT_EQ(router.Subscribers(), 0u);
    EXPECT_TRUE(sink.sent.empty());
}

TEST_F(RelayRouter, NotificationGoesToEverySubscriberWithTheDeviceId)
{
    Handle(Unit(1), List(0x123456, {}));
    Handle(Unit(2), List(0x123456, {kGroup1})); // the same unit on another socket
    Handle(Unit(3), List(0x654321, {}));
    Handle(Unit(3), List(0x123456, {})); // it changed its id
    Handle(Unit(3), List(0x654321, {})); // and back
    EXPECT_EQ(router.NotifySettingsChanged(0xAB123456, sink), 2u); // low 24 bits count
    const Bytes notice{4, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(sink.sent[Unit(1)], std::vector<Bytes>{notice});
    EXPECT_EQ(sink.sent[Unit(2)], std::vector<Bytes>{notice});
    EXPECT_EQ(Received(Unit(3)), 0u);
    EXPECT_EQ(router.NotifySettingsChanged(0x999999, sink), 0u);
}

TEST_F(RelayRouter, NewSubscribersBeyondTheLimitAreRefused)
{
    for (unsigned char n = 1; n <= 5; ++n)
        Handle(Unit(n), Subscription(kGroup1, CSubscription::kJoin));
    EXPECT_EQ(router.Subscribers(), 4u);
    EXPECT_EQ(router.Counters().refusals[static_cast<std::size_t>(Refusal::kTableFull)], 1u);
}

// A forger subscribes a victim's address to a busy group, an honest radio
// answers its challenge, and a radio with an older trunk library never
// answers but listens to one voice stream at the radios' defaults (Speex 5
// in 100 ms packets: 10 datagrams of 214 bytes a second).
struct PolicyCase
{
    UnprovenPolicy policy;
    std::size_t victimBytesAtMost;
    std::size_t victimBytesAtLeast;
    std::size_t oldRadioMessages; // of 50
    std::size_t challengesToVictim;
};

std::string PolicyName(UnprovenPolicy policy)
{
    return policy == UnprovenPolicy::kOpen ? "Open" : policy == UnprovenPolicy::kCapped ? "Capped" : "Strict";
}

class ReflectionRule : public ::testing::TestWithParam<PolicyCase>
{
};

TEST_P(ReflectionRule, ForgedSubscribersGetAtMostThePolicysShareAndAnsweringUnitsGetEverything)
{
    const PolicyCase& c = GetParam();
    const Clock::time_point start = Clock::now();
    RecordingSink sink;
    Relay::RelayRouter router(Settings(c.policy));
    const Endpoint victim = Unit(1), honest = Unit(2), oldRadio = Unit(3), talker = Unit(8), voice = Unit(9);
    const auto handle = [&](const Endpoint& from, const Bytes& datagram, Clock::duration at) {
        router.HandleDatagram(from, datagram.data(), datagram.size(), start + at, sink);
    };
    const Bytes forged = List(1, {kGroup1});
    handle(victim, forged, {});
    handle(honest, List(2, {kGroup1}), {});
    handle(oldRadio, List(3, {kGroup2}), {});
    for (const Bytes& challenge : sink.Challenges(honest)) // one round trip
        handle(honest, AnswerTo(challenge, 2), milliseconds(1));

    constexpr std::size_t kBusy = 500, kVoice = 50;
    for (std::size_t i = 0; i < kBusy; ++i) // 5 s of 200-byte datagrams, 100 a second
        handle(talker, Message(kGroup1, static_cast<unsigned int>(i), 188), milliseconds(10 + 10 * i));
    for (std::size_t i = 0; i < kVoice; ++i)
        handle(voice, Message(kGroup2, static_cast<unsigned int>(i), 202), milliseconds(10 + 100 * i));

    std::size_t victimBytes = 0;
    sink.Messages(victim, &victimBytes);
    EXPECT_LE(victimBytes, c.victimBytesAtMost);
    EXPECT_GE(victimBytes, c.victimBytesAtLeast);
    EXPECT_EQ(sink.Challenges(victim).size(), c.challengesToVictim);
    EXPECT_EQ(sink.Messages(honest), kBusy);
    EXPECT_EQ(sink.Messages(oldRadio), c.oldRadioMessages);
    std::printf("[ amplification ] %zu bytes to the victim for %zu forged: %.0fx\n",
                victimBytes + sink.Challenges(victim).size() * 20, forged.size(),
                static_cast<double>(victimBytes + sink.Challenges(victim).size() * 20) / forged.size());
}

INSTANTIATE_TEST_SUITE_P(Policies, ReflectionRule,
                         ::testing::Values(
                             // Everything: 500 datagrams of 200 bytes.
                             PolicyCase{UnprovenPolicy::kOpen, 100000, 100000, 50, 0},
                             // One second's budget at once, then 4,000 bytes a second for 5 s.
                             PolicyCase{UnprovenPolicy::kCapped, 4000 + 5 * 4000 + 200, 5 * 4000, 50, 1},
                             PolicyCase{UnprovenPolicy::kStrict, 0, 0, 0, 1}),
                         [](const auto& info) { return PolicyName(info.param.policy); });

// Answers that prove nothing, under the strict policy: the endpoint gets no
// traffic and no proof is counted; only its own fresh cookie proves it.
TEST(RelayRouterAnswers, OnlyTheEndpointsOwnFreshCookieProvesIt)
{
    struct AnswerCase
    {
        const char* name;
        std::function<Bytes(const Bytes& challenge)> answer;
        Endpoint from;
        Clock::duration at;
        bool proves;
    };
    const Endpoint unit = Unit(1);
    const AnswerCase cases[] = {
        {"forged MAC",
         [](const Bytes& c) {
             Bytes a = AnswerTo(c);
             a.back() ^= 1;
             return a;
         },
         unit, milliseconds(1), false},
        {"cookie cut short", [](const Bytes& c) { Bytes a = AnswerTo(c); a.pop_back(); return a; }, unit,
         milliseconds(1), false},
        {"another address's cookie", [](const Bytes& c) { return AnswerTo(c); }, Unit(2), milliseconds(1), false},
        {"another port's cookie", [](const Bytes& c) { return AnswerTo(c); }, At(0x7F000001, 40002), milliseconds(1),
         false},
        {"replayed after two epochs", [](const Bytes& c) { return AnswerTo(c); }, unit, seconds(61), false},
        {"its own, a while later", [](const Bytes& c) { return AnswerTo(c); }, unit, seconds(29), true},
        {"its own", [](const Bytes& c) { return AnswerTo(c); }, unit, milliseconds(1), true},
    };
    for (const AnswerCase& c : cases) {
        RecordingSink sink;
        Relay::RelayRouter router(Settings(UnprovenPolicy::kStrict));
        const Clock::time_point start = Clock::now();
        router.HandleDatagram(unit, List(1, {kGroup1}).data(), List(1, {kGroup1}).size(), start, sink);
        const std::vector<Bytes> challenges = sink.Challenges(unit);
        ASSERT_EQ(challenges.size(), 1u) << c.name;
        EXPECT_EQ(challenges[0].size(), 20u) << c.name;
        // A replay comes after the unit kept its subscription alive.
        if (c.at > seconds(30))
            router.HandleDatagram(unit, List(1, {kGroup1}).data(), List(1, {kGroup1}).size(), start + c.at, sink);
        const Bytes answer = c.answer(challenges[0]);
        router.HandleDatagram(c.from, answer.data(), answer.size(), start + c.at, sink);
        const Bytes message = Message(kGroup1, 1);
        router.HandleDatagram(Unit(9), message.data(), message.size(), start + c.at, sink);
        EXPECT_EQ(sink.Messages(unit), c.proves ? 1u : 0u) << c.name;
        EXPECT_EQ(router.Counters().proofs, c.proves ? 1u : 0u) << c.name;
        EXPECT_EQ(router.Counters().refusals[static_cast<std::size_t>(Refusal::kBadAnswer)], c.proves ? 0u : 1u)
            << c.name;
    }
}

// Each limit takes what it allows and refuses, and counts, one more.
TEST(RelayRouterLimits, EachLimitHoldsAtItsEdge)
{
    struct LimitCase
    {
        const char* name;
        std::function<void(Relay::RouterSettings&)> set;
        // Sends through handle(from, datagram, at).
        std::function<void(const std::function<void(const Endpoint&, const Bytes&, Clock::duration)>&)> traffic;
        Refusal reason;
        std::uint64_t refused;
        std::size_t subscriptions; // afterwards
    };
    const auto port = [](unsigned short p) { return At(0x7F000001, p); };
    const LimitCase cases[] = {
        {"endpoints per address", [](auto& s) { s.maxEndpointsPerAddress = 3; },
         [&](const auto& handle) {
             for (unsigned short p = 1; p <= 4; ++p)
                 handle(port(p), List(1, {kGroup1}), {});
         },
         Refusal::kEndpointsPerAddress, 1, 3},
        {"groups per endpoint", [](auto& s) { s.maxGroupsPerEndpoint = 4; },
         [&](const auto& handle) {
             handle(port(1), List(1, {1, 2, 3, 4}), {});
             handle(port(1), Subscription(5, CSubscription::kJoin), {});
             handle(port(2), List(1, {1, 2, 3, 4, 5, 6}), {}); // the first four are kept
         },
         Refusal::kGroupsPerEndpoint, 3, 8},
        {"subscriptions per address", [](auto& s) { s.maxSubscriptionsPerAddress = 5; },
         [&](const auto& handle) {
             handle(port(1), List(1, {1, 2, 3, 4}), {});
             handle(port(2), Subscription(5, CSubscription::kJoin), {});
             handle(port(2), Subscription(6, CSubscription::kJoin), {});
             handle(Unit(2), Subscription(6, CSubscription::kJoin), {}); // another address has its own
         },
         Refusal::kSubscriptionsPerAddress, 1, 6},
        {"datagrams a second per sender", [](auto& s) { s.maxDatagramsPerSecond = 10; },
         [&](const auto& handle) {
             for (int i = 0; i < 11; ++i) // a second's worth at once, and one more
                 handle(port(1), Subscription(static_cast<unsigned int>(i), CSubscription::kJoin), {});
             handle(port(1), Subscription(20, CSubscription::kJoin), milliseconds(100)); // one more came in 0.1 s
             handle(Unit(2), Subscription(20, CSubscription::kJoin), {}); // others have their own
         },
         Refusal::kSenderRate, 1, 12},
        {"subscribers in all", [](auto& s) { s.maxSubscribers = 3; },
         [&](const auto& handle) {
             for (unsigned char n = 1; n <= 4; ++n)
                 handle(Unit(n), List(1, {kGroup1}), {});
         },
         Refusal::kTableFull, 1, 3},
    };
    for (const LimitCase& c : cases) {
        Relay::RouterSettings settings = Settings(UnprovenPolicy::kOpen);
        c.set(settings);
        RecordingSink sink;
        Relay::RelayRouter router(settings);
        const Clock::time_point start = Clock::now();
        c.traffic([&](const Endpoint& from, const Bytes& datagram, Clock::duration at) {
            router.HandleDatagram(from, datagram.data(), datagram.size(), start + at, sink);
        });
        std::uint64_t refusedInAll = 0;
        for (std::uint64_t count : router.Counters().refusals)
            refusedInAll += count;
        EXPECT_EQ(router.Counters().refusals[static_cast<std::size_t>(c.reason)], c.refused) << c.name;
        EXPECT_EQ(refusedInAll, c.refused) << c.name;
        EXPECT_EQ(router.Table().Subscriptions(), c.subscriptions) << c.name;
    }
}

// Forged subscriptions fill the unproven half of a full table; units that
// answer still get in, taking the place of the least recently heard
// unproven subscriber when the table is full.
TEST(RelayRouterLimits, ProvenUnitsGetRoomWhenForgedOnesFillTheTable)
{
    RecordingSink sink;
    Relay::RelayRouter router(Settings(UnprovenPolicy::kCapped, 4)); // room for 2 unproven
    const Clock::time_point start = Clock::now();
    const auto handle = [&](const Endpoint& from, const Bytes& datagram, Clock::duration at) {
        router.HandleDatagram(from, datagram.data(), datagram.size(), start + at, sink);
    };
    handle(Unit(101), List(1, {kGroup1}), {});
    handle(Unit(102), List(1, {kGroup1}), milliseconds(1));
    for (unsigned char n = 1; n <= 3; ++n) {
        const Clock::duration at = seconds(n);
        handle(Unit(n), List(n, {kGroup2}), at); // no room to remember it, but challenged
        ASSERT_EQ(sink.Challenges(Unit(n)).size(), 1u) << int(n);
        handle(Unit(n), AnswerTo(sink.Challenges(Unit(n))[0], n), at);
        handle(Unit(n), List(n, {kGroup2}), at + milliseconds(1)); // its next refresh
    }
    handle(Unit(9), Message(kGroup2, 1), seconds(5));
    for (unsigned char n = 1; n <= 3; ++n)
        EXPECT_EQ(sink.Messages(Unit(n)), 1u) << int(n);
    EXPECT_EQ(router.Subscribers(), 4u);
    EXPECT_EQ(router.Table().ProvenCount(), 3u);
    EXPECT_EQ(router.Counters().evictedSubscribers, 1u);
    handle(Unit(9), Message(kGroup1, 2), seconds(5)); // the older forged one went
    EXPECT_EQ(sink.Messages(Unit(101)), 0u);
    EXPECT_EQ(sink.Messages(Unit(102)), 1u);
}

// Relays subscribed to each other (a forged subscription, or a mistake)
// pass a datagram round once, not for ever, and the subscriptions lapse
// although traffic keeps flowing between them.
TEST(RelayRouterLoops, RingsAndMeshesForwardADatagramOnceAndTheirSubscriptionsLapse)
{
    struct Network : Relay::DatagramSink
    {
        std::map<Endpoint, std::unique_ptr<Relay::RelayRouter>> relays;
        std::deque<std::pair<Endpoint, std::pair<Endpoint, Bytes>>> wire; // to, (from, datagram)
        Endpoint sending;
        std::size_t betweenRelays = 0;

        bool Accepting(const Endpoint&, std::size_t) const override { return true; }
        bool Forward(const Endpoint&, const unsigned char* data, std::size_t length,
                     const std::vector<Endpoint>& targets, Clock::time_point) override
        {
            for (const Endpoint& to : targets)
                wire.push_back({to, {sending, Bytes(data, data + length)}});
            return true;
        }
        void Send(const Endpoint&, const unsigned char*, std::size_t, Relay::OutKind) override {}
        // Delivers until the wire is quiet, at most `bound` datagrams.
        void Settle(Clock::time_point now, std::size_t bound = 100000)
        {
            for (std::size_t delivered = 0; !wire.empty() && delivered < bound; ++delivered) {
                auto [to, datagram] = wire.front();
                wire.pop_front();
                const auto relay = relays.find(to);
                if (relay == relays.end())
                    continue;
                betweenRelays += relays.count(datagram.first);
                sending = to;
                relay->second->HandleDatagram(datagram.first, datagram.second.data(), datagram.second.size(), now,
                                              *this);
            }
        }
    };
    struct Shape
    {
        const char* name;
        int relays;
        bool mesh; // every relay subscribed at every other; else a ring
        std::size_t forwardsBetweenRelays;
    };
    for (const Shape& shape : {Shape{"ring of 3", 3, false, 3}, Shape{"mesh of 4", 4, true, 4 * 3}}) {
        Network network;
        const Clock::time_point start = Clock::now();
        std::vector<Endpoint> addresses;
        for (int i = 0; i < shape.relays; ++i) {
            addresses.push_back(At(0x0A000001u + static_cast<unsigned int>(i), 3301));
            network.relays[addresses.back()] = std::make_unique<Relay::RelayRouter>(Settings(UnprovenPolicy::kOpen));
        }
        const Bytes forged = List(0, {kGroup1});
        for (int i = 0; i < shape.relays; ++i)
            for (int j = 0; j < shape.relays; ++j)
                if (i != j && (shape.mesh || j == (i + 1) % shape.relays))
                    network.wire.push_back({addresses[static_cast<std::size_t>(i)], {addresses[static_cast<std::size_t>(j)], forged}});
        network.Settle(start);
        network.betweenRelays = 0;

        // A unit sends each datagram to every relay.
        const auto talk = [&](unsigned int seed) {
            for (const Endpoint& relay : addresses)
                network.wire.push_back({relay, {Unit(9), Message(kGroup1, seed)}});
        };
        talk(1);
        network.Settle(start);
        EXPECT_EQ(network.betweenRelays, shape.forwardsBetweenRelays) << shape.name;

        // A datagram a second for 70 s: the forged subscriptions are never
        // renewed, so after the 60-s time-out nothing passes between relays.
        for (int second = 1; second <= 70; ++second) {
            network.betweenRelays = 0;
            talk(100u + static_cast<unsigned>(second));
            network.Settle(start + seconds(second));
            for (auto& [address, relay] : network.relays)
                relay->Sweep(start + seconds(second));
        }
        EXPECT_EQ(network.betweenRelays, 0u) << shape.name;
    }
}

// Joins, leaves, lists and time-outs in random order: every group's member
// list always matches a plain model of the subscriptions.
TEST(RelayRouterTable, MemberListsMatchAModelThroughRandomChurn)
{
    RecordingSink sink;
    Relay::RelayRouter router(Settings(UnprovenPolicy::kOpen));
    std::map<Endpoint, std::set<unsigned int>> model;
    std::mt19937 random(7);
    Clock::time_point now = Clock::now();
    const auto handle = [&](const Endpoint& from, const Bytes& datagram) {
        router.HandleDatagram(from, datagram.data(), datagram.size(), now, sink);
    };
    for (int step = 0; step < 3000; ++step) {
        now += milliseconds(1);
        const Endpoint unit = Unit(static_cast<unsigned char>(1 + random() % 40));
        const unsigned int group = 1 + random() % 12;
        const unsigned int action = random() % 10;
        if (action < 5) {
            handle(unit, Subscription(group, CSubscription::kJoin));
            model[unit].insert(group);
        } else if (action < 8) {
            handle(unit, Subscription(group, CSubscription::kLeave));
            if (model.count(unit))
                model[unit].erase(group);
        } else {
            const std::vector<unsigned int> groups{group, group + 3, group + 5};
            handle(unit, List(1, groups));
            model[unit] = {groups.begin(), groups.end()};
        }
        if (step % 1000 == 999) { // units with odd numbers fall silent
            now += seconds(30);
            for (const auto& [endpoint, groups] : model)
                if (ntohs(endpoint.port) % 2 == 0)
                    handle(endpoint, List(1, {groups.begin(), groups.end()}));
            now += seconds(31);
            router.Sweep(now);
            for (auto it = model.begin(); it != model.end();)
                it = ntohs(it->first.port) % 2 ? model.erase(it) : std::next(it);
        }
        for (unsigned int g = 1; g <= 17; ++g) {
            std::set<Endpoint> expected;
            for (const auto& [endpoint, groups] : model)
                if (groups.count(g))
                    expected.insert(endpoint);
            std::set<Endpoint> actual;
            for (const Relay::Subscriber* member : router.Table().MembersOf(g))
                actual.insert(member->endpoint);
            ASSERT_EQ(actual, expected) << "group " << g << " after step " << step;
        }
    }
    EXPECT_EQ(router.Subscribers(), model.size());
}

// A sender to a huge group cannot make a small group's datagram wait: each
// sender gets its turn, each sender's copies stay in order, and the backlog
// refuses a flooding sender but not the others.
TEST(ForwardQueue, SendersTakeTurnsInOrderWithinBoundedBacklogs)
{
    Relay::QueueLimits limits;
    limits.quantum = 256;
    limits.senderBacklog = 10000;
    limits.backlog = 20000;
    Relay::ForwardQueue queue(limits);
    std::vector<Endpoint> crowd;
    for (unsigned short p = 1; p <= 5000; ++p)
        crowd.push_back(At(0x0A000001, p));
    const Endpoint flooder = Unit(1), talker = Unit(2), listener = Unit(3);
    const unsigned char big[] = {1}, second[] = {2}, third[] = {3}, small[] = {7};
    const Clock::time_point now = Clock::now();
    EXPECT_TRUE(queue.Forward(flooder, big, 1, crowd, now));
    EXPECT_TRUE(queue.Forward(flooder, second, 1, crowd, now));
    EXPECT_FALSE(queue.Forward(flooder, third, 1, crowd, now)) << "over the sender's backlog";
    EXPECT_FALSE(queue.Accepting(flooder, 1)) << "a full sender backlog";
    EXPECT_TRUE(queue.Accepting(talker, 1));
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(queue.Forward(talker, small, 1, {listener}, now));

    std::vector<Relay::PendingSend> first;
    queue.Take(1024, first);
    ASSERT_EQ(first.size(), 1024u);
    std::size_t talkerCopies = 0;
    for (const Relay::PendingSend& send : first)
        talkerCopies += send.to == listener;
    EXPECT_EQ(talkerCopies, 3u) << "the small group's datagrams go in the first pass";
    queue.Release([](Clock::time_point) {});

    std::vector<unsigned char> order;
    for (const Relay::PendingSend& send : first)
        if (send.to == crowd[0])
            order.push_back(send.data[0]);
    for (int pass = 0; pass < 20 && !queue.Empty(); ++pass) {
        std::vector<Relay::PendingSend> more;
        queue.Take(1024, more);
        for (const Relay::PendingSend& send : more)
            if (send.to == crowd[0] || send.to == crowd[4999])
                order.push_back(send.data[0]);
        queue.Release([](Clock::time_point) {});
    }
    EXPECT_TRUE(queue.Empty());
    EXPECT_EQ(order, (std::vector<unsigned char>{1, 1, 2, 2})) << "one sender's datagrams in order";
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
        {{"--control-socket", "/tmp/relay.control", "notify", "0x123456"}, true},
        {{"--unproven-policy", "strict", "--max-datagrams-per-second", "0", "--workers", "2"}, true},
        {{"--metrics", "127.0.0.1:9101", "--log-level", "debug", "counters"}, true},
        {{"counters"}, true},
        {{"--port"}, false},
        {{"--port", "70000"}, false},
        {{"--port", "-1"}, false},
        {{"--listen", "localhost"}, false},
        {{"--control-port", "4001"}, false}, // control is a Unix socket now
        {{"--unproven-policy", "lax"}, false},
        {{"--workers", "65"}, false},
        {{"--metrics", "localhost:9101"}, false},
        {{"--proof-lifetime", "10"}, false},
        {{"--max_subscribers", "10"}, false}, // underscores only in the config file
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

// The config file installed with the service states the built-in defaults,
// apart from the control socket's place under the service's runtime folder
// and its group.
TEST(RelayOptions, ShippedConfigFileStatesTheDefaults)
{
    Relay::RelayOptions shipped, defaults;
    std::string error;
    ASSERT_TRUE(Relay::ParseOptions({"--config", RVX_RELAY_CONFIG}, shipped, error)) << error;
    EXPECT_EQ(shipped.controlSocket, "/run/halvane-relay/control-3301");
    EXPECT_EQ(shipped.controlGroup, "halvane-relay-control");
    shipped.controlSocket.clear();
    shipped.controlGroup.clear();
    shipped.configFile.clear();
    const auto same = [](const Relay::RelayOptions& a, const Relay::RelayOptions& b) {
        const Relay::RouterSettings &x = a.router, &y = b.router;
        return a.listenAddress == b.listenAddress && a.port == b.port && a.controlSocket == b.controlSocket &&
               a.controlGroup == b.controlGroup && a.workers == b.workers && a.metrics == b.metrics &&
               a.logLevel == b.logLevel && x.subscriberTimeout == y.subscriberTimeout &&
               x.maxSubscribers == y.maxSubscribers && x.unprovenPolicy == y.unprovenPolicy &&
               x.unprovenBytesPerSecond == y.unprovenBytesPerSecond && x.proofLifetime == y.proofLifetime &&
               x.maxEndpointsPerAddress == y.maxEndpointsPerAddress &&
               x.maxSubscriptionsPerAddress == y.maxSubscriptionsPerAddress &&
               x.maxGroupsPerEndpoint == y.maxGroupsPerEndpoint && x.maxDatagramsPerSecond == y.maxDatagramsPerSecond;
    };
    EXPECT_TRUE(same(shipped, defaults));
}

TEST(RelayOptions, ControlSocketDefaultsByTrunkPortAndCanBeOff)
{
    Relay::RelayOptions options;
    std::string error;
    ASSERT_TRUE(Relay::ParseOptions({"--port", "4000"}, options, error));
    EXPECT_EQ(options.ControlPath().substr(options.ControlPath().rfind('/')), "/control-4000");
    ASSERT_TRUE(Relay::ParseOptions({"--control-socket", "off", "notify", "258"}, options, error));
    EXPECT_EQ(options.ControlPath(), "");
    EXPECT_EQ(options.command, Relay::Command::kNotify);
    EXPECT_EQ(options.deviceId, 258u);
}

// Config files: every option by its name, comments and blank lines; the
// command line wins; a mistake names the file and line.
TEST(RelayOptions, ConfigFileSetsOptionsAndNamesTheLineOfAMistake)
{
    struct ConfigCase
    {
        const char* text;
        std::vector<std::string> arguments; // after --config FILE
        const char* error;                  // a piece of it, or empty when valid
    };
    const ConfigCase cases[] = {
        {"# a public relay\n\nlisten = 127.0.0.3\nport=4100\nunproven_policy = strict\n"
         "max-groups-per-endpoint = 12\n  metrics = 127.0.0.1:9101  \n",
         {"--port", "4200"}, ""},
        {"port = 4100\nworkers = 2\ncolour = blue\n", {}, ":3: unknown key 'colour'"},
        {"port = 4100\nport = x\n", {}, ":2: 'port' is set twice"},
        {"listen = 127.0.0.1\nport = x\n", {}, ":2: port: not a number from 0 to 65535: x"},
        {"unproven_policy = lax\n", {}, ":1: unproven_policy: not open, capped or strict: lax"},
        {"just words\n", {}, ":1: expected KEY = VALUE: just words"},
        {"config = other.conf\n", {}, ":1: unknown key 'config'"},
    };
    char folder[] = "/tmp/relayconf.XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    const std::string path = std::string(folder) + "/halvane-relay.conf";
    for (const ConfigCase& c : cases) {
        std::ofstream(path) << c.text;
        std::vector<std::string> arguments{"--config", path};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        Relay::RelayOptions options;
        std::string error;
        const bool valid = Relay::ParseOptions(arguments, options, error);
        EXPECT_EQ(valid, std::string(c.error).empty()) << c.text << error;
        if (!valid) {
            EXPECT_NE(error.find(path + c.error), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(options.listenAddress, "127.0.0.3");
        EXPECT_EQ(options.port, 4200);
        EXPECT_EQ(options.router.unprovenPolicy, UnprovenPolicy::kStrict);
        EXPECT_EQ(options.router.maxGroupsPerEndpoint, 12u);
        EXPECT_EQ(options.metrics, "127.0.0.1:9101");
    }
    Relay::RelayOptions options;
    std::string error;
    EXPECT_FALSE(Relay::ParseOptions({"--config", std::string(folder) + "/missing.conf"}, options, error));
    EXPECT_NE(error.find("cannot read the config file"), std::string::npos) << error;
    std::remove(path.c_str());
    ::rmdir(folder);
}

} // namespace
