// A hand-driven millisecond clock for trunk tests: replaces the clock of
// get_current_time() while it exists.
#pragma once

#include "Timer/timer_hal.h"

#include <atomic>
#include <cstdint>

namespace rvx::test {

class FakeClock
{
public:
    explicit FakeClock(std::uint32_t now = 0)
    {
        Now().store(now);
        Halvane::Time::SetClockSourceForTests([] { return Now().load(); });
    }
    ~FakeClock() { Halvane::Time::SetClockSourceForTests(nullptr); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    void Set(std::uint32_t now) { Now().store(now); }
    void Advance(std::uint32_t milliseconds) { Now().fetch_add(milliseconds); }

private:
    static std::atomic<std::uint32_t>& Now()
    {
        static std::atomic<std::uint32_t> now{0};
        return now;
    }
};

} // namespace rvx::test
