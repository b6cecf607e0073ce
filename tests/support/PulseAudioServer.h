// A headless PulseAudio daemon for audio tests: a null sink whose monitor
// records what the program played, and a capture source fed in real time
// through a pipe (silence, or a sine tone paced like speech), all in a temporary folder; the
// daemon is stopped by its pid. While it runs, this process's PulseAudio
// clients (the media library) use it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace rvx::test {

class PulseAudioServer
{
public:
    // The capture source plays a sine tone of sineHz (0: silence).
    explicit PulseAudioServer(int sineHz = 0);
    ~PulseAudioServer();
    PulseAudioServer(const PulseAudioServer&) = delete;
    PulseAudioServer& operator=(const PulseAudioServer&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& Why() const { return why_; }
    // "unix:<folder>/native", for child processes' PULSE_SERVER.
    const std::string& ServerAddress() const { return server_; }

    // Changes the captured tone from now on (0 Hz: silence). The tone pauses
    // 40 ms after every 300 ms, as speech does between syllables.
    void SetCaptureTone(int hz) { toneHz_ = hz; }
    // A tone without pauses: the hardest signal for a predictive codec.
    void SetCaptureToneSteady(bool steady) { steady_ = steady; }

    // Mono 16-bit samples at 8000 Hz of what the sink plays from now on for
    // the duration.
    std::vector<std::int16_t> RecordPlayback(std::chrono::milliseconds duration);

    // Played samples as they arrive, each 10 ms chunk with its arrival time.
    struct PlayedChunk
    {
        std::chrono::steady_clock::time_point arrived;
        std::vector<std::int16_t> samples;
    };
    std::vector<PlayedChunk> PlayedSince(std::chrono::steady_clock::time_point since);

    // CPU seconds spent so far by this helper's own threads in the calling
    // process (tone feeder and recorder), so that measurements of the
    // program's CPU can leave them out.
    double HelperThreadsCpuSeconds();

private:
    bool Start(int sineHz);
    int RunCommand(const std::vector<std::string>& arguments) const;

    std::string folder_;
    std::string server_;
    std::string why_;
    pid_t pid_ = -1;
    void FeedCapturePipe();
    void RecordSinkMonitor();

    // Writes the capture tone into the source's pipe, 10 ms at a time.
    std::atomic<int> toneHz_{0};
    std::atomic<bool> steady_{false};
    std::atomic<bool> feeding_{false};
    std::thread feeder_;
    // Reads the sink's monitor all the time, so that recordings start at once.
    std::thread recorder_;
    FILE* monitor_ = nullptr;
    std::mutex playedMutex_;
    std::deque<PlayedChunk> played_;
};

// Relative strength of one frequency in the samples (Goertzel filter per
// 80 ms block, so a phase jump between buffers does not count as silence):
// the tone's power divided by the samples' total power, 0 to about 1.
double ToneShare(const std::vector<std::int16_t>& samples, double frequencyHz, int rate = 8000);

// Root-mean-square level of samples (0 for none).
double Level(const std::vector<std::int16_t>& samples);

} // namespace rvx::test
