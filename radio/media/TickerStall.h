// The stall query of the media ticker for the audio watchdog: true once the
// ticker has made no progress (its tick count has not moved) for longer
// than the allowed time. Polled from the main thread.
#pragma once

#include <cstdint>
#include <functional>

class TickerStall
{
public:
    static constexpr std::int64_t kAllowedStallMs = 2000;

    // progress reads the ticker's tick count; now gives monotonic ms.
    TickerStall(std::function<std::uint32_t()> progress, std::function<std::int64_t()> now);

    bool isTimedOut();

private:
    std::function<std::uint32_t()> progress_;
    std::function<std::int64_t()> now_;
    std::uint32_t lastTicks_;
    std::int64_t lastProgressMs_;
};
