// Names of the relay's counters and their "name value" text.
#include "RelayCounters.h"

#include <sstream>

namespace Relay {

const char* NameOf(InKind kind)
{
    static const char* const kNames[kInKinds] = {"group_message", "subscription", "subscription_list",
                                                 "challenge_answer", "unexpected", "malformed", "unknown_type"};
    return kNames[static_cast<std::size_t>(kind)];
}

const char* NameOf(OutKind kind)
{
    static const char* const kNames[kOutKinds] = {"group_message", "challenge", "notice"};
    return kNames[static_cast<std::size_t>(kind)];
}

const char* NameOf(Refusal reason)
{
    static const char* const kNames[kRefusals] = {
        "sender_rate", "duplicate",          "unproven_capped", "unproven_strict",
        "backlog",     "table_full",         "endpoints_per_address", "subscriptions_per_address",
        "groups_per_endpoint", "bad_answer", "challenge_rate"};
    return kNames[static_cast<std::size_t>(reason)];
}

void LatencyHistogram::Observe(Clock::duration latency)
{
    const double seconds = std::chrono::duration<double>(latency).count();
    std::size_t bucket = 0;
    while (bucket < kBounds.size() && seconds > kBounds[bucket])
        ++bucket;
    Bump(counts[bucket]);
    Bump(sumNanoseconds, static_cast<std::uint64_t>(std::chrono::nanoseconds(latency).count()));
}

void RelayStats::Add(const SendCounters& worker)
{
    for (std::size_t i = 0; i < kOutKinds; ++i) {
        datagramsOut[i] += worker.datagramsOut[i].load(std::memory_order_relaxed);
        bytesOut[i] += worker.bytesOut[i].load(std::memory_order_relaxed);
    }
    sendErrors += worker.sendErrors.load(std::memory_order_relaxed);
    receiveCalls += worker.receiveCalls.load(std::memory_order_relaxed);
    sendCalls += worker.sendCalls.load(std::memory_order_relaxed);
    for (std::size_t i = 0; i < LatencyHistogram::kBuckets; ++i)
        latencyCounts[i] += worker.latency.counts[i].load(std::memory_order_relaxed);
    latencySumNanoseconds += worker.latency.sumNanoseconds.load(std::memory_order_relaxed);
}

std::uint64_t RelayStats::DatagramsIn() const
{
    std::uint64_t total = 0;
    for (std::uint64_t count : router.datagramsIn)
        total += count;
    return total;
}

std::string RelayStats::Format() const
{
    // The first names are those of earlier relays, kept for scripts that read them.
    std::ostringstream text;
    text << "received " << DatagramsIn() << "\n"
         << "group_messages " << In(InKind::kGroupMessage) << "\n"
         << "forwarded " << Out(OutKind::kGroupMessage) << "\n"
         << "subscriptions " << In(InKind::kSubscription) << "\n"
         << "subscription_lists " << In(InKind::kSubscriptionList) << "\n"
         << "malformed " << In(InKind::kMalformed) << "\n"
         << "unknown_type " << In(InKind::kUnknownType) << "\n"
         << "unexpected " << In(InKind::kUnexpected) << "\n"
         << "notifications_sent " << Out(OutKind::kNotice) << "\n"
         << "send_errors " << sendErrors << "\n"
         << "refused_subscribers " << Refused(Refusal::kTableFull) << "\n"
         << "forgotten_subscribers " << router.forgottenSubscribers << "\n"
         << "subscribers " << subscribers << "\n"
         << "challenge_answers " << In(InKind::kChallengeAnswer) << "\n"
         << "challenges_sent " << Out(OutKind::kChallenge) << "\n"
         << "proofs " << router.proofs << "\n"
         << "lapsed_proofs " << router.lapsedProofs << "\n"
         << "evicted_subscribers " << router.evictedSubscribers << "\n"
         << "proven_subscribers " << provenSubscribers << "\n"
         << "memberships " << subscriptions << "\n"
         << "groups " << groups << "\n"
         << "source_addresses " << sourceAddresses << "\n"
         << "workers " << workers << "\n";
    for (std::size_t i = 0; i < kRefusals; ++i)
        text << "refused_" << NameOf(static_cast<Refusal>(i)) << " " << router.refusals[i] << "\n";
    return text.str();
}

} // namespace Relay
