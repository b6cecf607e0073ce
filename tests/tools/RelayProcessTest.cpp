// The halvane-relay program itself: help and version, forwarding, the
// control socket and who may use it, the metrics endpoint, several workers,
// floods beside honest traffic, and the counters it prints when it stops.
#include "RelayProcess.h"
#include "RelayServer.h"

#include "NetNamespace.h"
#include "UdpEndpoint.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using rvx::test::Bytes;
using rvx::test::ChildProcess;
using rvx::test::HexBytes;
using rvx::test::RelayProcess;
using rvx::test::UdpEndpoint;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// Subscription list of device 0x000101 with the group 239.0.0.1.
const char* kListOne = "05 00 00 00 01 01 00 00 00 01 00 00 EF";
// Group message for 239.0.0.1 with a two-byte payload.
const char* kMessage = "02 01 00 00 02 02 00 00 01 00 00 EF AA BB";

Bytes ListOf(unsigned int group)
{
    Bytes list = HexBytes("05 00 00 00 01 01 00 00 00");
    for (int shift = 0; shift < 32; shift += 8)
        list.push_back(static_cast<unsigned char>(group >> shift));
    return list;
}

// A group message whose payload carries a sender number and a sequence.
Bytes MessageTo(unsigned int group, unsigned int sender, unsigned int sequence, std::size_t size = 32)
{
    Bytes message = HexBytes("02 01 00 00 02 02 00 00");
    for (int shift = 0; shift < 32; shift += 8)
        message.push_back(static_cast<unsigned char>(group >> shift));
    message.resize(size, 0x55);
    message[12] = static_cast<unsigned char>(sender);
    for (int i = 0; i < 4; ++i)
        message[13 + i] = static_cast<unsigned char>(sequence >> (8 * i));
    return message;
}

unsigned int SequenceOf(const Bytes& message)
{
    unsigned int sequence = 0;
    for (int i = 3; i >= 0; --i)
        sequence = sequence << 8 | message[13 + static_cast<std::size_t>(i)];
    return sequence;
}

long long MillisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

TEST(RelayProgram, HelpAndVersionDocumentTheRelayAndExitCleanly)
{
    ChildProcess help(rvx::test::RelayProgram(), {"--help"});
    const std::string text = help.ReadRest();
    for (const char* piece : {"Usage:", "notify DEVICE_ID", "--subscriber-timeout", "--unproven-policy", "--metrics",
                              "--control-socket", "--config FILE", "--max-datagrams-per-second"})
        EXPECT_NE(text.find(piece), std::string::npos) << piece;
    const auto status = help.Wait();
    ASSERT_TRUE(status);
    EXPECT_EQ(WEXITSTATUS(*status), 0);

    ChildProcess version(rvx::test::RelayProgram(), {"--version"});
    EXPECT_TRUE(std::regex_match(version.ReadRest(), std::regex("halvane-relay [0-9]+\\.[0-9]+\n")));

    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--no-such-option"},
                                                  std::vector<std::string>{"--config", "/nonexistent.conf"}}) {
        ChildProcess refused(rvx::test::RelayProgram(), wrong);
        const auto wrongStatus = refused.Wait();
        ASSERT_TRUE(wrongStatus);
        EXPECT_EQ(WEXITSTATUS(*wrongStatus), 2) << wrong[0];
    }
}

