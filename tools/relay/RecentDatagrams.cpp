// The relay's duplicate window.
#include "RecentDatagrams.h"

namespace Relay {

RecentDatagrams::RecentDatagrams(Clock::duration window, std::size_t slots)
    : mWindow(window), mSlots(window > Clock::duration::zero() ? slots : 0), mKey(RandomHashKey())
{
}

bool RecentDatagrams::SeenRecently(const unsigned char* data, std::size_t length, Clock::time_point now)
{
    if (mSlots.empty())
        return false;
    const std::uint64_t fingerprint = KeyedHash(mKey, data, length);
    Slot& slot = mSlots[fingerprint % mSlots.size()];
    const bool seen = slot.used && slot.fingerprint == fingerprint && now - slot.at <= mWindow;
    slot = {fingerprint, now, true};
    return seen;
}

} // namespace Relay
