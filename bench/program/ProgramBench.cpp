// The whole radio program against a bare Qt window of the same size, both
// started as processes on the same display inside a private network
// namespace and measured side by side in one run (repetitions interleaved):
//  - start to home screen: from just before the process starts until the
//    radio (a registered unit with its key already made) selects its home
//    screen, or the bare window's event loop runs with the window shown;
//  - idle CPU: utime + stime of the process over a window of
//    RVX_BENCH_CPU_SECONDS (default 30) once it is up;
//  - receiving CPU: the same while a 20 ms PCMU stream is sent to the
//    radio's channel (Local 1) from this process.
// The reported time of the CPU benchmarks is the CPU time spent in the
// window; cpu_pct is that as a share of one core, and udp_in_per_s shows
// whether the stream was taken in (50 a second while the radio listens).
#include "BenchMain.h"
#include "ChildProcess.h"
#include "MeasuredProgram.h"
#include "NetNamespace.h"
#include "PulseAudioServer.h"
#include "RegisteredUnit.h"
#include "UdpEndpoint.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using rvx::bench::MeasuredProgram;
using rvx::bench::RegisteredUnit;

enum class Subject { Radio, BareWindow };

const char* const kXvfb = "/usr/bin/Xvfb";
const char* const kLocalOneGroup = "225.4.0.1";
constexpr unsigned short kChannelPort = 50000;
constexpr int kStartTimeoutMs = 60000;
constexpr int kSettleMs = 3000;

// What every benchmark needs; made once in main() inside the namespace.
struct BenchSetup
{
    QString display;
    std::unique_ptr<RegisteredUnit> unit;
    int cpuSeconds = 30;
};
BenchSetup* setup = nullptr;

std::unique_ptr<MeasuredProgram> makeProgram(Subject subject)
{
    if (subject == Subject::Radio)
        return std::make_unique<MeasuredProgram>(RADIO_PROGRAM_PATH, setup->unit->environment("LCD_DEBUG_OUTPUT\n"),
                                                 setup->unit->folder());
    return std::make_unique<MeasuredProgram>(BARE_WINDOW_PATH, rvx::bench::windowEnvironment(setup->display),
                                             QDir::tempPath());
}

QByteArray upMarker(Subject subject)
{
    return subject == Subject::Radio ? "Selecting screen index: 2\n" : "Window shown\n";
}

// Starts the program and waits until it is up; the time it took, or none
// (with the reason given to the benchmark).
std::optional<double> startAndWait(benchmark::State& state, MeasuredProgram& program, Subject subject)
{
    if (!program.start()) {
        state.SkipWithError("the program did not start");
        return std::nullopt;
    }
    const auto up = program.waitForOutput(upMarker(subject), kStartTimeoutMs);
    if (!up) {
        std::fprintf(stderr, "%s\n", program.output().constData());
        state.SkipWithError("the program did not come up");
        return std::nullopt;
    }
    return up->count();
}

void BM_StartToHome(benchmark::State& state, Subject subject)
{
    for (auto _ : state) {
        std::unique_ptr<MeasuredProgram> program = makeProgram(subject);
        const std::optional<double> seconds = startAndWait(state, *program, subject);
        if (!seconds)
            break;
        state.SetIterationTime(*seconds);
        program->stop();
    }
}

// The UDP datagrams delivered to sockets in this namespace so far: while
// the stream is sent, the radio's channel socket takes 50 a second; a
// program that does not listen takes none (the group is not joined).
long long udpDatagramsDelivered()
{
    QFile snmp(QStringLiteral("/proc/net/snmp"));
    if (!snmp.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = snmp.readAll().split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i)
        if (lines[i].startsWith("Udp:") && lines[i + 1].startsWith("Udp:")) {
            const QList<QByteArray> names = lines[i].simplified().split(' ');
            const QList<QByteArray> values = lines[i + 1].simplified().split(' ');
            const int column = names.indexOf("InDatagrams");
            return column >= 0 && column < values.size() ? values[column].toLongLong() : -1;
        }
    return -1;
}

// A PCMU stream of 20 ms packets of silence, as another radio sends it.
void sendStream(const std::atomic<bool>& running)
{
    rvx::test::UdpEndpoint peer("127.0.0.1");
    rvx::test::Bytes packet(12 + 160, 0xFF);
    packet[0] = 0x80;
    packet[11] = 0x0B;  // a fixed SSRC
    auto next = std::chrono::steady_clock::now();
    for (std::uint32_t sequence = 0; running; ++sequence) {
        const std::uint32_t timestamp = sequence * 160;
        packet[2] = static_cast<unsigned char>(sequence >> 8);
        packet[3] = static_cast<unsigned char>(sequence);
        for (int i = 0; i < 4; ++i)
            packet[4 + i] = static_cast<unsigned char>(timestamp >> (24 - 8 * i));
        peer.SendTo(kChannelPort, packet, kLocalOneGroup);
        next += 20ms;
        std::this_thread::sleep_until(next);
    }
}

