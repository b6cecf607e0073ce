// Test seams of wGet: a shorter wait for an answer and a smaller body limit.
#pragma once

#include <cstdint>

// Number of 50 ms passes after which wGet gives up (400 by default) and the
// pause of each pass in milliseconds (50 by default).
void wGetSetWaitLimit(int passes, int pauseMs);
// Largest body wGet accepts, in bytes (4 MiB by default).
void wGetSetBodyLimit(std::int64_t bytes);
// Restores the defaults.
void wGetResetLimits();
