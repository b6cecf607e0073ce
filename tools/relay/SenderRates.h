// Datagrams a second per sending endpoint. Anyone may send, subscribed or
// not, so the buckets are a fixed table indexed by a keyed hash of the
// endpoint rather than one entry per sender: forged senders cannot grow it,
// and two senders share a bucket only by rare chance.
#pragma once

#include "Endpoint.h"
#include "TokenBucket.h"

#include <cstddef>
#include <vector>

namespace Relay {

class SenderRates
{
public:
    // A limit of zero lets everything through. A sender may burst one
    // second's worth.
    explicit SenderRates(std::size_t perSecond, std::size_t buckets = std::size_t{1} << 16);

    bool Allow(const Endpoint& sender, Clock::time_point now);

private:
    double mRate;
    std::vector<TokenBucket> mBuckets;
};

} // namespace Relay
