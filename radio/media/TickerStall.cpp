// Stall detection by watching the ticker's tick count move.
#include "TickerStall.h"

TickerStall::TickerStall(std::function<std::uint32_t()> progress, std::function<std::int64_t()> now)
    : progress_(std::move(progress)), now_(std::move(now)), lastTicks_(progress_()), lastProgressMs_(now_())
{
}

bool TickerStall::isTimedOut()
{
    const std::uint32_t ticks = progress_();
    const std::int64_t nowMs = now_();
    if (ticks != lastTicks_) {
        lastTicks_ = ticks;
        lastProgressMs_ = nowMs;
        return false;
    }
    return nowMs - lastProgressMs_ > kAllowedStallMs;
}
