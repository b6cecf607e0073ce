// The virtual interface against real UDP sockets on 127.0.0.x that play the
// relay routers: tunnelling, subscription refresh, delivery and duplicates.
#include "Adapter/VirtualInterface.h"

#include "Adapter/Crc32.h"
#include "FakeClock.h"
#include "LogCapture.h"
#include "Packet/SubscriptionListPacket.h"
#include "UdpEndpoint.h"

#include <algorithm>
#include <arpa/inet.h>
#include <deque>
#include <gtest/gtest.h>
#include <random>
#include <regex>

using namespace Halvane::Packet;
using Halvane::Adapter::CVirtualInterface;
using rvx::test::Bytes;
using rvx::test::FakeClock;
using rvx::test::LogCapture;
using rvx::test::UdpEndpoint;

namespace {

constexpr unsigned int kDeviceId = 0x123456;
constexpr unsigned int kTrunked1 = 0xEF010101; // 239.1.1.1
constexpr unsigned int kTrunked2 = 0xEF020202; // 239.2.2.2
constexpr unsigned int kLocal1 = 0xE1040909;   // 225.4.9.9
constexpr unsigned int kLocal2 = 0xE1050505;   // 225.5.5.5
constexpr std::chrono::milliseconds kQuiet(30);

int g_callbacks = 0;
void CountCallback()
{
    ++g_callbacks;
}

sockaddr_in GroupAddress(unsigned int groupId)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(groupId);
    address.sin_port = htons(50000);
    return address;
}

Bytes Encode(const CPacket& packet)
{
    Bytes out(CPacket::kMaxDatagramSize);
    packet.Encode(out.data());
    out.resize(packet.EncodedSize());
    return out;
}

Bytes GroupMessage(unsigned int groupId, const Bytes& payload, unsigned char kind = kKindRtp)
{
    return Encode(CGroupMsg(0x777, 0, payload.data(), static_cast<unsigned int>(payload.size()), kind, groupId));
}

Bytes Notification(CWebManagementMsg::EMsgType type)
{
    return Encode(CWebManagementMsg(0, 0, nullptr, 0, type));
}

class VirtualInterface : public ::testing::Test
{
protected:
    VirtualInterface() : trunk(kDeviceId, 0, "lo", &CountCallback)
    {
        g_callbacks = 0;
        AddRouter(router);
    }

    void AddRouter(const UdpEndpoint& router) { ASSERT_TRUE(trunk.InitializeRouter(router.Address(), router.Port())); }

    Halvane::Sys::CSocket& OpenSocket(unsigned int descriptor, std::initializer_list<unsigned int> groups)
    {
        trunk.OpenSocket(descriptor);
        Halvane::Sys::CSocket& socket = *trunk.Socket(descriptor);
        for (unsigned int group : groups)
            socket.AddToGroupButDontSendSubscriptionPacket(group);
        return socket;
    }

    // The router's side of the trunk: sends a datagram to the interface.
    void Relay(const Bytes& datagram) { ASSERT_TRUE(router.SendTo(trunk.LocalPort(), datagram)); }

    UdpEndpoint router{"127.0.0.1"}; // the configured router
    CVirtualInterface trunk;
};

