// Storage of the process-wide flags.
#include "ProcessFlags.h"

namespace ProcessFlags {
std::atomic<bool> registered{false};
std::atomic<bool> settingsPushed{false};
std::atomic<bool> startupComplete{false};
std::atomic<unsigned> secondsCounter{0};
} // namespace ProcessFlags