// CPU of the program over the window, after it has been up for a while;
// with a stream sent to the radio's channel when receiving is set.
void measureCpu(benchmark::State& state, Subject subject, bool receiving)
{
    for (auto _ : state) {
        std::unique_ptr<MeasuredProgram> program = makeProgram(subject);
        if (!startAndWait(state, *program, subject))
            break;
        std::atomic<bool> sending{receiving};
        std::thread sender;
        if (receiving)
            sender = std::thread([&sending] { sendStream(sending); });
        program->keepReading(kSettleMs);
        const long long deliveredBefore = udpDatagramsDelivered();
        const std::optional<double> before = program->cpuSeconds();
        program->keepReading(setup->cpuSeconds * 1000);
        const std::optional<double> after = program->cpuSeconds();
        const long long delivered = udpDatagramsDelivered() - deliveredBefore;
        sending = false;
        if (sender.joinable())
            sender.join();
        if (!before || !after || !program->running()) {
            state.SkipWithError("the program ended during the measurement");
            break;
        }
        state.SetIterationTime(*after - *before);
        state.counters["cpu_pct"] = (*after - *before) / setup->cpuSeconds * 100.0;
        if (receiving)
            state.counters["udp_in_per_s"] = static_cast<double>(delivered) / setup->cpuSeconds;
        program->stop();
    }
}

void BM_IdleCpu(benchmark::State& state, Subject subject)
{
    measureCpu(state, subject, false);
}

void BM_ReceivingCpu(benchmark::State& state, Subject subject)
{
    measureCpu(state, subject, true);
}

constexpr int kCpuRepetitions = 3;

BENCHMARK_CAPTURE(BM_StartToHome, radio, Subject::Radio)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StartToHome, bare_window, Subject::BareWindow)
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_IdleCpu, radio, Subject::Radio)
    ->UseManualTime()->Iterations(1)->Repetitions(kCpuRepetitions)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_IdleCpu, bare_window, Subject::BareWindow)
    ->UseManualTime()->Iterations(1)->Repetitions(kCpuRepetitions)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReceivingCpu, radio, Subject::Radio)
    ->UseManualTime()->Iterations(1)->Repetitions(kCpuRepetitions)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReceivingCpu, bare_window, Subject::BareWindow)
    ->UseManualTime()->Iterations(1)->Repetitions(kCpuRepetitions)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // The radio sends multicast and talks to the simulator: everything,
    // including the programs started from here, stays in a namespace of ours.
    std::string why;
    if (!rvx::test::EnterPrivateNetNamespace(&why)) {
        std::fprintf(stderr, "needs a private network namespace (run as root): %s\n", why.c_str());
        return 1;
    }
    QCoreApplication application(argc, argv);
    rvx::test::PulseAudioServer pulse(0);
    if (!pulse.Running())
        std::fprintf(stderr, "no sound server, the radio runs without audio: %s\n", pulse.Why().c_str());
    std::unique_ptr<rvx::test::ChildProcess> xserver;
    BenchSetup context;
    if (access(kXvfb, X_OK) == 0) {
        // -noreset: the server must not reset when the last program leaves,
        // or the next one started at that moment cannot connect.
        xserver = std::make_unique<rvx::test::ChildProcess>(
            kXvfb, std::vector<std::string>{"-displayfd", "1", "-screen", "0", "1280x480x24", "-nolisten", "tcp", "-noreset"});
        if (const auto number = xserver->ReadLine(10000ms))
            context.display = ":" + QString::fromStdString(*number);
    }
    if (const char* seconds = std::getenv("RVX_BENCH_CPU_SECONDS"))
        context.cpuSeconds = std::max(1, std::atoi(seconds));
    std::printf("Radio program vs a bare %s window of 1180x380; CPU window %d s\n",
                context.display.isEmpty() ? "offscreen" : "Xvfb", context.cpuSeconds);
    context.unit = std::make_unique<RegisteredUnit>(RADIO_PROGRAM_PATH, context.display);
    if (!context.unit->ready()) {
        std::fprintf(stderr, "no registered unit: %s\n", context.unit->why().c_str());
        return 1;
    }
    setup = &context;
    const std::string cpu = "/iterations:1/repeats:" + std::to_string(kCpuRepetitions) + "/manual_time";
    return rvx::bench::RunWithRatios(
        argc, argv,
        {{"BM_StartToHome/radio/iterations:1/manual_time", "BM_StartToHome/bare_window/iterations:1/manual_time",
          "none set; the price of the radio's start-up"},
         {"BM_IdleCpu/radio" + cpu, "BM_IdleCpu/bare_window" + cpu, "none for the ratio; radio cpu_pct under 2"},
         {"BM_ReceivingCpu/radio" + cpu, "BM_ReceivingCpu/bare_window" + cpu, "none for the ratio; radio cpu_pct under 5"}});
}
