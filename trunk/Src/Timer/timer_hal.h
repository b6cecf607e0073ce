// The millisecond clock behind get_current_time() and polled_timer_t, with
// the pure arithmetic it rests on and a clock seam for tests.
#pragma once

#include <cstdint>
#include <sys/time.h>

namespace Halvane::Time {

// Milliseconds from base to reading; when the reading is earlier than the
// base, the magnitude, with wentBackwards set.
std::uint32_t MillisecondsBetween(const timeval& base, const timeval& reading, bool& wentBackwards);

// Replaces the clock of get_current_time() (nullptr restores the real one).
// Lets tests drive timers without waiting.
using ClockSource = std::uint32_t (*)();
void SetClockSourceForTests(ClockSource source);

} // namespace Halvane::Time
