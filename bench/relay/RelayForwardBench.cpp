// halvane-relay's forwarding rate with 1, 10, 100 and 1,000 subscribers of
// one group and 1 or 2 forwarding threads, against a plain recvfrom ->
// sendto loop doing the same fan-out on a thread of its own; the cost of
// the abuse checks (limits and the address check on, against all off); and
// the amplification a forger gets from each unproven policy. Everything is
// on 127.0.0.1, and the generator and the subscribers share the machine's
// processors with the relay.
#include "BenchMain.h"
#include "RelayRouter.h"
#include "RelayServer.h"
#include "UdpEndpoint.h"

#include "Packet/GroupMsg.h"
#include "Packet/Subscription.h"
#include "Packet/SubscriptionListPacket.h"

#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using rvx::test::Bytes;
using rvx::test::UdpEndpoint;

namespace {

constexpr unsigned int kGroup = 0xEF000001;
const unsigned char kGroupBytes[] = {0x01, 0x00, 0x00, 0xEF};
constexpr int kSenders = 8; // several, so that the kernel spreads them over the workers

Bytes Encode(const Halvane::Packet::CPacket& packet)
{
    Bytes out(packet.EncodedSize());
    packet.Encode(out.data());
    return out;
}

// Datagrams per iteration: fewer for the largest group, so that an
// iteration stays short and the subscribers' buffers never overflow.
int BatchFor(int subscribers)
{
    return subscribers >= 1000 ? 16 : 64;
}

// Subscribers and senders around something that forwards on one port.
class FanOut
{
public:
    explicit FanOut(int subscribers) : batch(BatchFor(subscribers))
    {
        for (int i = 0; i < subscribers; ++i)
            members.push_back(std::make_unique<UdpEndpoint>());
        for (int i = 0; i < kSenders; ++i)
            senders.push_back(std::make_unique<UdpEndpoint>());
        payload.assign(200, 0x11);
        payload[0] = 0x80;
    }

    // Each datagram differs (as RTP sequence numbers do), so none is a
    // duplicate for the relay's loop check.
    void SendBatch(unsigned short port)
    {
        for (int i = 0; i < batch; ++i) {
            ++sequence;
            std::memcpy(payload.data() + 2, &sequence, sizeof sequence);
            senders[static_cast<std::size_t>(i % kSenders)]->SendTo(
                port, Encode(Halvane::Packet::CGroupMsg(1, 0, payload.data(), static_cast<unsigned int>(payload.size()),
                                                        Halvane::Packet::kKindRtp, kGroup)));
        }
    }

