// A token bucket: holds up to `capacity` tokens, refilled at `rate` a second.
#pragma once

#include "Clock.h"

#include <algorithm>

namespace Relay {

class TokenBucket
{
public:
    // A new bucket is full.
    TokenBucket() = default;

    // Takes `amount` tokens when that many are there.
    bool Take(double amount, double rate, double capacity, Clock::time_point now)
    {
        if (!mStarted) {
            mStarted = true;
            mTokens = capacity;
        } else if (now > mLast) {
            mTokens = std::min(capacity, mTokens + rate * std::chrono::duration<double>(now - mLast).count());
        }
        mLast = std::max(mLast, now);
        if (mTokens < amount)
            return false;
        mTokens -= amount;
        return true;
    }

private:
    bool mStarted = false;
    double mTokens = 0;
    Clock::time_point mLast{};
};

} // namespace Relay
