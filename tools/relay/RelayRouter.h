// The relay's forwarding rules, free of sockets: subscriptions change the
// table, group messages go unchanged to every other subscriber of their
// group, and anything malformed is counted and dropped.
#pragma once

#include "Endpoint.h"
#include "Packet/Subscription.h"
#include "Packet/SubscriptionListPacket.h"
#include "RelayCounters.h"
#include "SubscriberTable.h"

#include <cstddef>

namespace Relay {

// Where the router's datagrams go; true when the datagram was sent.
class DatagramSink
{
public:
    virtual ~DatagramSink() = default;
    virtual bool SendTo(const Endpoint& to, const unsigned char* data, std::size_t length) = 0;
};

struct RouterSettings
{
    Clock::duration subscriberTimeout = std::chrono::seconds(60);
    std::size_t maxSubscribers = 10000;
};

class RelayRouter
{
public:
    RelayRouter(DatagramSink& sink, const RouterSettings& settings);

    void HandleDatagram(const Endpoint& from, const unsigned char* data, std::size_t length, Clock::time_point now);
    // Sends the settings-changed notice to every subscriber that announced
    // this device id (its low 24 bits); returns how many got it.
    std::size_t NotifySettingsChanged(unsigned int deviceId);
    void ForgetSilentSubscribers(Clock::time_point now);

    const RelayCounters& Counters() const { return mCounters; }
    std::size_t Subscribers() const { return mTable.Size(); }

private:
    void Forward(const Endpoint& from, unsigned int group, const unsigned char* data, std::size_t length);
    void Subscribe(const Endpoint& from, const Halvane::Packet::CSubscription& subscription, std::size_t length,
                   Clock::time_point now);
    void ReplaceSubscriptions(const Endpoint& from, const Halvane::Packet::CSubscriptionListPacket& list,
                              Clock::time_point now);
    void CountRefusal(bool accepted);

    DatagramSink& mSink;
    RouterSettings mSettings;
    SubscriberTable mTable;
    RelayCounters mCounters;
};

} // namespace Relay
