// Start, recording and stop of a private headless PulseAudio daemon.
#include "PulseAudioServer.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <pthread.h>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <fstream>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace rvx::test {
namespace {

std::vector<char*> Argv(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

} // namespace

PulseAudioServer::PulseAudioServer(int sineHz)
{
    char pattern[] = "/tmp/pa.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        why_ = "no temporary folder";
        return;
    }
    folder_ = pattern;
    server_ = "unix:" + folder_ + "/native";
    if (!Start(sineHz))
        pid_ = -1;
}

PulseAudioServer::~PulseAudioServer()
{
    feeding_ = false;
    if (feeder_.joinable())
        feeder_.join();
    if (monitor_ != nullptr) {
        // The recorder ends when its pipe closes: stop the daemon first so
        // that its output ends and the reading thread returns.
        if (pid_ > 0)
            kill(pid_, SIGTERM);
        recorder_.join();
        pclose(monitor_);
    }
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (waitpid(pid_, &status, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
    if (!folder_.empty())
        RunCommand({"rm", "-rf", folder_});
}

int PulseAudioServer::RunCommand(const std::vector<std::string>& arguments) const
{
    const pid_t child = fork();
    if (child == 0) {
        setenv("PULSE_SERVER", server_.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (folder_ + "/runtime").c_str(), 1);
        setenv("HOME", (folder_ + "/home").c_str(), 1);
        setenv("PULSE_STATE_PATH", (folder_ + "/state").c_str(), 1);
        setenv("PULSE_RUNTIME_PATH", (folder_ + "/runtime").c_str(), 1);
        std::vector<char*> argv = Argv(arguments);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The daemon runs in the foreground as this process's child and is ended
// with it, even when a test dies.
bool PulseAudioServer::Start(int sineHz)
{
    for (const char* sub : {"/runtime", "/home", "/state"})
        mkdir((folder_ + sub).c_str(), 0700);
    const std::vector<std::string> command = {
        "/usr/bin/pulseaudio", "--daemonize=no", "--system=false", "--exit-idle-time=-1", "-n",
        "--disable-shm=yes", "--log-target=stderr", "--log-level=error",
        "--load=module-native-protocol-unix auth-anonymous=1 socket=" + folder_ + "/native",
        "--load=module-null-sink sink_name=test_sink rate=48000 channels=1",
        "--load=module-pipe-source source_name=test_source format=s16le rate=8000 channels=1 file=" + folder_ +
            "/capture.fifo"};
    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        setenv("XDG_RUNTIME_DIR", (folder_ + "/runtime").c_str(), 1);
        setenv("HOME", (folder_ + "/home").c_str(), 1);
        setenv("PULSE_STATE_PATH", (folder_ + "/state").c_str(), 1);
        setenv("PULSE_RUNTIME_PATH", (folder_ + "/runtime").c_str(), 1);
        std::vector<char*> argv = Argv(command);
        execv(argv[0], argv.data());
        _exit(127);
    }
    struct stat info;
    for (int i = 0; i < 250 && stat((folder_ + "/native").c_str(), &info) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (pid_ < 0 || stat((folder_ + "/native").c_str(), &info) != 0) {
        why_ = "pulseaudio did not start";
        return false;
    }
    RunCommand({"pactl", "set-default-source", "test_source"});
    RunCommand({"pactl", "set-default-sink", "test_sink"});
    setenv("PULSE_SERVER", server_.c_str(), 1);
    toneHz_ = sineHz;
    feeding_ = true;
    feeder_ = std::thread([this] { FeedCapturePipe(); });
    const std::string recorder = "PULSE_SERVER=" + server_ +
                                 " exec /usr/bin/parec -d test_sink.monitor --raw --format=s16le --channels=1 "
                                 "--latency-msec=10 --rate=8000";
    monitor_ = popen(recorder.c_str(), "r");
    if (monitor_ != nullptr)
        recorder_ = std::thread([this] { RecordSinkMonitor(); });
    // Recordings count from the moment they are asked for: wait until the
    // recorder delivers (the sink's monitor is quiet until something plays,
    // so this waits a second at most).
    for (int i = 0; i < 50; ++i) {
        {
            std::lock_guard<std::mutex> lock(playedMutex_);
            if (!played_.empty())
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void PulseAudioServer::FeedCapturePipe()
{
    const int fifo = open((folder_ + "/capture.fifo").c_str(), O_WRONLY | O_NONBLOCK);
    if (fifo < 0)
        return;
    constexpr int kRate = 8000;
    constexpr int kChunk = kRate / 100;
    // The tone pauses like speech between syllables: 300 ms on, 40 ms off.
    // A perfectly steady tone is no voice: a predictive codec (Speex) tracks
    // it so tightly that a decoder that missed a frame, or joined late, can
    // drift into loud noise and never recover, as any Speex decoder does.
    // Each pause lets a decoder settle on the sender's state again.
    constexpr int kSyllableSamples = 300 * kRate / 1000;
    constexpr int kPauseSamples = 40 * kRate / 1000;
    double phase = 0.0;
    int gateSample = 0;
    int previousHz = 0;
    auto next = std::chrono::steady_clock::now();
    while (feeding_) {
        std::int16_t chunk[kChunk];
        const int hz = toneHz_;
        const bool steady = steady_;
        if (hz != previousHz)
            gateSample = 0; // a tone that starts, starts with a syllable
        previousHz = hz;
        const double step = 2.0 * M_PI * hz / kRate;
        for (std::int16_t& sample : chunk) {
            const bool sounding = hz > 0 && (steady || gateSample < kSyllableSamples);
            sample = sounding ? static_cast<std::int16_t>(12000.0 * std::sin(phase)) : 0;
            phase = std::fmod(phase + step, 2.0 * M_PI);
            gateSample = (gateSample + 1) % (kSyllableSamples + kPauseSamples);
        }
        // Like a live microphone, audio nobody reads is lost rather than
        // queued: a backlog in the pipe would delay everything after it.
        int pending = 0;
        if (ioctl(fifo, FIONREAD, &pending) == 0 && pending < static_cast<int>(2 * sizeof chunk))
            (void)!write(fifo, chunk, sizeof chunk);
        next += std::chrono::milliseconds(10);
        std::this_thread::sleep_until(next);
    }
    close(fifo);
}

void PulseAudioServer::RecordSinkMonitor()
{
    constexpr std::size_t kChunk = 80;
    constexpr std::size_t kKeptChunks = 3000; // 30 s
    for (;;) {
        PlayedChunk chunk;
        chunk.samples.resize(kChunk);
        if (fread(chunk.samples.data(), sizeof(std::int16_t), kChunk, monitor_) != kChunk)
            return;
        chunk.arrived = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(playedMutex_);
        played_.push_back(std::move(chunk));
        if (played_.size() > kKeptChunks)
            played_.pop_front();
    }
}

std::vector<PulseAudioServer::PlayedChunk> PulseAudioServer::PlayedSince(std::chrono::steady_clock::time_point since)
{
    std::lock_guard<std::mutex> lock(playedMutex_);
    std::vector<PlayedChunk> chunks;
    for (const PlayedChunk& chunk : played_)
        if (chunk.arrived > since)
            chunks.push_back(chunk);
    return chunks;
}

std::vector<std::int16_t> PulseAudioServer::RecordPlayback(std::chrono::milliseconds duration)
{
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(duration);
    std::vector<std::int16_t> samples;
    for (const PlayedChunk& chunk : PlayedSince(start))
        samples.insert(samples.end(), chunk.samples.begin(), chunk.samples.end());
    return samples;
}

// The tone's share is measured per 80 ms block and summed: a buffer the
// sound server dropped or played late shifts the tone's phase, and one
// coherent sum over a whole second would count that as the tone missing.
// 80 ms still resolves 12.5 Hz, and noise gets only about 1/300 of it.
double ToneShare(const std::vector<std::int16_t>& samples, double frequencyHz, int rate)
{
    const std::size_t block = std::max<std::size_t>(1, static_cast<std::size_t>(rate) * 80 / 1000);
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * frequencyHz / rate);
    double tone = 0.0, total = 0.0;
    for (std::size_t begin = 0, end = 0; begin < samples.size(); begin = end) {
        end = samples.size() - begin < 2 * block ? samples.size() : begin + block; // the last block takes the rest
        double s1 = 0.0, s2 = 0.0;
        for (std::size_t i = begin; i < end; ++i) {
            const double s0 = samples[i] + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
            total += double(samples[i]) * samples[i];
        }
        // A pure tone of N samples gives power N^2 A^2 / 4 and energy N A^2 / 2.
        tone += (s1 * s1 + s2 * s2 - coefficient * s1 * s2) / ((end - begin) / 2.0);
    }
    return total > 0.0 ? tone / total : 0.0;
}

double Level(const std::vector<std::int16_t>& samples)
{
    double sum = 0.0;
    for (std::int16_t s : samples)
        sum += double(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / samples.size());
}

} // namespace rvx::test

namespace rvx::test {

namespace {

double ThreadCpuSeconds(std::thread& thread)
{
    if (!thread.joinable())
        return 0.0;
    clockid_t clock{};
    timespec used{};
    if (pthread_getcpuclockid(thread.native_handle(), &clock) != 0 || clock_gettime(clock, &used) != 0)
        return 0.0;
    return used.tv_sec + used.tv_nsec / 1e9;
}

} // namespace

double PulseAudioServer::HelperThreadsCpuSeconds()
{
    return ThreadCpuSeconds(feeder_) + ThreadCpuSeconds(recorder_);
}

} // namespace rvx::test
