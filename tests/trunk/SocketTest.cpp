// Virtual sockets: membership with its subscription packets, and the packet
// queue with its limit and its receive rules.
#include "RecordingInterface.h"

#include "LogCapture.h"
#include "Packet/GroupMsg.h"
#include "Sys/Network/Socket.h"

#include <gtest/gtest.h>

using Halvane::Packet::CGroupMsg;
using Halvane::Packet::CSubscription;
using Halvane::Sys::CSocket;
using rvx::test::LogCapture;
using rvx::test::RecordingInterface;
using rvx::test::SubscriptionRequest;

namespace {

constexpr unsigned int kGroupA = 0xE1000002; // 225.0.0.2
constexpr unsigned int kGroupB = 0xE1000009; // 225.0.0.9

class VirtualSocket : public ::testing::Test
{
protected:
    VirtualSocket() { owner.OpenSocket(7); }

    CSocket& socket() { return *owner.Socket(7); }

    // A group message whose payload is its sequence number's bytes.
    static CGroupMsg Message(unsigned int sequence, unsigned char kind = Halvane::Packet::kKindRtp,
                             unsigned int length = 4)
    {
        unsigned char payload[8] = {static_cast<unsigned char>(sequence), static_cast<unsigned char>(sequence >> 8)};
        return CGroupMsg(1, 0, payload, length, kind, kGroupA);
    }

    unsigned int ReceiveSequence()
    {
        unsigned char buffer[16] = {};
        return socket().Receive(buffer, sizeof buffer, nullptr, nullptr) ? buffer[0] | buffer[1] << 8 : ~0u;
    }

    RecordingInterface owner;
};

TEST_F(VirtualSocket, JoinTwiceSendsTwoJoinsAndKeepsOneEntry)
{
    socket().JoinGroup(kGroupA);
    socket().JoinGroup(kGroupA);
    EXPECT_EQ(socket().Groups().size(), 1u);
    const SubscriptionRequest join{7, kGroupA, CSubscription::kJoin};
    EXPECT_EQ(owner.requests, (std::vector<SubscriptionRequest>{join, join}));
}

TEST_F(VirtualSocket, LeavingAGroupNeverJoinedStillSendsALeave)
{
    socket().LeaveGroup(kGroupB);
    EXPECT_EQ(owner.requests, (std::vector<SubscriptionRequest>{{7, kGroupB, CSubscription::kLeave}}));
}

TEST_F(VirtualSocket, LeaveAllLeavesTheSmallestGroupFirst)
{
    socket().AddToGroupButDontSendSubscriptionPacket(kGroupB);
    socket().AddToGroupButDontSendSubscriptionPacket(kGroupA);
    EXPECT_TRUE(owner.requests.empty());
    socket().LeaveAll();
    EXPECT_TRUE(socket().Groups().empty());
    EXPECT_EQ(owner.requests, (std::vector<SubscriptionRequest>{{7, kGroupA, CSubscription::kLeave},
                                                                {7, kGroupB, CSubscription::kLeave}}));
}

TEST_F(VirtualSocket, DisabledSubscriptionPacketsChangeMembershipOnly)
{
    LogCapture flags("DISABLE_SUBSCRIPTION_PACKET");
    socket().JoinGroup(kGroupA);
    EXPECT_TRUE(socket().IsMemberOf(kGroupA));
    socket().LeaveGroup(kGroupA);
    EXPECT_FALSE(socket().IsMemberOf(kGroupA));
    EXPECT_TRUE(owner.requests.empty());
}

TEST_F(VirtualSocket, QueueHoldsAtMost501AndTakesPacketsAgainAfterAReceive)
{
    LogCapture log;
    for (unsigned int i = 0; i < 501; ++i)
        socket().Queue(Message(i), kGroupA);
    EXPECT_EQ(socket().QueuedPackets(), 501u);
    EXPECT_FALSE(log.Contains("Dropping"));

    socket().Queue(Message(501), kGroupA);
    EXPECT_EQ(socket().QueuedPackets(), 501u);
    EXPECT_TRUE(log.Contains("Dropping rather than queuing packet for SocketID 7 because queue already has 500 items"));

    EXPECT_EQ(ReceiveSequence(), 0u);
    socket().Queue(Message(502), kGroupA);
    EXPECT_EQ(socket().QueuedPackets(), 501u);
    for (unsigned int i = 1; i < 501; ++i)
        ASSERT_EQ(ReceiveSequence(), i);
    EXPECT_EQ(ReceiveSequence(), 502u); // 501 was dropped
}

TEST_F(VirtualSocket, APacketLargerThanTheBufferIsLostAndTheNextOneIsDelivered)
{
    socket().Queue(Message(1, Halvane::Packet::kKindRtp, 8), kGroupA);
    socket().Queue(Message(2), kGroupA);
    unsigned char small[4];
    unsigned char type = 0;
    EXPECT_EQ(socket().Receive(small, sizeof small, &type, nullptr), 0u);
    EXPECT_EQ(type, Halvane::Packet::kTypeGroupMsg);
    EXPECT_EQ(ReceiveSequence(), 2u);
    EXPECT_EQ(socket().QueuedPackets(), 0u);
}

TEST_F(VirtualSocket, ReceiveReportsTypeAndKindAndAnEmptyMessageLooksLikeAnEmptyQueue)
{
    unsigned char buffer[16];
    unsigned char type = 0, kind = 0;
    EXPECT_EQ(socket().Receive(buffer, sizeof buffer, &type, &kind), 0u);

    socket().Queue(Message(9, Halvane::Packet::kKindRtcp), kGroupA);
    EXPECT_EQ(socket().Receive(buffer, sizeof buffer, &type, &kind), 4u);
    EXPECT_EQ(type, Halvane::Packet::kTypeGroupMsg);
    EXPECT_EQ(kind, Halvane::Packet::kKindRtcp);

    socket().Queue(Message(0, Halvane::Packet::kKindRtp, 0), kGroupA);
    EXPECT_EQ(socket().Receive(buffer, sizeof buffer, nullptr, nullptr), 0u);
    EXPECT_EQ(socket().QueuedPackets(), 0u);
}

TEST(SocketProvider, RandomDescriptorsAreFreeAndUnknownOnesAreReported)
{
    RecordingInterface provider;
    const unsigned int first = provider.OpenSocket();
    const unsigned int second = provider.OpenSocket();
    EXPECT_NE(first, second);
    EXPECT_TRUE(provider.SocketExists(first));
    EXPECT_FALSE(provider.SocketExists(provider.AvailableDescriptor()));

    LogCapture log;
    EXPECT_EQ(provider.Socket(provider.AvailableDescriptor()), nullptr);
    EXPECT_EQ(log.Text(), "Socket doesn't exist");
    EXPECT_TRUE(provider.CloseSocket(first));
    EXPECT_FALSE(provider.SocketExists(first));
    EXPECT_FALSE(provider.CloseSocket(first));
    EXPECT_TRUE(provider.SocketExists(second));
}

} // namespace
