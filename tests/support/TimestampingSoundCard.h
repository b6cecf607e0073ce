// A sound card for timing measurements, registered with the media library's
// card manager: its capture side makes silence or a sine tone in real time
// and notes when a tone burst first leaves it; its playback side takes what
// the graph plays and notes when each block arrived and how loud it was.
// Both times are on the one monotonic clock, so a tone's trip from capture
// to playback is measured without any sound server's buffering.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

struct _MSFactory;

namespace rvx::test {

class TimestampingSoundCard
{
public:
    using Clock = std::chrono::steady_clock;

    // Registers the card (once per process) with the factory's card manager.
    static TimestampingSoundCard& Install(_MSFactory* factory);

    // The id the card manager knows the card by.
    static std::string CardId();

    // From the next captured block on, the capture makes this tone (0 Hz:
    // silence). Switching the tone on starts a new burst.
    void SetCaptureTone(int hz);
    // When the current burst's first sample left the capture.
    std::optional<Clock::time_point> BurstStartedAt() const;

    // When a block at least as loud as the threshold (RMS of 16-bit samples)
    // was played after the given time.
    std::optional<Clock::time_point> FirstLoudBlockAfter(Clock::time_point since, double rmsThreshold) const;

    // Used by the card's filters on the media ticker.
    int ToneHz() const;
    void NoteBurstStarted(Clock::time_point when);
    void NotePlayed(Clock::time_point when, double rms);

private:
    TimestampingSoundCard() = default;

    struct PlayedBlock
    {
        Clock::time_point when;
        double rms;
    };
    mutable std::mutex mutex_;
    int toneHz_ = 0;
    bool burstPending_ = false;
    std::optional<Clock::time_point> burstStartedAt_;
    std::deque<PlayedBlock> played_;
};

} // namespace rvx::test