TEST_F(VirtualInterface, GroupMessageGoesToEveryRouterAsPayloadPlusTwelveBytes)
{
    UdpEndpoint second("127.0.0.2");
    AddRouter(second);
    const sockaddr_in group = GroupAddress(kTrunked1);
    const char payload[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(trunk.SendBytes(payload, 5, reinterpret_cast<const sockaddr*>(&group), 0, kKindRtcp), 17);

    for (const UdpEndpoint* endpoint : {&router, &second}) {
        const auto datagram = endpoint->Receive();
        ASSERT_TRUE(datagram);
        EXPECT_EQ(rvx::test::ToHex(*datagram), "02 02 00 00 56 34 12 00 01 01 01 EF 01 02 03 04 05");
    }
}

TEST(VirtualInterfaceWithoutRouters, EverySendFails)
{
    CVirtualInterface trunk(kDeviceId, 0, "lo", nullptr);
    const sockaddr_in group = GroupAddress(kTrunked1);
    EXPECT_EQ(trunk.SendBytes("x", 1, reinterpret_cast<const sockaddr*>(&group), 0, kKindRtp), -1);
    EXPECT_EQ(trunk.SendSubscriptionPacket(1, kTrunked1, CSubscription::kJoin), -1);
    EXPECT_EQ(trunk.SendSubscriptionListPacket(nullptr, 0), -1);
}

TEST_F(VirtualInterface, BadRouterAddressesAreRefused)
{
    LogCapture log;
    EXPECT_FALSE(trunk.InitializeRouter("router.example", 3301));
    EXPECT_FALSE(trunk.InitializeRouter("127.0.0.1", 70000));
    EXPECT_EQ(trunk.Routers().size(), 1u); // the fixture's
    EXPECT_EQ(log.Count("Ignoring router"), 2u);
}

// What one subscription refresh sent: the list's ids and the joins' groups.
struct Refresh
{
    std::vector<unsigned int> listed;
    std::vector<unsigned int> joined;
    std::size_t datagrams = 0;
};

Refresh ReadRefresh(const UdpEndpoint& router)
{
    Refresh refresh;
    for (const Bytes& datagram : router.ReceiveAll(kQuiet)) {
        ++refresh.datagrams;
        const auto packet = CPacket::CreatePacket(datagram.data(), static_cast<unsigned int>(datagram.size()));
        if (packet && packet->Type() == kTypeSubscriptionList)
            refresh.listed = static_cast<const CSubscriptionListPacket&>(*packet).GroupIds();
        if (packet && packet->Type() == kTypeSubscription)
            refresh.joined.push_back(static_cast<const CSubscription&>(*packet).GroupId());
    }
    return refresh;
}

TEST_F(VirtualInterface, RefreshesAtTheFirstPollAfterChangesAndEvery25Seconds)
{
    FakeClock clock(1000);
    OpenSocket(5, {kTrunked1, kLocal1});
    OpenSocket(6, {kTrunked2, kTrunked1, kLocal2});

    const std::vector<unsigned int> list{kTrunked1, kTrunked2};
    const std::vector<unsigned int> joins{kTrunked1, kTrunked1, kTrunked2}; // per (socket, group)
    trunk.ProcessIncoming();
    Refresh first = ReadRefresh(router);
    EXPECT_EQ(first.listed, list);
    EXPECT_EQ(first.joined, joins);
    EXPECT_EQ(first.datagrams, 4u);

    clock.Advance(24999);
    trunk.ProcessIncoming();
    EXPECT_EQ(ReadRefresh(router).datagrams, 0u);

    clock.Advance(1);
    trunk.ProcessIncoming();
    Refresh periodic = ReadRefresh(router);
    EXPECT_EQ(periodic.listed, list);
    EXPECT_EQ(periodic.joined, joins);

    clock.Advance(10);
    trunk.MarkSubscriptionsDirty();
    trunk.ProcessIncoming();
    EXPECT_EQ(ReadRefresh(router).datagrams, 4u);
    trunk.ProcessIncoming();
    EXPECT_EQ(ReadRefresh(router).datagrams, 0u);
}

TEST_F(VirtualInterface, InjectedShorterRefreshIntervalIsHonoured)
{
    OpenSocket(5, {kTrunked1});
    trunk.SetSubscriptionRefreshInterval(50);
    trunk.ProcessIncoming();
    EXPECT_EQ(ReadRefresh(router).datagrams, 2u);
    polled_timer_t::sleep(60);
    trunk.ProcessIncoming();
    EXPECT_EQ(ReadRefresh(router).joined, std::vector<unsigned int>{kTrunked1});
}

TEST_F(VirtualInterface, WithOnlyLocalGroupsTheListIsEmptyAndNoJoinIsSent)
{
    OpenSocket(5, {kLocal1, kLocal2});
    trunk.ProcessIncoming();
    const auto datagrams = router.ReceiveAll(kQuiet);
    ASSERT_EQ(datagrams.size(), 1u);
    EXPECT_EQ(rvx::test::ToHex(datagrams[0]), "05 00 00 00 56 34 12 00 00");
}

TEST_F(VirtualInterface, ListsAtMostFiftyGroupsTheSmallestFirst)
{
    LogCapture log("DISABLE_SUBSCRIPTION_PACKET");
    Halvane::Sys::CSocket& socket = OpenSocket(5, {});
    for (unsigned int i = 60; i > 0; --i)
        socket.AddToGroupButDontSendSubscriptionPacket(0xEF000000 + i);
    trunk.ProcessIncoming();
    const Refresh refresh = ReadRefresh(router);
    ASSERT_EQ(refresh.listed.size(), 50u);
    EXPECT_EQ(refresh.listed.front(), 0xEF000001u);
    EXPECT_EQ(refresh.listed.back(), 0xEF000032u);
    EXPECT_TRUE(refresh.joined.empty()); // disabled by the flag
    EXPECT_TRUE(log.Contains("Too many subscriptions\n"));
}

TEST_F(VirtualInterface, DuplicatesAreQueuedOnceOnSocketsThatDropThem)
{
    Halvane::Sys::CSocket& dropping = OpenSocket(5, {kTrunked1});
    Halvane::Sys::CSocket& keeping = OpenSocket(6, {kTrunked1});
    Halvane::Sys::CSocket& elsewhere = OpenSocket(7, {kTrunked2});
    keeping.SetDropDuplicates(false);
    const Bytes message = GroupMessage(kTrunked1, {0x80, 0x60, 0, 1});
    Relay(message);
    Relay(message);
    trunk.ProcessIncoming();
    EXPECT_EQ(dropping.QueuedPackets(), 1u);
    EXPECT_EQ(keeping.QueuedPackets(), 2u);
    EXPECT_EQ(elsewhere.QueuedPackets(), 0u);
}

TEST_F(VirtualInterface, DuplicateWindowIsSharedWithLocalReceives)
{
    Halvane::Sys::CSocket& socket = OpenSocket(5, {kTrunked1});
    const Bytes rtp{0x80, 0x60, 0x12, 0x34, 0xAB};
    EXPECT_FALSE(trunk.IsRecentDuplicate(rtp.data(), static_cast<unsigned int>(rtp.size()))); // arrived locally
    Relay(GroupMessage(kTrunked1, rtp));
    trunk.ProcessIncoming();
    EXPECT_EQ(socket.QueuedPackets(), 0u);
}

TEST_F(VirtualInterface, DuplicateWindowForgetsAfter512Checks)
{
    Halvane::Sys::CSocket& socket = OpenSocket(5, {kTrunked1});
    const Bytes first{0x01};
    EXPECT_FALSE(trunk.IsRecentDuplicate(first.data(), 1));
    for (unsigned int i = 0; i < 511; ++i)
        trunk.IsRecentDuplicate(reinterpret_cast<const unsigned char*>(&i), sizeof i);
    EXPECT_TRUE(trunk.IsRecentDuplicate(first.data(), 1)); // still the 512th check back
    for (unsigned int i = 0; i < 512; ++i) {
        const unsigned int other = 1000 + i;
        trunk.IsRecentDuplicate(reinterpret_cast<const unsigned char*>(&other), sizeof other);
    }
    Relay(GroupMessage(kTrunked1, first));
    trunk.ProcessIncoming();
    EXPECT_EQ(socket.QueuedPackets(), 1u);
}

// A long run of checks drawn from a small pool, so that payloads come back
// within and beyond the window, against a plain scan of the last 512 CRCs.
TEST(DuplicateWindow, AgreesWithAScanOfTheLast512Checks)
{
    Halvane::Adapter::CDuplicateWindow window;
    std::deque<std::uint32_t> last;
    std::mt19937 random(7);
    std::uniform_int_distribution<unsigned int> pool(0, 1100);
    for (int check = 0; check < 20000; ++check) {
        const unsigned int value = check % 97 == 0 ? 1000000u + check : pool(random); // some never repeat
        const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
        const std::uint32_t crc = Halvane::Adapter::Crc32(bytes, sizeof value);
        const bool expected = std::find(last.begin(), last.end(), crc) != last.end();
        ASSERT_EQ(window.SeenRecently(bytes, sizeof value), expected) << "check " << check;
        last.push_back(crc);
        if (last.size() > Halvane::Adapter::CDuplicateWindow::kWindowSize)
            last.pop_front();
    }
}

TEST_F(VirtualInterface, SettingsChangedNotificationCallsTheCallbackOnce)
{
    Relay(Notification(CWebManagementMsg::kSettingsChanged));
    Relay(Notification(static_cast<CWebManagementMsg::EMsgType>(2)));
    trunk.ProcessIncoming();
    EXPECT_EQ(g_callbacks, 1);
}

// The trunk takes datagrams from its routers only: group messages and
// notices from any other address or port are dropped and counted, so a
// stranger can neither feed the sockets nor make the unit fetch settings.
TEST_F(VirtualInterface, OnlyTheConfiguredRoutersAreHeard)
{
    LogCapture log;
    Halvane::Sys::CSocket& socket = OpenSocket(5, {kTrunked1});
    UdpEndpoint otherAddress("127.0.0.2"), otherPort("127.0.0.1");
    struct Sender
    {
        const UdpEndpoint& endpoint;
        bool heard;
    };
    const Sender senders[] = {{otherAddress, false}, {otherPort, false}, {router, true}};
    std::size_t queued = 0;
    int callbacks = 0;
    unsigned char sequence = 0;
    for (const Sender& sender : senders) {
        ASSERT_TRUE(sender.endpoint.SendTo(trunk.LocalPort(), GroupMessage(kTrunked1, {0x80, ++sequence})));
        ASSERT_TRUE(sender.endpoint.SendTo(trunk.LocalPort(), Notification(CWebManagementMsg::kSettingsChanged)));
        trunk.ProcessIncoming();
        queued += sender.heard ? 1 : 0;
        callbacks += sender.heard ? 1 : 0;
        EXPECT_EQ(socket.QueuedPackets(), queued) << sender.endpoint.Address() << ":" << sender.endpoint.Port();
        EXPECT_EQ(g_callbacks, callbacks) << sender.endpoint.Address() << ":" << sender.endpoint.Port();
    }
    EXPECT_EQ(trunk.ForeignDatagramsDropped(), 4u);
    EXPECT_TRUE(log.Contains("Dropping a trunk datagram from 127.0.0.2:" + std::to_string(otherAddress.Port()) +
                             ": not a configured router."));
}

// A router proves that the unit asked for traffic by a challenge whose cookie
// the unit echoes: to that router only, with the unit's id, at a bounded
// rate, and never to a stranger or for an oversized cookie.
TEST_F(VirtualInterface, ChallengesFromARouterAreAnsweredToThatRouterOnly)
{
    LogCapture log;
    UdpEndpoint second("127.0.0.2"), stranger("127.0.0.3");
    AddRouter(second);
    trunk.ProcessIncoming(); // the first poll's subscription refresh
    router.ReceiveAll(kQuiet);
    second.ReceiveAll(kQuiet);
    const Bytes cookie = rvx::test::HexBytes("01 02 03 04 05 06 07 08 09 0A 0B 0C");
    const Bytes challenge = Encode(CChallenge(0, 0, cookie.data(), static_cast<unsigned int>(cookie.size())));
    ASSERT_TRUE(stranger.SendTo(trunk.LocalPort(), challenge));
    ASSERT_TRUE(second.SendTo(trunk.LocalPort(), challenge));
    ASSERT_TRUE(second.SendTo(trunk.LocalPort(), Encode(CChallenge(0, 0, Bytes(65, 1).data(), 65))));
    trunk.ProcessIncoming();
    const auto answer = second.Receive(kQuiet);
    ASSERT_TRUE(answer);
    EXPECT_EQ(rvx::test::ToHex(*answer), "07 00 00 00 56 34 12 00 01 02 03 04 05 06 07 08 09 0A 0B 0C");
    EXPECT_FALSE(second.Receive(kQuiet)) << "the 65-byte cookie is not answered";
    EXPECT_FALSE(router.Receive(kQuiet));
    EXPECT_FALSE(stranger.Receive(kQuiet));

    // A flood of challenges in a router's name gets a bounded number of answers.
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(router.SendTo(trunk.LocalPort(), challenge));
    trunk.ProcessIncoming();
    EXPECT_LE(router.ReceiveAll(kQuiet).size(), CVirtualInterface::kMaxAnswersPerSecond);
    EXPECT_TRUE(log.Contains("unanswered"));
}

TEST(VirtualInterfaceWithoutCallback, NotificationIsLoggedOnly)
{
    LogCapture log;
    CVirtualInterface trunk(1, 0, "lo", nullptr);
    UdpEndpoint router;
    ASSERT_TRUE(trunk.InitializeRouter(router.Address(), router.Port()));
    router.SendTo(trunk.LocalPort(), Notification(CWebManagementMsg::kSettingsChanged));
    trunk.ProcessIncoming();
    EXPECT_TRUE(log.Contains("cVirtualInterfaceFp is null."));
}

TEST_F(VirtualInterface, LocalGroupMessageIsDiscardedAndEndsThePoll)
{
    LogCapture log;
    Halvane::Sys::CSocket& local = OpenSocket(5, {0xE1040001});
    Halvane::Sys::CSocket& trunked = OpenSocket(6, {kTrunked1});
    Relay(GroupMessage(0xE1040001, {1}));
    Relay(GroupMessage(kTrunked1, {2}));
    trunk.ProcessIncoming();
    EXPECT_EQ(local.QueuedPackets(), 0u);
    EXPECT_EQ(trunked.QueuedPackets(), 0u);
    EXPECT_TRUE(log.Contains("Discarding a packet from Halvane2 with a local multicast address"));
    trunk.ProcessIncoming();
    EXPECT_EQ(trunked.QueuedPackets(), 1u);
}

// The sum of the counts in the summary lines "... N more <what> in the last S s".
long long SummarisedCount(const std::string& log, const std::string& what)
{
    const std::regex summary(" (\\d+) more " + what + " in the last \\d+ s\n");
    long long sum = 0;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), summary); it != std::sregex_iterator(); ++it)
        sum += std::stoll((*it)[1]);
    return sum;
}

