// What the relay has seen and done: counts by packet type and by reason of
// refusal, kept by the router under its lock, and send counts with the
// forwarding latency, kept by each worker for itself; a snapshot of both
// with the table's sizes is what the control interface and the metrics
// endpoint show.
#pragma once

#include "Clock.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Relay {

// Datagrams read, by what they turned out to be.
enum class InKind : std::size_t {
    kGroupMessage,
    kSubscription,
    kSubscriptionList,
    kChallengeAnswer,
    kUnexpected, // valid, but nothing a unit sends to a relay (a notice, a challenge)
    kMalformed,  // too short, too long or inconsistent
    kUnknownType,
    kCount
};

// Datagrams sent, by what they are.
enum class OutKind : std::size_t { kGroupMessage, kChallenge, kNotice, kCount };

// Why the relay did not do what a datagram asked.
enum class Refusal : std::size_t {
    kSenderRate,              // the sender exceeded its datagrams a second
    kDuplicate,               // forwarded recently: a loop between relays
    kUnprovenCapped,          // a copy for an unproven endpoint over its byte budget
    kUnprovenStrict,          // a copy for an unproven endpoint under the strict policy
    kBacklog,                 // the sender's queue of copies is full
    kTableFull,               // a new subscriber beyond the table's room
    kEndpointsPerAddress,     // a new subscriber beyond its address's endpoints
    kSubscriptionsPerAddress, // a group beyond its address's subscriptions
    kGroupsPerEndpoint,       // a group beyond its endpoint's groups
    kBadAnswer,               // an answer whose cookie is not this endpoint's or too old
    kChallengeRate,           // a challenge beyond the relay's challenges a second
    kCount
};

constexpr std::size_t kInKinds = static_cast<std::size_t>(InKind::kCount);
constexpr std::size_t kOutKinds = static_cast<std::size_t>(OutKind::kCount);
constexpr std::size_t kRefusals = static_cast<std::size_t>(Refusal::kCount);

const char* NameOf(InKind kind);
const char* NameOf(OutKind kind);
const char* NameOf(Refusal reason);

// Kept by the router; read under its lock.
struct RouterCounters
{
    std::array<std::uint64_t, kInKinds> datagramsIn{};
    std::array<std::uint64_t, kInKinds> bytesIn{};
    std::array<std::uint64_t, kRefusals> refusals{};
    std::uint64_t proofs = 0;
    std::uint64_t forgottenSubscribers = 0;
    std::uint64_t lapsedProofs = 0;
    std::uint64_t evictedSubscribers = 0;

    void CountIn(InKind kind, std::size_t bytes)
    {
        ++datagramsIn[static_cast<std::size_t>(kind)];
        bytesIn[static_cast<std::size_t>(kind)] += bytes;
    }
    void Refuse(Refusal reason, std::uint64_t times = 1) { refusals[static_cast<std::size_t>(reason)] += times; }
};

// Counters that one thread writes and any thread may read: a relaxed load
// and store, no locked instruction on the hot path.
inline void Bump(std::atomic<std::uint64_t>& counter, std::uint64_t by = 1)
{
    counter.store(counter.load(std::memory_order_relaxed) + by, std::memory_order_relaxed);
}

// Time from reading a datagram to sending its last copy.
class LatencyHistogram
{
public:
    static constexpr std::array<double, 12> kBounds{0.00005, 0.0001, 0.00025, 0.0005, 0.001, 0.0025,
                                                    0.005,   0.01,   0.025,   0.05,   0.1,   1.0};
    static constexpr std::size_t kBuckets = kBounds.size() + 1; // the last one is "more"

    void Observe(Clock::duration latency);

    std::array<std::atomic<std::uint64_t>, kBuckets> counts{};
    std::atomic<std::uint64_t> sumNanoseconds{0};
};

// Kept by one worker.
struct SendCounters
{
    std::array<std::atomic<std::uint64_t>, kOutKinds> datagramsOut{};
    std::array<std::atomic<std::uint64_t>, kOutKinds> bytesOut{};
    std::atomic<std::uint64_t> sendErrors{0};
    std::atomic<std::uint64_t> receiveCalls{0};
    std::atomic<std::uint64_t> sendCalls{0};
    LatencyHistogram latency;
};

// A snapshot of everything, summed over the workers.
struct RelayStats
{
    RouterCounters router;
    std::array<std::uint64_t, kOutKinds> datagramsOut{};
    std::array<std::uint64_t, kOutKinds> bytesOut{};
    std::uint64_t sendErrors = 0;
    std::uint64_t receiveCalls = 0;
    std::uint64_t sendCalls = 0;
    std::array<std::uint64_t, LatencyHistogram::kBuckets> latencyCounts{};
    std::uint64_t latencySumNanoseconds = 0;

    std::size_t subscribers = 0;
    std::size_t provenSubscribers = 0;
    std::size_t subscriptions = 0;
    std::size_t groups = 0;
    std::size_t sourceAddresses = 0;
    std::size_t workers = 0;

    void Add(const SendCounters& worker);
    std::uint64_t DatagramsIn() const;
    std::uint64_t Out(OutKind kind) const { return datagramsOut[static_cast<std::size_t>(kind)]; }
    std::uint64_t In(InKind kind) const { return router.datagramsIn[static_cast<std::size_t>(kind)]; }
    std::uint64_t Refused(Refusal reason) const { return router.refusals[static_cast<std::size_t>(reason)]; }

    // One "name value" pair per line: the control interface's "counters".
    std::string Format() const;
};

} // namespace Relay
