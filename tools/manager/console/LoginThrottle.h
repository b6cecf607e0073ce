// Slows down password guessing at the sign-in form. After a few failed
// sign-ins from one address, that address must wait before its next try,
// twice as long after every further failure; failures from all addresses
// together do the same with a higher allowance and a shorter longest wait,
// against guessing spread over many addresses. A refused try is answered
// at once (never by holding a worker thread), and only one try per address
// and a few in all are checked at the same time, since each check of an
// Argon2 hash takes much memory and time. Thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>

namespace Manager {

struct LoginThrottleLimits
{
    int freeFailuresPerAddress = 3;
    std::chrono::seconds longestAddressWait{15 * 60};
    int freeFailuresInAll = 20;
    std::chrono::seconds longestWaitInAll{60};
    std::chrono::seconds firstWait{1};
    // A record of failures is forgotten this long after its last failure.
    std::chrono::seconds forgetAfter{60 * 60};
    int concurrentChecks = 2;
    std::size_t addressesKept = 4096;
};

class LoginThrottle
{
public:
    using Clock = std::chrono::steady_clock;

    struct Verdict
    {
        bool allowed = false;
        std::chrono::seconds retryAfter{0};
        std::string reason;  // for the operator when refused
    };

    explicit LoginThrottle(LoginThrottleLimits limits = {});

    // Whether a try from this address may be checked now. An allowed try
    // must be ended with finish().
    Verdict begin(const std::string& address, Clock::time_point now);
    void finish(const std::string& address, bool succeeded, Clock::time_point now);

private:
    struct Failures
    {
        int count = 0;
        Clock::time_point last{};
        Clock::time_point lockedUntil{};
        bool checking = false;
    };

    std::chrono::seconds waitAfter(int failures, int freeFailures, std::chrono::seconds longest) const;
    void recordFailure(Failures& failures, int freeFailures, std::chrono::seconds longest, Clock::time_point now);
    void forgetOld(Failures& failures, Clock::time_point now) const;
    void makeRoom(Clock::time_point now);

    const LoginThrottleLimits limits_;
    std::mutex mutex_;
    std::map<std::string, Failures> byAddress_;
    Failures inAll_;
    int checking_ = 0;
};

} // namespace Manager
