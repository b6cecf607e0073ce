// Process-wide values shared between the main thread and the workers.
#pragma once

#include "device_id.h"

#include <atomic>

namespace ProcessFlags {

// Set by the settings retrieval while it reads the cached settings.
extern std::atomic<bool> registered;
// Set by the trunk library's push callback; consumed by the settings retrieval.
extern std::atomic<bool> settingsPushed;
// False until the last start-up step; the front-panel input loop waits for it.
extern std::atomic<bool> startupComplete;
// Seconds since start-up, advanced on every one-second tick.
extern std::atomic<unsigned> secondsCounter;

} // namespace ProcessFlags