// Datagrams that are dropped or only noted, sent by the hundred as anyone
// who reaches the trunk port can: each kind is logged in full once and then
// only counted, the counts add up, and the poll goes on past all of them.
TEST(VirtualInterfaceFlood, RepeatedDropsAreLoggedAsCountsThatAddUp)
{
    struct Kind
    {
        std::vector<Bytes> datagrams; // sent once each per round (none: one event per round)
        const char* fullLine;         // printed for the first one only
        const char* what;             // named by the summaries
    };
    Bytes oversized = GroupMessage(kTrunked1, Bytes(1988, 0x11));
    oversized.push_back(0x22);
    const Kind kinds[] = {
        {{oversized,                         // 2001 bytes
          {0x02, 0x01, 0x00},                // shorter than any header
          {0x05, 0, 0, 0, 0, 0, 0, 0},       // list without its reserved byte
          {0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0}, // no such type
          {}},                               // empty
         "Dropping a datagram of 2001 bytes: larger than 2000 bytes.\n  ProcessIncoming skipping invalid (NULL) packet\n",
         "malformed trunk datagrams"},
        {{Encode(CSubscription(1, 0, nullptr, 0, kTrunked1, CSubscription::kJoin))},
         "  ProcessIncoming discarding packet of unknown type\n",
         "trunk packets of a type a unit does not take"},
        {{Notification(CWebManagementMsg::kSettingsChanged)}, "WebManagement Packet!\n", "web-management messages"},
        {{}, "Dropping rather than queuing packet for SocketID 5", "group messages for sockets with full queues"},
        {{}, "Refusing a payload of 1989 bytes", "datagrams too long for a trunk packet"}, // handed on by the radio
    };
    const Bytes tooLong(CGroupMsg::kMaxPayload + 1, 0x33);
    constexpr int kRounds = 100;
    LogCapture log;
    UdpEndpoint router;
    g_callbacks = 0;
    std::size_t deliveredAfterTheFlood = 0;
    {
        CVirtualInterface trunk(kDeviceId, 0, "lo", &CountCallback);
        ASSERT_TRUE(trunk.InitializeRouter(router.Address(), router.Port()));
        trunk.OpenSocket(5);
        trunk.Socket(5)->AddToGroupButDontSendSubscriptionPacket(kTrunked1);
        trunk.OpenSocket(6);
        trunk.Socket(6)->AddToGroupButDontSendSubscriptionPacket(kTrunked2);
        for (unsigned int i = 0; i <= Halvane::Sys::CSocket::kQueueLimit; ++i)
            trunk.Socket(5)->Queue(CGroupMsg(1, 0, nullptr, 0, kKindRtp, kTrunked1), kTrunked1);
        for (int round = 0; round < kRounds; ++round) {
            for (const Kind& kind : kinds)
                for (const Bytes& datagram : kind.datagrams)
                    ASSERT_TRUE(router.SendTo(trunk.LocalPort(), datagram));
            const unsigned char sequence[] = {static_cast<unsigned char>(round)};
            ASSERT_TRUE(router.SendTo(trunk.LocalPort(), Encode(CGroupMsg(1, 0, sequence, 1, kKindRtp, kTrunked1))));
            trunk.ProcessIncoming(); // one per round: the trunk socket's buffer is small
            EXPECT_EQ(trunk.QueueDatagramForGroup(kTrunked2, tooLong.data(), static_cast<unsigned int>(tooLong.size())),
                      0u);
        }
        ASSERT_TRUE(router.SendTo(trunk.LocalPort(), GroupMessage(kTrunked2, {0xAB, 0xCD})));
        trunk.ProcessIncoming();
        deliveredAfterTheFlood = trunk.Socket(6)->QueuedPackets();
    } // the last counts are told when the interface goes

    EXPECT_EQ(deliveredAfterTheFlood, 1u);
    EXPECT_EQ(g_callbacks, kRounds) << "every notice still acts";
    const std::string text = log.Text();
    for (const Kind& kind : kinds) {
        const long long sent = kRounds * static_cast<long long>(std::max<std::size_t>(kind.datagrams.size(), 1));
        EXPECT_EQ(log.Count(kind.fullLine), 1u) << kind.what;
        EXPECT_EQ(1 + SummarisedCount(text, kind.what), sent) << kind.what;
    }
    EXPECT_LE(log.Count("\n"), 12u) << "a handful of lines, not one per datagram:\n" << text;
}

