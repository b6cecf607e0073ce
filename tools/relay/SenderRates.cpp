// Per-sender datagram rates.
#include "SenderRates.h"

namespace Relay {

SenderRates::SenderRates(std::size_t perSecond, std::size_t buckets)
    : mRate(static_cast<double>(perSecond)), mBuckets(perSecond > 0 ? buckets : 0)
{
}

bool SenderRates::Allow(const Endpoint& sender, Clock::time_point now)
{
    if (mBuckets.empty())
        return true;
    TokenBucket& bucket = mBuckets[EndpointHasher{}(sender) % mBuckets.size()];
    return bucket.Take(1, mRate, mRate, now);
}

} // namespace Relay
