// The exported socket-style API of libhalvane2.so with real multicast, inside
// a private network namespace, and a UDP socket on 127.0.0.1 as the router.
#include "halvane2.h"

#include "NetNamespace.h"
#include "UdpEndpoint.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

using rvx::test::Bytes;
using rvx::test::UdpEndpoint;

namespace {

constexpr unsigned short kPort = 50000;
constexpr std::chrono::milliseconds kQuiet(30);

sockaddr_in Address(const char* dotted, unsigned short port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, dotted, &address.sin_addr);
    return address;
}

// A caller's UDP socket, as the program's media sessions have them.
class CallerSocket
{
public:
    explicit CallerSocket(unsigned short port = 0)
    {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        const sockaddr_in any = Address("0.0.0.0", port);
        bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
        fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    ~CallerSocket() { close(fd); }
    int fd;
};

Bytes Datagram(unsigned char seed, std::size_t size = 200)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>(seed + i);
    return bytes;
}

int SendRtp(int fd, const Bytes& data, const char* group, unsigned short port = kPort)
{
    const sockaddr_in to = Address(group, port);
    return hv_sendto_rtp(fd, data.data(), static_cast<int>(data.size()), 0, reinterpret_cast<const sockaddr*>(&to),
                         sizeof to);
}

// A group message as a router relays it.
Bytes GroupMessage(const char* group, const Bytes& payload, unsigned char kind = 1)
{
    const unsigned int id = GetGroupIdFromIpAddress(group);
    Bytes datagram(12 + payload.size());
    const unsigned char header[12] = {2, kind, 0, 0, 0x99, 0, 0, 0, static_cast<unsigned char>(id),
                                      static_cast<unsigned char>(id >> 8), static_cast<unsigned char>(id >> 16),
                                      static_cast<unsigned char>(id >> 24)};
    std::copy(header, header + 12, datagram.begin());
    std::copy(payload.begin(), payload.end(), datagram.begin() + 12);
    return datagram;
}

// hv_recvfrom_rtp until something arrives or the attempts run out. Nothing
// to read is 0, or -1 with EAGAIN from the caller's non-blocking socket.
int ReceiveRtp(int fd, Bytes& into, int attempts = 20)
{
    into.assign(2000, 0);
    for (int i = 0; i < attempts; ++i) {
        errno = 0;
        const int n = hv_recvfrom_rtp(fd, into.data(), static_cast<int>(into.size()), 0, nullptr, nullptr);
        if (n > 0) {
            into.resize(static_cast<std::size_t>(n));
            return n;
        }
        if (n < 0 && errno != EAGAIN)
            return n;
        polled_timer_t::sleep(5);
    }
    into.clear();
    return 0;
}

std::vector<Bytes> GroupMessagesAt(const UdpEndpoint& router)
{
    std::vector<Bytes> messages;
    for (Bytes& datagram : router.ReceiveAll(kQuiet))
        if (!datagram.empty() && datagram[0] == 2)
            messages.push_back(std::move(datagram));
    return messages;
}

// Needs a process in which hv_init_interface was never called: ctest runs
// every test in a process of its own, and a whole run takes it first.
TEST(ApiBeforeInit, CallsThatNeedTheInterfaceFailAndSendNothing)
{
    CallerSocket caller;
    const Bytes data = Datagram(1);
    EXPECT_EQ(SendRtp(caller.fd, data, "127.0.0.1"), -1);
    unsigned char buffer[16];
    EXPECT_EQ(hv_recvfrom(caller.fd, buffer, sizeof buffer, 0, nullptr, nullptr), -1);
    EXPECT_EQ(hv_socket(caller.fd, AF_INET, SOCK_DGRAM, IPPROTO_UDP), -1);
    EXPECT_EQ(hv_queue_packet_to_socket_with_addr("239.1.1.1", buffer, 4), 0);
}

class Api : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RVX_REQUIRE_PRIVATE_NETNS();
        router = std::make_unique<UdpEndpoint>("127.0.0.1");
        hv_init_interface(0xABCDEF, 0, "lo", nullptr);
        hv_init_routing("127.0.0.1", router->Port());
    }

    // Registers the socket, joins the group and lets the first poll
    // subscribe; returns the trunk socket's port, learnt from what the router
    // received (0 when nothing came).
    unsigned short JoinThroughTrunk(int fd, const char* group)
    {
        hv_socket(fd, AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        hv_group_join(fd, group);
        Bytes received;
        ReceiveRtp(fd, received, 1);
        unsigned short trunkPort = 0;
        router->Receive(std::chrono::milliseconds(500), &trunkPort);
        return trunkPort;
    }

    std::unique_ptr<UdpEndpoint> router;
};

TEST_F(Api, LocalGroupIsSentPlainlyOnly)
{
    CallerSocket sender, listener(kPort);
    hv_group_join_local(listener.fd, "225.4.1.1");
    ASSERT_EQ(hv_socket(sender.fd, AF_INET, SOCK_DGRAM, IPPROTO_UDP), sender.fd);
    const Bytes data = Datagram(1);
    EXPECT_EQ(SendRtp(sender.fd, data, "225.4.1.1"), 200);

    Bytes received(2000);
    polled_timer_t::sleep(10);
    EXPECT_EQ(recv(listener.fd, received.data(), received.size(), 0), 200);
    EXPECT_TRUE(router->ReceiveAll(kQuiet).empty());
}

