// Start, recording and stop of a private headless PulseAudio daemon.
#include "PulseAudioServer.h"

#include "ChildProcess.h"

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fstream>
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
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        for (int i = 0; i < 100 && kill(pid_, 0) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (kill(pid_, 0) == 0)
            kill(pid_, SIGKILL);
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

bool PulseAudioServer::Start(int sineHz)
{
    for (const char* sub : {"/runtime", "/home", "/state"})
        mkdir((folder_ + sub).c_str(), 0700);
    std::vector<std::string> command = {
        "pulseaudio", "--daemonize=yes", "--system=false", "--exit-idle-time=-1", "-n", "--use-pid-file=yes",
        "--disable-shm=yes",
        "--load=module-native-protocol-unix auth-anonymous=1 socket=" + folder_ + "/native",
        "--load=module-null-sink sink_name=test_sink rate=48000 channels=1"};
    if (sineHz > 0)
        command.push_back("--load=module-sine-source source_name=test_source rate=48000 frequency=" +
                          std::to_string(sineHz));
    else
        command.push_back("--load=module-null-source source_name=test_source");
    if (RunCommand(command) != 0) {
        why_ = "pulseaudio did not start";
        return false;
    }
    std::ifstream pidFile(folder_ + "/runtime/pid");
    if (!(pidFile >> pid_)) {
        why_ = "pulseaudio wrote no pid file";
        return false;
    }
    RunCommand({"pactl", "set-default-source", "test_source"});
    RunCommand({"pactl", "set-default-sink", "test_sink"});
    setenv("PULSE_SERVER", server_.c_str(), 1);
    return true;
}

std::vector<std::int16_t> PulseAudioServer::RecordPlayback(std::chrono::milliseconds duration, int rate) const
{
    setenv("PULSE_SERVER", server_.c_str(), 1);
    ChildProcess recorder("/usr/bin/parec", {"-d", "test_sink.monitor", "--raw", "--format=s16le", "--channels=1",
                                    "--latency-msec=20", "--rate=" + std::to_string(rate)});
    std::this_thread::sleep_for(duration);
    recorder.Signal(SIGTERM);
    const std::string bytes = recorder.ReadRest(std::chrono::milliseconds(2000));
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                               (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return samples;
}

double ToneShare(const std::vector<std::int16_t>& samples, double frequencyHz, int rate)
{
    if (samples.empty())
        return 0.0;
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * frequencyHz / rate);
    double s1 = 0.0, s2 = 0.0, total = 0.0;
    for (std::int16_t sample : samples) {
        const double s0 = sample + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
        total += double(sample) * sample;
    }
    if (total <= 0.0)
        return 0.0;
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    // A pure tone of N samples gives power N^2 A^2 / 4 and total N A^2 / 2.
    return power / (total * samples.size() / 2.0);
}

} // namespace rvx::test
