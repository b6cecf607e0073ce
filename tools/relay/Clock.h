// The relay's clock: monotonic, so that limits and time-outs survive changes
// of the wall-clock time.
#pragma once

#include <chrono>

namespace Relay {

using Clock = std::chrono::steady_clock;

} // namespace Relay
