// The millisecond clock: counts from its first reading in the process.
#include "Timer/timer_hal.h"

#include "halvane2.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace Halvane::Time {

namespace {

constexpr long kMicrosecondsPerSecond = 1000000;

std::atomic<ClockSource> g_clockSource{nullptr};

// Seconds and microseconds with the microseconds brought into 0..999999.
struct NormalisedTime
{
    long long seconds;
    long microseconds;
};

NormalisedTime Normalise(const timeval& t)
{
    long long seconds = t.tv_sec + t.tv_usec / kMicrosecondsPerSecond;
    long microseconds = static_cast<long>(t.tv_usec % kMicrosecondsPerSecond);
    if (microseconds < 0) {
        microseconds += kMicrosecondsPerSecond;
        --seconds;
    }
    return {seconds, microseconds};
}

bool IsEarlier(const NormalisedTime& a, const NormalisedTime& b)
{
    return a.seconds < b.seconds || (a.seconds == b.seconds && a.microseconds < b.microseconds);
}

// later - earlier, with earlier not after later. The seconds are subtracted
// as unsigned numbers so that no value of time_t can overflow.
timeval Difference(const NormalisedTime& later, const NormalisedTime& earlier)
{
    unsigned long long seconds = static_cast<unsigned long long>(later.seconds) -
                                 static_cast<unsigned long long>(earlier.seconds);
    long microseconds = later.microseconds - earlier.microseconds;
    if (microseconds < 0) {
        microseconds += kMicrosecondsPerSecond;
        --seconds;
    }
    timeval result{};
    result.tv_sec = static_cast<time_t>(seconds);
    result.tv_usec = static_cast<suseconds_t>(microseconds);
    return result;
}

// The clock counts on a monotonic source: wall-clock steps (NTP, the user
// setting the time) must not make every polled timer jump.
timeval MonotonicNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    timeval reading{};
    reading.tv_sec = now.tv_sec;
    reading.tv_usec = static_cast<suseconds_t>(now.tv_nsec / 1000);
    return reading;
}

std::uint32_t RealClock()
{
    static const timeval base = MonotonicNow(); // thread-safe one-time initialisation
    bool wentBackwards = false;
    const std::uint32_t elapsed = MillisecondsBetween(base, MonotonicNow(), wentBackwards);
    if (wentBackwards)
        std::printf("\n\nTime appeared to go backwards - Overflow?.");
    return elapsed;
}

} // namespace

std::uint32_t MillisecondsBetween(const timeval& base, const timeval& reading, bool& wentBackwards)
{
    timeval difference{};
    wentBackwards = ::timeval_subtract(&difference, reading, base) == 1;
    return static_cast<std::uint32_t>(static_cast<unsigned long long>(difference.tv_sec) * 1000u +
                                      static_cast<unsigned long long>(difference.tv_usec) / 1000u);
}

void SetClockSourceForTests(ClockSource source)
{
    g_clockSource.store(source);
}

namespace {

int SubtractTimevals(timeval* result, const timeval& x, const timeval& y)
{
    const NormalisedTime nx = Normalise(x);
    const NormalisedTime ny = Normalise(y);
    const bool xEarlier = IsEarlier(nx, ny);
    if (result)
        *result = xEarlier ? Difference(ny, nx) : Difference(nx, ny);
    return xEarlier ? 1 : 0;
}

} // namespace

} // namespace Halvane::Time

extern "C" {

unsigned int get_ticks_per_second(void)
{
    return 1000;
}

unsigned int get_current_time(void)
{
    if (const Halvane::Time::ClockSource source = Halvane::Time::g_clockSource.load(std::memory_order_relaxed))
        return source();
    return Halvane::Time::RealClock();
}

int timeval_subtract(struct timeval* result, struct timeval x, struct timeval y)
{
    return Halvane::Time::SubtractTimevals(result, x, y);
}

} // extern "C"
