// A headless PulseAudio daemon for audio tests: a null sink whose monitor
// records what the program played, and a capture source (silent, or a sine
// tone), all in a temporary folder; the daemon is stopped by its pid. While
// it runs, this process's PulseAudio clients (the media library) use it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace rvx::test {

class PulseAudioServer
{
public:
    // sineHz 0: a silent capture source; otherwise a sine tone at that
    // frequency is the default capture source.
    explicit PulseAudioServer(int sineHz = 0);
    ~PulseAudioServer();
    PulseAudioServer(const PulseAudioServer&) = delete;
    PulseAudioServer& operator=(const PulseAudioServer&) = delete;

    bool Running() const { return pid_ > 0; }
    const std::string& Why() const { return why_; }
    // "unix:<folder>/native", for child processes' PULSE_SERVER.
    const std::string& ServerAddress() const { return server_; }

    // Mono 16-bit samples of what the sink plays, recorded for the duration.
    std::vector<std::int16_t> RecordPlayback(std::chrono::milliseconds duration, int rate = 8000) const;

private:
    bool Start(int sineHz);
    int RunCommand(const std::vector<std::string>& arguments) const;

    std::string folder_;
    std::string server_;
    std::string why_;
    pid_t pid_ = -1;
};

// Relative strength of one frequency in the samples (Goertzel filter):
// the tone's power divided by the samples' total power, 0 to about 1.
double ToneShare(const std::vector<std::int16_t>& samples, double frequencyHz, int rate = 8000);

} // namespace rvx::test
