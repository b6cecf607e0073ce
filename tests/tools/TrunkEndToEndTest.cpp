// End to end: this process and a trunk_peer process, both using
// libhalvane2.so, talk through one or two halvane-relay processes inside a
// private network namespace.
#include "RelayProcess.h"

#include "NetNamespace.h"
#include "halvane2.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using rvx::test::ChildProcess;
using rvx::test::RelayProcess;

namespace {

constexpr unsigned short kListenPort = 50000;
constexpr unsigned short kNobodyPort = 50010;
constexpr const char* kPeerDevice = "0x222222";

int g_notifications = 0;
void CountNotification()
{
    ++g_notifications;
}

class TrunkEndToEnd : public ::testing::TestWithParam<int>
{
protected:
    void SetUp() override
    {
        RVX_REQUIRE_PRIVATE_NETNS();
        for (int i = 0; i < GetParam(); ++i) {
            relays.push_back(std::make_unique<RelayProcess>());
            ASSERT_TRUE(relays.back()->Started());
        }
        std::vector<std::string> arguments{kPeerDevice, "239.5.5.5", std::to_string(kListenPort)};
        hv_init_interface(0x111111, 0, "lo", &CountNotification);
        for (const auto& relay : relays) {
            arguments.push_back(std::to_string(relay->TrunkPort()));
            hv_init_routing("127.0.0.1", relay->TrunkPort());
        }
        peer = std::make_unique<ChildProcess>(PEER_PROGRAM, arguments);
        ASSERT_TRUE(peer->WaitForLine("READY"));
        // The peer has sent its subscriptions; each relay takes it as a
        // subscriber once it has answered the relay's challenge.
        for (const auto& relay : relays)
            ASSERT_GT(relay->CounterAbove("proven_subscribers", 0, std::chrono::milliseconds(5000)), 0)
                << relay->Ask("counters");
        sender = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        hv_socket(sender, AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    }

    void TearDown() override
    {
        if (sender >= 0)
            close(sender);
    }

    int Send(const char* group, unsigned short port, unsigned char marker, std::size_t size = 12)
    {
        std::vector<unsigned char> rtp{0x80, 0x60, 0, marker, 0, 0, 0, marker, 0x11, 0x11, 0x11, 0x11};
        rtp.resize(size, 0x22);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, group, &to.sin_addr);
        return hv_sendto_rtp(sender, rtp.data(), static_cast<int>(rtp.size()), 0,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    // Every line the peer reported, once it has ended.
    std::string PeerReport()
    {
        peer->CloseInput();
        std::string report = peer->ReadRest();
        peer->Wait();
        return report;
    }

    static std::size_t Count(const std::string& text, const std::string& piece)
    {
        std::size_t count = 0;
        for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
            ++count;
        return count;
    }

    std::vector<std::unique_ptr<RelayProcess>> relays;
    std::unique_ptr<ChildProcess> peer;
    int sender = -1;
};

TEST_P(TrunkEndToEnd, TrunkedDatagramsArriveOnceAndLocalOnesNeverReachARelay)
{
    EXPECT_EQ(Send("239.5.5.5", kNobodyPort, 1), 24);  // only the trunk reaches the peer
    EXPECT_EQ(Send("239.5.5.5", kListenPort, 2), 24);  // plain and trunk copies
    EXPECT_EQ(Send("225.4.0.7", kListenPort, 3), 12);  // local: plain only, peer has not joined
    polled_timer_t::sleep(200);
    for (const auto& relay : relays) {
        EXPECT_EQ(relay->CounterAbove("group_messages", 1, std::chrono::milliseconds(2000)), 2);
        EXPECT_EQ(relay->CounterAbove("forwarded", 1, std::chrono::milliseconds(2000)), 2);
    }
    const std::string report = PeerReport();
    EXPECT_EQ(Count(report, "RECEIVED 806000010000000111111111"), 1u) << report;
    EXPECT_EQ(Count(report, "RECEIVED 806000020000000211111111"), 1u) << report;
    EXPECT_EQ(Count(report, "RECEIVED"), 2u) << report;
}

TEST_P(TrunkEndToEnd, NotificationReachesThePeersCallbackOnly)
{
    for (const auto& relay : relays)
        EXPECT_EQ(relay->Ask(std::string("notify ") + std::to_string(0x222222)), "notified 1\n");
    EXPECT_TRUE(peer->WaitForLine("NOTIFIED"));
    unsigned char buffer[64];
    hv_recvfrom_rtp(sender, buffer, sizeof buffer, 0, nullptr, nullptr);
    EXPECT_EQ(g_notifications, 0);
}

// Relays challenge new subscribers; the trunk library answers at once, so
// the peer gets far more than an unproven endpoint's share.
TEST_P(TrunkEndToEnd, TheLibraryProvesItsAddressAndGetsEverything)
{
    for (const auto& relay : relays)
        EXPECT_GE(relay->CounterAbove("proofs", 0, std::chrono::milliseconds(2000)), 1);
    constexpr int kBurst = 40; // 40 kB at once: ten times the unproven share
    for (int i = 0; i < kBurst; ++i)
        EXPECT_EQ(Send("239.5.5.5", kNobodyPort, static_cast<unsigned char>(i), 1000), 1012);
    for (const auto& relay : relays)
        EXPECT_EQ(relay->CounterAbove("forwarded", kBurst - 1, std::chrono::milliseconds(2000)), kBurst);
    int received = 0; // once each: the peer drops the second relay's copies
    while (received < kBurst && peer->WaitForLine("RECEIVED", std::chrono::milliseconds(1000)))
        ++received;
    EXPECT_EQ(received, kBurst);
    EXPECT_EQ(Count(PeerReport(), "RECEIVED"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Relays, TrunkEndToEnd, ::testing::Values(1, 2),
                         [](const auto& info) { return info.param == 1 ? "OneRelay" : "TwoRelays"; });

} // namespace
