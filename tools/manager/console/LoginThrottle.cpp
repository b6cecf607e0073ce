// Exponential waits after failed sign-ins, per address and in all.
#include "LoginThrottle.h"

#include <algorithm>

namespace Manager {

namespace {

std::chrono::seconds secondsUntil(LoginThrottle::Clock::time_point until, LoginThrottle::Clock::time_point now)
{
    // Rounded up, so that a client that waits this long is let in.
    const auto left = std::chrono::ceil<std::chrono::seconds>(until - now);
    return std::max(left, std::chrono::seconds(1));
}

} // namespace

LoginThrottle::LoginThrottle(LoginThrottleLimits limits) : limits_(limits) {}

LoginThrottle::Verdict LoginThrottle::begin(const std::string& address, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    forgetOld(inAll_, now);
    if (inAll_.lockedUntil > now)
        return {false, secondsUntil(inAll_.lockedUntil, now),
                "Too many failed sign-ins to this console. Sign-in is paused for a while."};
    const auto found = byAddress_.find(address);
    if (found != byAddress_.end()) {
        Failures& failures = found->second;
        forgetOld(failures, now);
        if (failures.lockedUntil > now)
            return {false, secondsUntil(failures.lockedUntil, now),
                    "Too many failed sign-ins from your address. Sign-in is paused for a while."};
        if (failures.checking)
            return {false, std::chrono::seconds(1), "Another sign-in from your address is being checked."};
    }
    if (checking_ >= limits_.concurrentChecks)
        return {false, std::chrono::seconds(1), "The console is checking other sign-ins."};
    if (found == byAddress_.end())
        makeRoom(now);
    byAddress_[address].checking = true;
    ++checking_;
    return {true, std::chrono::seconds(0), {}};
}

void LoginThrottle::finish(const std::string& address, bool succeeded, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    --checking_;
    const auto found = byAddress_.find(address);
    if (found == byAddress_.end())
        return;
    found->second.checking = false;
    if (succeeded) {
        // Whoever knows the password is no guesser: their address and the
        // count in all start again.
        byAddress_.erase(found);
        inAll_ = Failures{};
        return;
    }
    recordFailure(found->second, limits_.freeFailuresPerAddress, limits_.longestAddressWait, now);
    recordFailure(inAll_, limits_.freeFailuresInAll, limits_.longestWaitInAll, now);
}

std::chrono::seconds LoginThrottle::waitAfter(int failures, int freeFailures, std::chrono::seconds longest) const
{
    const int beyond = failures - freeFailures;
    if (beyond <= 0)
        return std::chrono::seconds(0);
    std::chrono::seconds wait = limits_.firstWait;
    for (int i = 1; i < beyond && wait < longest; ++i)
        wait *= 2;
    return std::min(wait, longest);
}

void LoginThrottle::recordFailure(Failures& failures, int freeFailures, std::chrono::seconds longest,
                                  Clock::time_point now)
{
    forgetOld(failures, now);
    ++failures.count;
    failures.last = now;
    failures.lockedUntil = now + waitAfter(failures.count, freeFailures, longest);
}

void LoginThrottle::forgetOld(Failures& failures, Clock::time_point now) const
{
    if (failures.count > 0 && !failures.checking && now - failures.last >= limits_.forgetAfter) {
        failures.count = 0;
        failures.lockedUntil = Clock::time_point{};
    }
}

void LoginThrottle::makeRoom(Clock::time_point now)
{
    if (byAddress_.size() < limits_.addressesKept)
        return;
    for (auto it = byAddress_.begin(); it != byAddress_.end();) {
        forgetOld(it->second, now);
        if (!it->second.checking && it->second.lockedUntil <= now && it->second.count == 0)
            it = byAddress_.erase(it);
        else
            ++it;
    }
    // Still full: the address whose wait ends first gives way; the wait in
    // all still holds for it.
    while (byAddress_.size() >= limits_.addressesKept) {
        auto first = byAddress_.end();
        for (auto it = byAddress_.begin(); it != byAddress_.end(); ++it)
            if (!it->second.checking && (first == byAddress_.end() || it->second.lockedUntil < first->second.lockedUntil))
                first = it;
        if (first == byAddress_.end())
            break;
        byAddress_.erase(first);
    }
}

} // namespace Manager