TEST_F(Api, TrunkedGroupIsSentPlainlyAndToTheRouter)
{
    CallerSocket sender, listener(kPort);
    hv_group_join_local(listener.fd, "239.1.2.3");
    const Bytes data = Datagram(2);
    EXPECT_EQ(SendRtp(sender.fd, data, "239.1.2.3"), 212);

    Bytes received(2000);
    polled_timer_t::sleep(10);
    EXPECT_EQ(recv(listener.fd, received.data(), received.size(), 0), 200);
    const auto messages = GroupMessagesAt(*router);
    ASSERT_EQ(messages.size(), 1u);
    Bytes expected = GroupMessage("239.1.2.3", data);
    expected[4] = 0xEF; // our device id, little-endian
    expected[5] = 0xCD;
    expected[6] = 0xAB;
    EXPECT_EQ(messages[0], expected);
}

TEST_F(Api, TrunkedGroupIsReceivedFromTheRouter)
{
    CallerSocket listener(kPort);
    const unsigned short trunkPort = JoinThroughTrunk(listener.fd, "239.1.2.3");
    ASSERT_NE(trunkPort, 0);
    Bytes received;

    const Bytes data = Datagram(3);
    router->SendTo(trunkPort, GroupMessage("239.1.2.3", data));
    ASSERT_EQ(ReceiveRtp(listener.fd, received), 200);
    EXPECT_EQ(received, data);
}

TEST_F(Api, ReceiveFilterRefusesAndConsumesTrunkPacketsOfTheOtherKind)
{
    CallerSocket listener(kPort);
    const unsigned short trunkPort = JoinThroughTrunk(listener.fd, "239.1.2.3");
    ASSERT_NE(trunkPort, 0);

    unsigned char buffer[100];
    router->SendTo(trunkPort, GroupMessage("239.1.2.3", Datagram(4, 40), 2)); // RTCP
    polled_timer_t::sleep(5);
    EXPECT_EQ(hv_recvfrom_rtp(listener.fd, buffer, sizeof buffer, 0, nullptr, nullptr), -1);
    errno = 0;
    EXPECT_EQ(hv_recvfrom_rtcp(listener.fd, buffer, sizeof buffer, 0, nullptr, nullptr), -1);
    EXPECT_EQ(errno, EAGAIN); // it is gone: the socket itself had nothing

    router->SendTo(trunkPort, GroupMessage("239.1.2.3", Datagram(5, 40), 2));
    polled_timer_t::sleep(5);
    EXPECT_EQ(hv_recvfrom_rtcp(listener.fd, buffer, sizeof buffer, 0, nullptr, nullptr), 40);
}

TEST_F(Api, LocalThenTrunkCopyOfOneDatagramIsReturnedOnce)
{
    CallerSocket listener(kPort), peer;
    const unsigned short trunkPort = JoinThroughTrunk(listener.fd, "239.1.2.3");
    ASSERT_NE(trunkPort, 0);
    Bytes received;

    const Bytes data = Datagram(6);
    const sockaddr_in group = Address("239.1.2.3", kPort);
    sendto(peer.fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&group), sizeof group);
    sockaddr_in from{};
    int fromLength = sizeof from;
    received.assign(2000, 0);
    polled_timer_t::sleep(10);
    ASSERT_EQ(hv_recvfrom_rtp(listener.fd, received.data(), 2000, 0, reinterpret_cast<sockaddr*>(&from), &fromLength),
              200);
    EXPECT_EQ(fromLength, static_cast<int>(sizeof from));
    EXPECT_EQ(from.sin_family, AF_INET);

    router->SendTo(trunkPort, GroupMessage("239.1.2.3", data));
    EXPECT_EQ(ReceiveRtp(listener.fd, received, 5), 0);

    hv_set_duplicate_packet_dropping(listener.fd, false);
    router->SendTo(trunkPort, GroupMessage("239.1.2.3", data));
    EXPECT_EQ(ReceiveRtp(listener.fd, received), 200);
}

TEST_F(Api, SocketRegistersOnceAndJoinOnAnUnknownSocketStillJoinsTheSystemGroup)
{
    CallerSocket known, unknown(kPort), peer;
    EXPECT_EQ(hv_socket(known.fd, AF_INET, SOCK_DGRAM, IPPROTO_UDP), known.fd);
    EXPECT_EQ(hv_socket(known.fd, AF_INET, SOCK_DGRAM, IPPROTO_UDP), 0);
    Bytes received;
    ReceiveRtp(known.fd, received, 1); // first refresh
    router->ReceiveAll(kQuiet);

    hv_group_join(unknown.fd, "239.7.7.7");
    const Bytes data = Datagram(7);
    const sockaddr_in group = Address("239.7.7.7", kPort);
    sendto(peer.fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&group), sizeof group);
    polled_timer_t::sleep(10);
    unsigned char plain[300];
    EXPECT_EQ(recv(unknown.fd, plain, sizeof plain, 0), 200);

    ReceiveRtp(known.fd, received, 1); // the join marked the subscriptions dirty
    const auto refresh = router->ReceiveAll(kQuiet);
    ASSERT_FALSE(refresh.empty());
    EXPECT_EQ(refresh[0][0], 5); // a subscription list
}

