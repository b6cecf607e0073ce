// The relay's forwarding rules, free of sockets and threads (the caller
// holds one lock around every call): subscriptions change the table within
// its limits, group messages go unchanged to the other subscribers of their
// group, and endpoints that did not prove their address by answering a
// challenge get what the unproven policy allows. Anything malformed is
// counted and dropped before any other work.
#pragma once

#include "Clock.h"
#include "Endpoint.h"
#include "RecentDatagrams.h"
#include "RelayCounters.h"
#include "RoutabilityCheck.h"
#include "SenderRates.h"
#include "SubscriberTable.h"
#include "TokenBucket.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Relay {

// Where the router's datagrams go.
class DatagramSink
{
public:
    virtual ~DatagramSink() = default;
    // False when so many of the sender's copies already wait that this many
    // more would be refused; saves choosing targets for nothing.
    virtual bool Accepting(const Endpoint& from, std::size_t copies) const = 0;
    // Copies of a datagram from `from` for every target; false when refused.
    virtual bool Forward(const Endpoint& from, const unsigned char* data, std::size_t length,
                         const std::vector<Endpoint>& targets, Clock::time_point received) = 0;
    // A datagram the relay makes itself (a challenge or a notice).
    virtual void Send(const Endpoint& to, const unsigned char* data, std::size_t length, OutKind kind) = 0;
};

// What unproven endpoints get.
enum class UnprovenPolicy {
    kOpen,   // everything, as relays before the check did; no challenges
    kCapped, // at most the unproven byte rate per source address
    kStrict, // nothing until they answer
};

struct RouterSettings
{
    Clock::duration subscriberTimeout = std::chrono::seconds(60);
    std::size_t maxSubscribers = 10000;
    UnprovenPolicy unprovenPolicy = UnprovenPolicy::kCapped;
    // One voice stream at the radios' defaults (Speex mode 5 in 100 ms
    // packets) is about 2,200 bytes a second with its trunk and RTP headers.
    std::size_t unprovenBytesPerSecond = 4000;
    Clock::duration proofLifetime = std::chrono::seconds(600);
    std::size_t maxEndpointsPerAddress = 256;
    std::size_t maxSubscriptionsPerAddress = 4096;
    std::size_t maxGroupsPerEndpoint = 64;
    std::size_t maxDatagramsPerSecond = 250; // per sending endpoint; 0: no limit
    Clock::duration duplicateWindow = std::chrono::seconds(5); // 0: no loop check
    std::size_t challengesPerSecond = 2000;                    // in all
};

class RelayRouter
{
public:
    // A challenge goes out at most this often to one endpoint.
    static constexpr Clock::duration kChallengeInterval = std::chrono::seconds(1);

    explicit RelayRouter(const RouterSettings& settings);
    RelayRouter(const RouterSettings& settings, const RoutabilityCheck& routability);

    void HandleDatagram(const Endpoint& from, const unsigned char* data, std::size_t length, Clock::time_point now,
                        DatagramSink& sink);
    // Sends the settings-changed notice to every subscriber that announced
    // this device id (its low 24 bits) and may get traffic; returns how many.
    std::size_t NotifySettingsChanged(std::uint32_t deviceId, DatagramSink& sink);
    // Forgets silent subscribers and lets old proofs lapse.
    void Sweep(Clock::time_point now);

    const RouterCounters& Counters() const { return mCounters; }
    const SubscriberTable& Table() const { return mTable; }
    const RoutabilityCheck& Routability() const { return mRoutability; }
    const RouterSettings& Settings() const { return mSettings; }
    std::size_t Subscribers() const { return mTable.Size(); }

private:
    void Forward(const Endpoint& from, std::uint32_t group, const unsigned char* data, std::size_t length,
                 Clock::time_point now, DatagramSink& sink);
    bool MayReceive(Subscriber& member, std::size_t length, Clock::time_point now);
    void Subscribe(const Endpoint& from, const unsigned char* data, std::size_t length, Clock::time_point now,
                   DatagramSink& sink);
    void ReplaceSubscriptions(const Endpoint& from, const unsigned char* data, std::size_t length,
                              Clock::time_point now, DatagramSink& sink);
    void TakeAnswer(const Endpoint& from, const unsigned char* data, std::size_t length, Clock::time_point now);
    // The subscriber at `from`, added when new; none when refused (counted).
    Subscriber* SubscriberFor(const Endpoint& from, std::uint32_t deviceId, Clock::time_point now, DatagramSink& sink);
    void ChallengeIfDue(Subscriber* subscriber, const Endpoint& from, Clock::time_point now, DatagramSink& sink);
    void CountTableRefusal(TableRefusal refusal, std::uint64_t times = 1);

    RouterSettings mSettings;
    RoutabilityCheck mRoutability;
    SubscriberTable mTable;
    SenderRates mSenderRates;
    RecentDatagrams mRecent;
    TokenBucket mChallengeBudget;
    RouterCounters mCounters;
    std::vector<Endpoint> mTargets; // reused for every group message
    std::vector<std::uint32_t> mGroups;
};

} // namespace Relay