TEST_F(VirtualInterface, BlockedTrunkReceiveConsumesOneDatagramPerPoll)
{
    Halvane::Sys::CSocket& socket = OpenSocket(5, {kTrunked1});
    Relay(GroupMessage(kTrunked1, {1}));
    Relay(GroupMessage(kTrunked1, {2}));
    {
        LogCapture log("BLOCK_HALVANE_RX");
        trunk.ProcessIncoming();
        EXPECT_EQ(log.Count("dropped because BLOCK_HALVANE_RX"), 1u);
    }
    trunk.ProcessIncoming();
    unsigned char payload[4] = {};
    EXPECT_EQ(socket.Receive(payload, sizeof payload, nullptr, nullptr), 1u);
    EXPECT_EQ(payload[0], 2);
}

TEST_F(VirtualInterface, PollsRightAfterAnEmptyPollAreSkippedForAMomentOnly)
{
    Halvane::Sys::CSocket& socket = OpenSocket(5, {kTrunked1});
    trunk.SetTrunkPollInterval(std::chrono::milliseconds(20));
    trunk.ProcessIncoming(); // finds nothing
    Relay(GroupMessage(kTrunked1, {1}));
    trunk.ProcessIncoming();
    EXPECT_EQ(socket.QueuedPackets(), 0u);
    polled_timer_t::sleep(25);
    trunk.ProcessIncoming();
    EXPECT_EQ(socket.QueuedPackets(), 1u);

    Relay(GroupMessage(kTrunked1, {2})); // the last poll found data: the next one is not skipped
    trunk.ProcessIncoming();
    EXPECT_EQ(socket.QueuedPackets(), 2u);
}

TEST_F(VirtualInterface, FeedPacketToQueueReachesEveryMemberWithoutTheDuplicateTest)
{
    OpenSocket(5, {kTrunked1});
    OpenSocket(6, {kTrunked1});
    OpenSocket(7, {kTrunked2});
    const unsigned char payload[] = {7};
    const CGroupMsg message(0, 0, payload, 1, kKindRtp, kTrunked1);
    EXPECT_EQ(trunk.FeedPacketToQueue(message), 2u);
    EXPECT_EQ(trunk.FeedPacketToQueue(message), 2u);
    EXPECT_EQ(trunk.Socket(5)->QueuedPackets(), 2u);
}

} // namespace