TEST(RelayProgram, ForwardsToAProvenUnitCountsAndReportsOnExit)
{
    RelayProcess relay;
    ASSERT_TRUE(relay.Started());
    UdpEndpoint subscriber, sender;
    subscriber.SendTo(relay.TrunkPort(), HexBytes(kListOne));
    ASSERT_TRUE(rvx::test::AnswerChallenge(subscriber, relay.TrunkPort()));
    EXPECT_EQ(relay.CounterAbove("proofs", 0, milliseconds(2000)), 1);
    EXPECT_EQ(relay.Counter("subscribers"), 1);
    sender.SendTo(relay.TrunkPort(), HexBytes(kMessage));
    const auto forwarded = subscriber.Receive();
    ASSERT_TRUE(forwarded);
    EXPECT_EQ(*forwarded, HexBytes(kMessage));

    sender.SendTo(relay.TrunkPort(), {0x03, 0x00});
    sender.SendTo(relay.TrunkPort(), {0x02});
    // A worker counts them; the control thread may answer before it has.
    EXPECT_EQ(relay.CounterAbove("unknown_type", 0, milliseconds(2000)), 1);
    EXPECT_EQ(relay.CounterAbove("malformed", 0, milliseconds(2000)), 1);
    EXPECT_EQ(relay.Ask("notify 0x101"), "notified 1\n");
    const auto notice = subscriber.Receive();
    ASSERT_TRUE(notice);
    EXPECT_EQ(rvx::test::ToHex(*notice), "04 00 00 00 00 00 00 00 01 00 00 00");
    EXPECT_EQ(relay.Ask("nonsense"), "error: unknown request\n");

    relay.Process().Signal(SIGTERM);
    const std::string report = relay.Process().ReadRest();
    EXPECT_NE(report.find("forwarded 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("notifications_sent 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("challenges_sent 1\n"), std::string::npos) << report;
    const auto status = relay.Process().Wait();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    struct stat gone {};
    EXPECT_NE(::lstat(relay.ControlSocket().c_str(), &gone), 0) << "the control socket is removed on exit";
}

TEST(RelayProgram, CommandLineClientTalksToARunningRelay)
{
    RelayProcess relay;
    ASSERT_TRUE(relay.Started());
    ChildProcess notify(rvx::test::RelayProgram(), {"--control-socket", relay.ControlSocket(), "notify", "42"});
    EXPECT_EQ(notify.ReadRest(), "notified 0\n");
    ChildProcess stop(rvx::test::RelayProgram(), {"--control-socket", relay.ControlSocket(), "stop"});
    EXPECT_EQ(stop.ReadRest(), "stopping\n");
    EXPECT_TRUE(relay.Process().Wait());

    // A second relay may not take over a live control socket.
    RelayProcess first;
    ASSERT_TRUE(first.Started());
    ChildProcess second(rvx::test::RelayProgram(),
                        {"--listen", "127.0.0.1", "--port", "0", "--control-socket", first.ControlSocket()});
    const auto status = second.Wait();
    ASSERT_TRUE(status);
    EXPECT_EQ(WEXITSTATUS(*status), 1);
    EXPECT_EQ(first.Ask("counters").empty(), false);
}

// Only the relay's own user (and root) may use the control socket; control
// words sent to the UDP ports stop nothing and are not answered.
TEST(RelayProgram, ControlIsForTheRelaysUserOnlyAndNotOnAnyUdpPort)
{
    RelayProcess relay;
    ASSERT_TRUE(relay.Started());
    struct stat socketFile {};
    ASSERT_EQ(::lstat(relay.ControlSocket().c_str(), &socketFile), 0);
    EXPECT_TRUE(S_ISSOCK(socketFile.st_mode));
    EXPECT_EQ(socketFile.st_mode & 0777, 0600u);

    if (::geteuid() == 0) { // another user is refused by the file's mode
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                _exit(3);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::snprintf(address.sun_path, sizeof address.sun_path, "%s", relay.ControlSocket().c_str());
            const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
            _exit(connected ? 1 : errno == EACCES ? 0 : 2);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(WEXITSTATUS(status), 0) << "1: connected, 2: refused for another reason";
    }

    UdpEndpoint stranger;
    for (unsigned short port : {relay.TrunkPort(), static_cast<unsigned short>(relay.TrunkPort() + 1)}) {
        for (const char* word : {"counters", "stop"})
            stranger.SendTo(port, Bytes(word, word + std::strlen(word)));
    }
    EXPECT_FALSE(stranger.Receive(milliseconds(200))) << "no answer to a forged control request";
    EXPECT_EQ(relay.Counter("unknown_type"), 2);
    EXPECT_TRUE(relay.Started() && !relay.Process().Wait(milliseconds(0)));
}

// The metrics endpoint: HTTP, Prometheus text whose every sample belongs
// to a declared family, with the counts of what happened.
TEST(RelayProgram, MetricsAreScrapedOverHttpAndParse)
{
    RelayProcess relay({"--metrics", "127.0.0.1:0"});
    ASSERT_TRUE(relay.Started());
    ASSERT_NE(relay.MetricsPort(), 0);
    UdpEndpoint subscriber, sender;
    subscriber.SendTo(relay.TrunkPort(), HexBytes(kListOne));
    ASSERT_TRUE(rvx::test::AnswerChallenge(subscriber, relay.TrunkPort()));
    relay.CounterAbove("proofs", 0, milliseconds(2000));
    sender.SendTo(relay.TrunkPort(), HexBytes(kMessage));
    ASSERT_TRUE(subscriber.Receive());
    sender.SendTo(relay.TrunkPort(), {0xFF});
    relay.CounterAbove("unknown_type", 0, milliseconds(2000));

    const auto scrape = [&](const std::string& request) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(relay.MetricsPort());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::string response;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
            char chunk[4096];
            for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;)
                response.append(chunk, static_cast<std::size_t>(n));
        }
        ::close(fd);
        return response;
    };
    EXPECT_EQ(scrape("GET /other HTTP/1.0\r\n\r\n").rfind("HTTP/1.0 404", 0), 0u);
    const std::string response = scrape("GET /metrics HTTP/1.1\r\nHost: relay\r\n\r\n");
    ASSERT_EQ(response.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << response;
    EXPECT_NE(response.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
    std::istringstream body(response.substr(response.find("\r\n\r\n") + 4));

    const std::regex sample(R"re(([a-z_]+)(\{([a-z]+)="([^"]*)"\})? ([0-9.e+-]+|\+Inf))re");
    const std::regex type(R"(# TYPE ([a-z_]+) (counter|gauge|histogram))");
    std::map<std::string, std::string> families;
    std::map<std::string, double> values;
    std::string line;
    while (std::getline(body, line)) {
        std::smatch match;
        if (line.rfind("# HELP ", 0) == 0)
            continue;
        if (std::regex_match(line, match, type)) {
            families[match[1]] = match[2];
            continue;
        }
        ASSERT_TRUE(std::regex_match(line, match, sample)) << line;
        const std::string name = match[1];
        ASSERT_EQ(name.rfind("halvane_relay_", 0), 0u) << line;
        const std::string family = std::regex_replace(name, std::regex("_(bucket|sum|count)$"), "");
        ASSERT_TRUE(families.count(name) || families[family] == "histogram") << line;
        if (families[name] == "counter") {
            EXPECT_EQ(name.substr(name.size() - 6), "_total") << line;
        }
        values[name + (match[2].matched ? "{" + match[3].str() + "=" + match[4].str() + "}" : "")] =
            std::stod(match[5]);
    }
    EXPECT_EQ(values["halvane_relay_datagrams_received_total{type=group_message}"], 1);
    EXPECT_EQ(values["halvane_relay_datagrams_received_total{type=unknown_type}"], 1);
    EXPECT_EQ(values["halvane_relay_datagrams_sent_total{type=group_message}"], 1);
    EXPECT_EQ(values["halvane_relay_sent_bytes_total{type=group_message}"], 14);
    EXPECT_EQ(values["halvane_relay_datagrams_sent_total{type=challenge}"], 1);
    EXPECT_EQ(values["halvane_relay_proofs_total"], 1);
    EXPECT_EQ(values["halvane_relay_subscribers"], 1);
    EXPECT_EQ(values["halvane_relay_proven_subscribers"], 1);
    EXPECT_EQ(values["halvane_relay_groups"], 1);
    EXPECT_EQ(values["halvane_relay_forwarding_latency_seconds_count"], 1);
    EXPECT_EQ(values["halvane_relay_forwarding_latency_seconds_bucket{le=+Inf}"], 1);
    EXPECT_EQ(values.count("halvane_relay_refusals_total{reason=sender_rate}"), 1u);
}

// Several senders through two workers: every subscriber gets every datagram
// once, and each sender's in the order sent.
TEST(RelayProgram, SeveralWorkersLoseNothingDuplicateNothingAndKeepEachSendersOrder)
{
    RelayProcess relay({"--workers", "2", "--max-datagrams-per-second", "0"});
    ASSERT_TRUE(relay.Started());
    EXPECT_EQ(relay.Counter("workers"), 2);
    constexpr unsigned int kGroup = 0xEF000009;
    constexpr int kSenders = 6, kRounds = 40, kPerRound = 10;
    std::vector<std::unique_ptr<UdpEndpoint>> subscribers, senders;
    for (int i = 0; i < 3; ++i) {
        subscribers.push_back(std::make_unique<UdpEndpoint>());
        subscribers.back()->SendTo(relay.TrunkPort(), ListOf(kGroup));
        ASSERT_TRUE(rvx::test::AnswerChallenge(*subscribers.back(), relay.TrunkPort()));
    }
    for (int i = 0; i < kSenders; ++i)
        senders.push_back(std::make_unique<UdpEndpoint>());
    ASSERT_EQ(relay.CounterAbove("proofs", 2, milliseconds(2000)), 3);

    std::vector<std::map<int, std::vector<unsigned int>>> got(subscribers.size()); // sender -> sequences
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    for (int round = 0; round < kRounds && Clock::now() < deadline; ++round) {
        for (int i = 0; i < kPerRound; ++i)
            for (int s = 0; s < kSenders; ++s)
                senders[static_cast<std::size_t>(s)]->SendTo(
                    relay.TrunkPort(), MessageTo(kGroup, static_cast<unsigned int>(s),
                                                 static_cast<unsigned int>(round * kPerRound + i)));
        // Paced by rounds, so that the test's own sockets never overflow.
        for (std::size_t m = 0; m < subscribers.size(); ++m) {
            std::size_t count = 0;
            for (auto& [sender, sequences] : got[m])
                count += sequences.size();
            while (count < static_cast<std::size_t>((round + 1) * kPerRound * kSenders)) {
                const auto message = subscribers[m]->Receive(milliseconds(1000));
                if (!message)
                    break;
                got[m][(*message)[12]].push_back(SequenceOf(*message));
                ++count;
            }
        }
    }
    for (std::size_t m = 0; m < subscribers.size(); ++m) {
        for (int s = 0; s < kSenders; ++s) {
            std::vector<unsigned int> expected(kRounds * kPerRound);
            for (std::size_t i = 0; i < expected.size(); ++i)
                expected[i] = static_cast<unsigned int>(i);
            EXPECT_EQ(got[m][s], expected) << "subscriber " << m << ", sender " << s;
        }
    }
    EXPECT_TRUE(subscribers[0]->ReceiveAll(milliseconds(100)).empty()) << "nothing twice";
}

// A flood beside an honest voice flow: a fan-out of 5,000 members or a
// stream of junk. The honest flow still gets through, the control socket
// answers, and SIGTERM ends the relay, each within a fraction of a second.
struct FloodCase
{
    const char* name;
    bool fanOut;
};

class RelayFlood : public ::testing::TestWithParam<FloodCase>
{
};

TEST_P(RelayFlood, HonestTrafficControlAndStopAreServedDuringTheFlood)
{
    RVX_REQUIRE_PRIVATE_NETNS(); // the 5,000 members live on 127.0.x.y
    RelayProcess relay({"--unproven-policy", "open", "--max-datagrams-per-second", "0", "--workers", "1"});
    ASSERT_TRUE(relay.Started());
    constexpr unsigned int kCrowd = 0xEF000100, kHonest = 0xEF000200;
    constexpr unsigned short kMemberPort = 47000;
    constexpr int kMembers = 5000;

    // One socket takes every member's copies and never reads them.
    const int sink = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(sink, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(kMemberPort);
    ASSERT_EQ(::bind(sink, reinterpret_cast<const sockaddr*>(&any), sizeof any), 0);
    if (GetParam().fanOut) {
        const Bytes list = ListOf(kCrowd);
        sockaddr_in relayAddress{};
        relayAddress.sin_family = AF_INET;
        relayAddress.sin_port = htons(relay.TrunkPort());
        relayAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < kMembers; ++i) { // each member subscribes from its own address
            const int member = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            ::setsockopt(member, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
            sockaddr_in local = any;
            local.sin_addr.s_addr = htonl(0x7F010000u + static_cast<unsigned int>(i / 250 * 256 + i % 250 + 1));
            ASSERT_EQ(::bind(member, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);
            ::sendto(member, list.data(), list.size(), 0, reinterpret_cast<const sockaddr*>(&relayAddress),
                     sizeof relayAddress);
            ::close(member);
        }
        ASSERT_EQ(relay.CounterAbove("subscribers", kMembers - 1, milliseconds(5000)), kMembers);
    }
    UdpEndpoint listener, talker, flooder;
    listener.SendTo(relay.TrunkPort(), ListOf(kHonest));
    relay.CounterAbove("subscription_lists", GetParam().fanOut ? kMembers : 0, milliseconds(2000));

    std::atomic<bool> flooding{true};
    std::atomic<unsigned> floodCount{0};
    std::thread flood([&] {
        const Bytes crowdMessage = MessageTo(kCrowd, 9, 0, 200);
        Bytes junk(1500, 0xEE);
        const auto end = Clock::now() + milliseconds(1500);
        for (unsigned int i = 0; i < 300000 && Clock::now() < end; ++i) {
            Bytes datagram = GetParam().fanOut ? crowdMessage : junk;
            datagram[13] = static_cast<unsigned char>(i); // no two alike
            datagram[14] = static_cast<unsigned char>(i >> 8);
            datagram[15] = static_cast<unsigned char>(i >> 16);
            flooder.SendTo(relay.TrunkPort(), datagram);
            floodCount = i;
        }
        flooding = false;
    });
    // The honest flow: a voice stream of 50 datagrams a second.
    long long slowestControl = 0;
    int sent = 0;
    const auto voiceStart = Clock::now();
    for (; sent < 60 && flooding; ++sent) {
        talker.SendTo(relay.TrunkPort(), MessageTo(kHonest, 1, static_cast<unsigned int>(sent), 214));
        if (sent % 10 == 5) {
            const auto asked = Clock::now();
            EXPECT_FALSE(relay.Ask("counters").empty());
            slowestControl = std::max(slowestControl, MillisecondsSince(asked));
        }
        std::this_thread::sleep_until(voiceStart + milliseconds(20 * (sent + 1)));
    }
    const auto stopAsked = Clock::now();
    relay.Process().Signal(SIGTERM);
    const auto status = relay.Process().Wait(milliseconds(5000));
    const long long stopTime = MillisecondsSince(stopAsked);
    flood.join();
    ::close(sink);
    const std::size_t delivered = listener.ReceiveAll(milliseconds(200)).size();

    std::printf("[ %s ] %u flood datagrams; honest flow %zu of %d delivered, slowest control reply %lld ms, "
                "SIGTERM to exit %lld ms\n",
                GetParam().name, floodCount.load(), delivered, sent, slowestControl, stopTime);
    ASSERT_TRUE(status);
    EXPECT_GE(sent, 30);
    EXPECT_GE(delivered * 10, static_cast<std::size_t>(sent) * 9);
    EXPECT_LT(slowestControl, 1000);
    EXPECT_LT(stopTime, 1000);
}

INSTANTIATE_TEST_SUITE_P(Floods, RelayFlood,
                         ::testing::Values(FloodCase{"FanOutTo5000", true}, FloodCase{"Junk", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A worker that cannot start leaves no socket behind it that the kernel
// would still hand datagrams to: everything reaches the subscriber.
TEST(RelayServerStart, AWorkerThatCannotStartLosesNoDatagrams)
{
    Relay::RelayOptions options;
    options.listenAddress = "127.0.0.1";
    options.port = 0;
    options.controlSocket = "off";
    options.workers = 4;
    options.router.unprovenPolicy = Relay::UnprovenPolicy::kOpen;
    int starts = 0;
    Relay::RelayServer server(options, [&starts](std::function<void()> body, std::thread& thread) {
        if (++starts % 2 == 0)
            return false; // the system refuses every second thread
        return Relay::RelayServer::StartThread(std::move(body), thread);
    });
    std::string error;
    ASSERT_TRUE(server.Open(error)) << error;
    ASSERT_TRUE(server.Start(error)) << error;
    EXPECT_EQ(server.Workers(), 2u);
    UdpEndpoint subscriber;
    subscriber.SendTo(server.TrunkPort(), ListOf(0xEF000001));
    std::vector<std::unique_ptr<UdpEndpoint>> senders;
    for (int i = 0; i < 16; ++i)
        senders.push_back(std::make_unique<UdpEndpoint>());
    std::this_thread::sleep_for(milliseconds(100));
    std::size_t delivered = 0;
    for (int i = 0; i < 16; ++i) {
        for (int n = 0; n < 10; ++n)
            senders[static_cast<std::size_t>(i)]->SendTo(server.TrunkPort(),
                                                         MessageTo(0xEF000001, static_cast<unsigned int>(i),
                                                                   static_cast<unsigned int>(n)));
        delivered += subscriber.ReceiveAll(milliseconds(50)).size();
    }
    EXPECT_EQ(delivered, 160u);
    server.Shutdown();
}

} // namespace
