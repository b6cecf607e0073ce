// halvane-relay's forwarding rate with 1, 10 and 100 subscribers of one
// group, against a minimal recvfrom -> sendto loop doing the same fan-out.
// Everything is on 127.0.0.1.
#include "BenchMain.h"
#include "RelayServer.h"
#include "UdpEndpoint.h"

#include "Packet/GroupMsg.h"
#include "Packet/SubscriptionListPacket.h"

#include <arpa/inet.h>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

using rvx::test::Bytes;
using rvx::test::UdpEndpoint;

namespace {

constexpr int kBatch = 64;
constexpr unsigned int kGroup = 0xEF000001;
const unsigned char kGroupBytes[] = {0x01, 0x00, 0x00, 0xEF};

Bytes Encode(const Halvane::Packet::CPacket& packet)
{
    Bytes out(packet.EncodedSize());
    packet.Encode(out.data());
    return out;
}

// Subscribers and a sender around something that forwards on one port.
class FanOut
{
public:
    explicit FanOut(int subscribers)
    {
        for (int i = 0; i < subscribers; ++i)
            members.push_back(std::make_unique<UdpEndpoint>());
        const unsigned char payload[200] = {0x80, 0x60};
        message = Encode(Halvane::Packet::CGroupMsg(1, 0, payload, sizeof payload, Halvane::Packet::kKindRtp, kGroup));
    }

    void SendBatch(unsigned short port) const
    {
        for (int i = 0; i < kBatch; ++i)
            sender.SendTo(port, message);
    }

    // Subscribers read what they got, as real ones would.
    void DrainMembers() const
    {
        unsigned char buffer[2048];
        for (const auto& member : members)
            while (recv(member->Descriptor(), buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
            }
    }

    std::vector<std::unique_ptr<UdpEndpoint>> members;
    UdpEndpoint sender;
    Bytes message;
};

void BM_RelayForward(benchmark::State& state)
{
    Relay::RelayOptions options;
    options.listenAddress = "127.0.0.1";
    options.port = 0;
    options.controlPortGiven = true;
    options.controlPort = 0;
    Relay::RelayServer relay(options);
    std::string error;
    if (!relay.Open(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    FanOut fanOut(static_cast<int>(state.range(0)));
    const Bytes list = Encode(Halvane::Packet::CSubscriptionListPacket(2, 0, kGroupBytes, 4));
    for (const auto& member : fanOut.members)
        member->SendTo(relay.TrunkPort(), list);
    relay.DrainTrunkSocket(Relay::Clock::now());

    for (auto _ : state) {
        state.PauseTiming();
        fanOut.DrainMembers();
        fanOut.SendBatch(relay.TrunkPort());
        state.ResumeTiming();
        relay.DrainTrunkSocket(Relay::Clock::now());
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["copies_per_second"] = benchmark::Counter(
        static_cast<double>(state.iterations() * kBatch * state.range(0)), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RelayForward)->Arg(1)->Arg(10)->Arg(100);

// The limit of this design: read a datagram, send it to every subscriber.
void BM_MinimalLoop(benchmark::State& state)
{
    UdpEndpoint loop;
    FanOut fanOut(static_cast<int>(state.range(0)));
    std::vector<sockaddr_in> targets;
    for (const auto& member : fanOut.members) {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(member->Port());
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        targets.push_back(target);
    }
    unsigned char buffer[2048];
    for (auto _ : state) {
        state.PauseTiming();
        fanOut.DrainMembers();
        fanOut.SendBatch(loop.Port());
        state.ResumeTiming();
        for (int i = 0; i < kBatch; ++i) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t n = recvfrom(loop.Descriptor(), buffer, sizeof buffer, MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &fromLength);
            for (const sockaddr_in& target : targets)
                if (target.sin_port != from.sin_port)
                    sendto(loop.Descriptor(), buffer, static_cast<size_t>(n), 0,
                           reinterpret_cast<const sockaddr*>(&target), sizeof target);
        }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    state.counters["copies_per_second"] = benchmark::Counter(
        static_cast<double>(state.iterations() * kBatch * state.range(0)), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MinimalLoop)->Arg(1)->Arg(10)->Arg(100);

} // namespace

int main(int argc, char** argv)
{
    // A ratio of times below 1.25 is a forwarding rate of at least 0.8x.
    return rvx::bench::RunWithRatios(argc, argv,
                                     {{"BM_RelayForward/1", "BM_MinimalLoop/1", "<= 1.25, i.e. rate >= 0.8x"},
                                      {"BM_RelayForward/10", "BM_MinimalLoop/10", "<= 1.25, i.e. rate >= 0.8x"},
                                      {"BM_RelayForward/100", "BM_MinimalLoop/100", "<= 1.25, i.e. rate >= 0.8x"}});
}