    // Subscribers read what they got, as real ones would.
    void DrainMembers() const
    {
        unsigned char buffer[2048];
        for (const auto& member : members)
            while (recv(member->Descriptor(), buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
            }
    }

    std::uint64_t CopiesPerBatch() const { return static_cast<std::uint64_t>(batch) * members.size(); }

    const int batch;
    std::vector<std::unique_ptr<UdpEndpoint>> members;
    std::vector<std::unique_ptr<UdpEndpoint>> senders;
    Bytes payload;
    std::uint64_t sequence = 0;
};

// Waits (sleeping, not spinning: the processors are the relay's) until the
// count reaches the target; false after a second without reaching it.
template <typename Count>
bool WaitFor(Count count, std::uint64_t target)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (count() < target) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    return true;
}

// System calls per copy sent: the batching gain, free of the timing noise
// of a shared machine.
void ReportCalls(benchmark::State& state, std::uint64_t calls, std::uint64_t copies)
{
    if (copies > 0)
        state.counters["calls_per_copy"] = static_cast<double>(calls) / static_cast<double>(copies);
}

void Report(benchmark::State& state, const FanOut& fanOut)
{
    const auto datagrams = static_cast<double>(state.iterations() * fanOut.batch);
    state.counters["in_per_s"] = benchmark::Counter(datagrams, benchmark::Counter::kIsRate);
    state.counters["out_per_s"] =
        benchmark::Counter(datagrams * static_cast<double>(fanOut.members.size()), benchmark::Counter::kIsRate);
}

// Makes an endpoint proven the way a unit with the trunk library does:
// the challenge's cookie goes back as an answer.
void Prove(const UdpEndpoint& member, unsigned short relayPort)
{
    const auto challenge = member.Receive(std::chrono::milliseconds(1000));
    if (challenge && challenge->size() >= 8 && (*challenge)[0] == Halvane::Packet::kTypeChallenge) {
        Bytes answer = *challenge;
        answer[0] = Halvane::Packet::kTypeChallengeAnswer;
        member.SendTo(relayPort, answer);
    }
}

void RunRelay(benchmark::State& state, bool checks)
{
    Relay::RelayOptions options;
    options.listenAddress = "127.0.0.1";
    options.port = 0;
    options.controlSocket = "off";
    options.workers = static_cast<std::size_t>(state.range(1));
    // All subscribers share 127.0.0.1 here, so the per-address table limits
    // are raised above the largest group; they are still counted and checked.
    options.router.maxEndpointsPerAddress = 4096;
    options.router.maxSubscriptionsPerAddress = 4096;
    if (checks) {
        // Every check runs; the rate limit is set above what the generator sends.
        options.router.maxDatagramsPerSecond = 100000000;
    } else {
        options.router.unprovenPolicy = Relay::UnprovenPolicy::kOpen;
        options.router.maxDatagramsPerSecond = 0;
        options.router.duplicateWindow = Relay::Clock::duration::zero();
    }
    Relay::RelayServer relay(options);
    std::string error;
    if (!relay.Open(error) || !relay.Start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    FanOut fanOut(static_cast<int>(state.range(0)));
    const Bytes list = Encode(Halvane::Packet::CSubscriptionListPacket(2, 0, kGroupBytes, 4));
    for (const auto& member : fanOut.members) {
        member->SendTo(relay.TrunkPort(), list);
        if (checks)
            Prove(*member, relay.TrunkPort());
    }
    if (checks && !WaitFor([&] { return relay.Stats().router.proofs; }, fanOut.members.size())) {
        state.SkipWithError("the subscribers were not proven");
        return;
    }
    const Relay::RelayStats before = relay.Stats();
    std::uint64_t expected = relay.CopiesSent();
    for (auto _ : state) {
        state.PauseTiming();
        fanOut.DrainMembers();
        state.ResumeTiming();
        fanOut.SendBatch(relay.TrunkPort());
        expected += fanOut.CopiesPerBatch();
        if (!WaitFor([&] { return relay.CopiesSent(); }, expected)) {
            state.SkipWithError("copies went missing");
            return;
        }
    }
    Report(state, fanOut);
    const Relay::RelayStats after = relay.Stats();
    ReportCalls(state, after.receiveCalls + after.sendCalls - before.receiveCalls - before.sendCalls,
                after.Out(Relay::OutKind::kGroupMessage) - before.Out(Relay::OutKind::kGroupMessage));
}

void BM_Relay(benchmark::State& state)
{
    RunRelay(state, true);
}
BENCHMARK(BM_Relay)->ArgsProduct({{1, 10, 100, 1000}, {1, 2}})->UseRealTime();

void BM_RelayNoChecks(benchmark::State& state)
{
    RunRelay(state, false);
}
BENCHMARK(BM_RelayNoChecks)->ArgsProduct({{1, 10, 100, 1000}, {1}})->UseRealTime();

// The plain loop: read a datagram, send it to every subscriber, on a thread
// of its own as the relay's workers are.
class PlainLoop
{
public:
    explicit PlainLoop(const std::vector<sockaddr_in>& targets) : mTargets(targets)
    {
        const int size = 4 << 20;
        setsockopt(mSocket.Descriptor(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        setsockopt(mSocket.Descriptor(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        mThread = std::thread([this] { Run(); });
    }
    ~PlainLoop()
    {
        mStop = true;
        mThread.join();
    }
    unsigned short Port() const { return mSocket.Port(); }
    std::uint64_t Copies() const { return mCopies.load(std::memory_order_relaxed); }
    std::uint64_t Calls() const { return mCalls.load(std::memory_order_relaxed); }

private:
    void Run()
    {
        unsigned char buffer[2048];
        while (!mStop) {
            pollfd waiting{mSocket.Descriptor(), POLLIN, 0};
            if (poll(&waiting, 1, 10) <= 0)
                continue;
            for (;;) {
                sockaddr_in from{};
                socklen_t fromLength = sizeof from;
                const ssize_t n = recvfrom(mSocket.Descriptor(), buffer, sizeof buffer, MSG_DONTWAIT,
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
                mCalls.fetch_add(1, std::memory_order_relaxed);
                if (n < 0)
                    break;
                for (const sockaddr_in& target : mTargets) {
                    if (target.sin_port == from.sin_port)
                        continue;
                    mCalls.fetch_add(1, std::memory_order_relaxed);
                    if (sendto(mSocket.Descriptor(), buffer, static_cast<size_t>(n), 0,
                               reinterpret_cast<const sockaddr*>(&target), sizeof target) == n)
                        mCopies.fetch_add(1, std::memory_order_relaxed);
                }
            }
        }
    }

    UdpEndpoint mSocket;
    std::vector<sockaddr_in> mTargets;
    std::atomic<bool> mStop{false};
    std::atomic<std::uint64_t> mCopies{0};
    std::atomic<std::uint64_t> mCalls{0};
    std::thread mThread;
};

void BM_PlainLoop(benchmark::State& state)
{
    FanOut fanOut(static_cast<int>(state.range(0)));
    std::vector<sockaddr_in> targets;
    for (const auto& member : fanOut.members) {
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(member->Port());
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        targets.push_back(target);
    }
    PlainLoop loop(targets);
    const std::uint64_t callsBefore = loop.Calls();
    std::uint64_t expected = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fanOut.DrainMembers();
        state.ResumeTiming();
        fanOut.SendBatch(loop.Port());
        expected += fanOut.CopiesPerBatch();
        if (!WaitFor([&] { return loop.Copies(); }, expected)) {
            state.SkipWithError("copies went missing");
            return;
        }
    }
    Report(state, fanOut);
    ReportCalls(state, loop.Calls() - callsBefore, loop.Copies());
}
BENCHMARK(BM_PlainLoop)->Arg(1)->Arg(10)->Arg(100)->Arg(1000)->UseRealTime();

// What a forger gets: one forged join (13 bytes) for a victim's address
// every 60 s, the subscriber time-out, keeps the victim subscribed to a busy
// group (50 datagrams of 500 bytes a second). Bytes sent to the victim per
// forged byte, over those 60 s, on the relay's own clock.
void BM_Amplification(benchmark::State& state)
{
    const auto policy = static_cast<Relay::UnprovenPolicy>(state.range(0));
    double factor = 0, victimBytesPerSecond = 0;
    for (auto _ : state) {
        Relay::RouterSettings settings;
        settings.unprovenPolicy = policy;
        Relay::RelayRouter router(settings);
        struct CountingSink : Relay::DatagramSink
        {
            std::uint64_t bytes = 0;
            bool Accepting(const Relay::Endpoint&, std::size_t) const override { return true; }
            bool Forward(const Relay::Endpoint&, const unsigned char*, std::size_t length,
                         const std::vector<Relay::Endpoint>& targets, Relay::Clock::time_point) override
            {
                bytes += length * targets.size();
                return true;
            }
            void Send(const Relay::Endpoint&, const unsigned char*, std::size_t length, Relay::OutKind) override
            {
                bytes += length;
            }
        } victim;
        const Relay::Endpoint victimAddress{htonl(0xC6336401), htons(40000)}, talker{htonl(0x0A000001), htons(3000)};
        const auto start = Relay::Clock::now();
        const Bytes join = Encode(Halvane::Packet::CSubscription(1, 0, nullptr, 0, kGroup, 1));
        router.HandleDatagram(victimAddress, join.data(), join.size(), start, victim);
        Bytes payload(488, 0x11);
        for (int i = 0; i < 60 * 50; ++i) {
            std::memcpy(payload.data(), &i, sizeof i);
            const Bytes message = Encode(Halvane::Packet::CGroupMsg(
                5, 0, payload.data(), static_cast<unsigned int>(payload.size()), Halvane::Packet::kKindRtp, kGroup));
            router.HandleDatagram(talker, message.data(), message.size(), start + std::chrono::milliseconds(20 * i),
                                  victim);
        }
        factor = static_cast<double>(victim.bytes) / static_cast<double>(join.size());
        victimBytesPerSecond = static_cast<double>(victim.bytes) / 60;
    }
    state.counters["bytes_out_per_forged_byte"] = factor;
    state.counters["victim_bytes_per_s"] = victimBytesPerSecond;
}
BENCHMARK(BM_Amplification)
    ->Arg(static_cast<int>(Relay::UnprovenPolicy::kOpen))
    ->Arg(static_cast<int>(Relay::UnprovenPolicy::kCapped))
    ->Arg(static_cast<int>(Relay::UnprovenPolicy::kStrict))
    ->Iterations(1)
    ->Repetitions(1);

} // namespace

int main(int argc, char** argv)
{
    // A time ratio below 0.5 is a forwarding rate of more than 2x.
    // Five repetitions of at least 0.3 s keep the whole run near a minute;
    // flags given on the command line win.
    std::vector<char*> arguments{argv[0]};
    static char repetitions[] = "--benchmark_repetitions=5";
    static char minTime[] = "--benchmark_min_time=0.3";
    arguments.push_back(repetitions);
    arguments.push_back(minTime);
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    std::vector<rvx::bench::RatioPair> pairs;
    for (const char* members : {"1", "10", "100", "1000"}) {
        const std::string relay1 = std::string("BM_Relay/") + members + "/1/real_time";
        const std::string relay2 = std::string("BM_Relay/") + members + "/2/real_time";
        const std::string plain = std::string("BM_PlainLoop/") + members + "/real_time";
        const std::string open = std::string("BM_RelayNoChecks/") + members + "/1/real_time";
        pairs.push_back({relay1, plain, "<= 0.5, i.e. rate >= 2x the plain loop"});
        pairs.push_back({relay2, plain, "<= 0.5, i.e. rate >= 2x the plain loop"});
        pairs.push_back({relay2, relay1, "0.5 would be linear in threads"});
        pairs.push_back({relay1, open, "the abuse checks' cost: near 1"});
    }
    return rvx::bench::RunWithRatios(static_cast<int>(arguments.size()), arguments.data(), pairs);
}