// Several sockets bound to one port (as the media streams of radios on one
// host are): each receives only the groups it joined itself, never those
// that another socket on the port joined.
TEST_F(Api, SocketsOnOnePortReceiveOnlyTheGroupsTheyJoined)
{
    CallerSocket joined(kPort), joinedLocally(kPort), peer;
    hv_socket(joined.fd, AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    hv_group_join(joined.fd, "226.1.1.1");
    hv_group_join_local(joinedLocally.fd, "226.2.2.2");
    const int created = hv_create_socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    setsockopt(created, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in any = Address("0.0.0.0", kPort);
    ASSERT_EQ(bind(created, reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);

    struct Case
    {
        const char* group;
        int receiver; // the one socket that must get the datagram
    };
    const Case cases[] = {{"226.1.1.1", joined.fd}, {"226.2.2.2", joinedLocally.fd}};
    for (const Case& c : cases) {
        const Bytes data = Datagram(static_cast<unsigned char>(c.receiver));
        const sockaddr_in to = Address(c.group, kPort);
        sendto(peer.fd, data.data(), data.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        polled_timer_t::sleep(10);
        for (int fd : {joined.fd, joinedLocally.fd, created}) {
            unsigned char buffer[300];
            const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            EXPECT_EQ(n, fd == c.receiver ? 200 : -1) << c.group << " on socket " << fd;
        }
    }
    close(created);
}

TEST_F(Api, QueuedPacketsReachTheSocketsJoinedToTheGroup)
{
    CallerSocket listener, other;
    hv_socket(listener.fd, 0, 0, 0);
    hv_socket(other.fd, 0, 0, 0);
    hv_set_socket_tx_only(listener.fd, true);
    hv_group_join(listener.fd, "226.1.2.3");
    Bytes data = Datagram(8, 60);
    EXPECT_EQ(hv_queue_packet_to_socket_with_addr("226.1.2.3", data.data(), 60), 1);
    EXPECT_EQ(hv_queue_packet_to_socket_with_addr("bad group", data.data(), 60), 0);
    Bytes received;
    EXPECT_EQ(ReceiveRtp(listener.fd, received), 60);
    EXPECT_EQ(received, data);

    // A closed socket's number comes back with nothing of the old one: no
    // group, no queued datagram.
    EXPECT_EQ(hv_queue_packet_to_socket_with_addr("226.1.2.3", data.data(), 60), 1);
    hv_close_socket(listener.fd);
    EXPECT_EQ(hv_queue_packet_to_socket_with_addr("226.1.2.3", data.data(), 60), 0);
    EXPECT_EQ(hv_socket(listener.fd, 0, 0, 0), listener.fd) << "registered afresh";
    EXPECT_EQ(ReceiveRtp(listener.fd, received, 3), 0);
    EXPECT_EQ(hv_queue_packet_to_socket_with_addr("226.1.2.3", data.data(), 60), 0);
}

TEST_F(Api, TooLongForTheTrunkIsStillSentPlainlyButReportsTheTrunkFailure)
{
    CallerSocket sender;
    EXPECT_EQ(SendRtp(sender.fd, Datagram(9, 1989), "239.1.2.3"), -1);
    EXPECT_TRUE(GroupMessagesAt(*router).empty());
    EXPECT_EQ(SendRtp(sender.fd, Datagram(9, 1988), "239.1.2.3"), 2000);
}

TEST_F(Api, BadArgumentsAreRefusedRatherThanPassedOn)
{
    CallerSocket caller;
    unsigned char buffer[8];
    EXPECT_EQ(hv_recvfrom(caller.fd, buffer, -1, 0, nullptr, nullptr), -1);
    sockaddr_in from{};
    int negative = -1;
    EXPECT_EQ(hv_recvfrom(caller.fd, buffer, 8, 0, reinterpret_cast<sockaddr*>(&from), &negative), -1);
    EXPECT_EQ(hv_sendto_rtp(caller.fd, buffer, -5, 0, nullptr, 0), -1);
    EXPECT_EQ(hv_sendto(caller.fd, buffer, 8, 0, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOTSUP);
}

TEST_F(Api, CreatedSocketsAreNonBlockingAndRegistered)
{
    const int created = hv_create_socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GT(created, 0);
    EXPECT_TRUE(fcntl(created, F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(hv_socket(created, 0, 0, 0), 0);

    const int bound = hv_create_and_bind(Address("127.0.0.1", 0));
    ASSERT_GT(bound, 0);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    getsockname(bound, reinterpret_cast<sockaddr*>(&local), &length);
    EXPECT_EQ(local.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    close(created);
    close(bound);
}

} // namespace
