// A virtual interface for tests that records the subscription packets its
// sockets ask for instead of sending them.
#pragma once

#include "Adapter/VirtualInterface.h"

#include <vector>

namespace rvx::test {

struct SubscriptionRequest
{
    unsigned int descriptor;
    unsigned int groupId;
    Halvane::Packet::CSubscription::EAction action;
    bool operator==(const SubscriptionRequest& other) const
    {
        return descriptor == other.descriptor && groupId == other.groupId && action == other.action;
    }
};

class RecordingInterface : public Halvane::Adapter::CVirtualInterface
{
public:
    RecordingInterface() : CVirtualInterface(0x123456, 0, "lo", nullptr) {}

    int SendSubscriptionPacket(unsigned int descriptor, unsigned int groupId,
                               Halvane::Packet::CSubscription::EAction action) override
    {
        requests.push_back({descriptor, groupId, action});
        return 13;
    }

    std::vector<SubscriptionRequest> requests;
};

} // namespace rvx::test
