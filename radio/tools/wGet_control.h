// Test seams of wGet: a shorter wait for an answer and a smaller body limit.
#pragma once

#include <cstdint>

// wGet's default time limit, as passes of pauseMs milliseconds (400 of
// 50 ms by default: 20 s); the waiting message is logged once a pass.
void wGetSetWaitLimit(int passes, int pauseMs);
// Largest body wGet accepts, in bytes (4 MiB by default).
void wGetSetBodyLimit(std::int64_t bytes);
// Restores the defaults.
void wGetResetLimits();
