// Timing of the media path on real graphs over a headless PulseAudio, inside
// a private network namespace: mouth-to-ear latency (a tone burst entering
// A's capture until it leaves B's playback, both on the monotonic clock),
// access time (start of transmission until A's first RTP packet leaves), and
// process CPU while idle and while receiving a stream; and the same on an
// encrypted channel against a clear one, side by side.
// Usage: bench_media_timing [cpu|privacy]
// ("cpu" runs only the CPU figures, "privacy" only the encrypted against
// clear figures; RVX_BENCH_CPU_SECONDS sets the CPU windows).
#include "HalvaneChannel.h"
#include "HardwareAudioChannel.h"
#include "MediaLibrary.h"
#include "NetNamespace.h"
#include "PulseAudioServer.h"
#include "TimestampingSoundCard.h"
#include "TrunkCalls.h"
#include "UdpEndpoint.h"
#include "VoicePrivacy.h"
#include "debug_log_control.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <ctime>
#include <mediastreamer2/mssndcard.h>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using rvx::test::PulseAudioServer;
using rvx::test::TimestampingSoundCard;

constexpr int kToneHz = 1000;
constexpr int kBursts = 25;
const char* const kGroup = "225.4.0.7";

// Runs the event loop for the duration without spinning.
void Pump(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

double Level(const std::vector<std::int16_t>& samples)
{
    double sum = 0.0;
    for (std::int16_t s : samples)
        sum += double(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(sum / samples.size());
}

double Percentile(std::vector<double> values, double share)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(std::ceil(share * values.size())) - 1)];
}

void Report(const char* what, const std::vector<double>& values, const char* goal)
{
    if (values.empty()) {
        std::printf("%-58s no samples\n", what);
        return;
    }
    std::printf("%-58s n=%2zu  median %7.1f ms  p95 %7.1f ms  (goal %s)\n", what, values.size(),
                Percentile(values, 0.5), Percentile(values, 0.95), goal);
}

// The same figure on a clear and on an encrypted channel, and how far apart.
void ReportSideBySide(const char* what, const std::vector<double>& clear, const std::vector<double>& encrypted)
{
    if (clear.empty() || encrypted.empty()) {
        std::printf("%-58s no samples\n", what);
        return;
    }
    const double clearP95 = Percentile(clear, 0.95);
    const double encryptedP95 = Percentile(encrypted, 0.95);
    std::printf("%-58s p95 clear %7.2f ms  encrypted %7.2f ms  difference %+6.2f ms  (goal within 1 ms)\n", what,
                clearP95, encryptedP95, encryptedP95 - clearP95);
    std::printf("%-58s median clear %7.2f ms  encrypted %7.2f ms  (n=%zu, %zu)\n", "", Percentile(clear, 0.5),
                Percentile(encrypted, 0.5), clear.size(), encrypted.size());
}

HardwareAudioChannel::Options DefaultCards()
{
    HardwareAudioChannel::Options options;
    options.readSettings = false;
    return options;
}

HardwareAudioChannel::Options TimestampingCards()
{
    HardwareAudioChannel::Options options;
    options.readSettings = false;
    options.playbackCardId = TimestampingSoundCard::CardId();
    options.captureCardId = TimestampingSoundCard::CardId();
    return options;
}

// One fixed group key: what the settings document would give both radios.
ChannelPrivacy EncryptedChannel()
{
    static const ChannelPrivacy privacy =
        readChannelPrivacy("AES_CM_128_HMAC_SHA1_80 inline:QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNk", "");
    return privacy;
}

// A talks to B on one group; both attached to the one audio channel.
struct TwoRadios
{
    explicit TwoRadios(const StreamSettings& settings, const HardwareAudioChannel::Options& cards = DefaultCards(),
                       const ChannelPrivacy& privacy = ChannelPrivacy())
        : a(0, 0, settings), b(0, 1, settings), audio(cards)
    {
        audio.attachMediaStream(&a);
        audio.attachMediaStream(&b);
        a.setSsrc(0xA);
        a.setChannelAddress(44000, kGroup, 44002, 44003);
        b.setChannelAddress(44002, kGroup, 44002, 44003);
        setPrivacy(privacy);
    }
    void setPrivacy(const ChannelPrivacy& privacy)
    {
        a.setVoicePrivacy(privacy);
        b.setVoicePrivacy(privacy);
    }
    HalvaneChannel a;
    HalvaneChannel b;
    HardwareAudioChannel audio;
};

std::vector<double> MouthToEar(PulseAudioServer& pulse, const char* name, const StreamSettings& settings,
                               const char* flags, const char* goal)
{
    debug_log_load_flags_from_text(flags);
    TwoRadios radios(settings);
    pulse.SetCaptureTone(0);
    radios.a.startTransmit();
    // The sound card writer sheds what was mixed before the sound server
    // played anything in its 5 s checks (about half each time): measure the
    // steady state after two of them.
    Pump(11000ms);
    std::vector<double> latencies;
    for (int burst = 0; burst < kBursts; ++burst) {
        pulse.SetCaptureTone(kToneHz);
        const auto start = Clock::now();
        Pump(200ms);
        pulse.SetCaptureTone(0);
        Pump(2300ms);
        for (const auto& chunk : pulse.PlayedSince(start))
            if (Level(chunk.samples) > 1000.0) {
                latencies.push_back(std::chrono::duration<double, std::milli>(chunk.arrived - start).count());
                break;
            }
    }
    radios.a.stopTransmit();
    debug_log_load_flags_from_text("");
    if (name != nullptr)
        Report(name, latencies, goal);
    return latencies;
}

// The radios' own path only: the timestamping card notes when a burst's
// first sample leaves A's capture and when B's playback is first given it.
std::vector<double> MouthToEarOwnPath(TimestampingSoundCard& card, const char* name, const StreamSettings& settings,
                                      const char* flags, const char* goal,
                                      const ChannelPrivacy& privacy = ChannelPrivacy())
{
    debug_log_load_flags_from_text(flags);
    TwoRadios radios(settings, TimestampingCards(), privacy);
    card.SetCaptureTone(0);
    radios.a.startTransmit();
    Pump(2000ms);
    std::vector<double> latencies;
    for (int burst = 0; burst < kBursts; ++burst) {
        card.SetCaptureTone(kToneHz);
        Pump(200ms);
        card.SetCaptureTone(0);
        Pump(1300ms);
        const auto started = card.BurstStartedAt();
        const auto played = started ? card.FirstLoudBlockAfter(*started, 1000.0) : std::nullopt;
        if (played)
            latencies.push_back(std::chrono::duration<double, std::milli>(*played - *started).count());
    }
    radios.a.stopTransmit();
    debug_log_load_flags_from_text("");
    if (name != nullptr)
        Report(name, latencies, goal);
    return latencies;
}

std::vector<double> AccessTime(const char* name, const StreamSettings& settings,
                               const ChannelPrivacy& privacy = ChannelPrivacy())
{
    TwoRadios radios(settings, DefaultCards(), privacy);
    Pump(1000ms);
    std::vector<double> times;
    for (int i = 0; i < 20; ++i) {
        const auto sentBefore = rtp_session_get_stats(radios.a.session())->packet_sent;
        const auto start = Clock::now();
        radios.a.startTransmit();
        while (rtp_session_get_stats(radios.a.session())->packet_sent == sentBefore && Clock::now() - start < 2s)
            std::this_thread::sleep_for(200us);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        radios.a.stopTransmit();
        Pump(300ms);
    }
    if (name != nullptr)
        Report(name, times, "under 300 ms at p95 with the radio's 250 ms key-up wait added");
    return times;
}

double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// One 20 ms PCMU packet of talker 0x0B, passed through its voice privacy;
// empty when that refuses to send it.
rvx::test::Bytes PcmuPacket(VoicePrivacy& sender, std::uint32_t sequence)
{
    rvx::test::Bytes packet(12 + 160 + kVoicePrivacyMostAdded, 0xFF);
    packet[0] = 0x80;
    packet[1] = 0;
    packet[2] = static_cast<unsigned char>(sequence >> 8);
    packet[3] = static_cast<unsigned char>(sequence);
    const std::uint32_t timestamp = sequence * 160;
    for (int i = 0; i < 4; ++i)
        packet[4 + i] = static_cast<unsigned char>(timestamp >> (24 - 8 * i));
    packet[11] = 0x0B;
    int length = 12 + 160;
    if (!sender.protectRtp(packet.data(), length, static_cast<int>(packet.size())))
        return {};
    packet.resize(static_cast<std::size_t>(length));
    return packet;
}

// A PCMU stream of 20 ms packets, as another radio sends it; protected
// under its own sender key when a privacy is given.
// noteCpu is called after each packet, on the sender's thread.
void SendStream(std::atomic<bool>& running, const std::function<void()>& noteCpu,
                const ChannelPrivacy& privacy = ChannelPrivacy())
{
    rvx::test::UdpEndpoint peer("127.0.0.1");
    VoicePrivacy sender;
    sender.configure(privacy, voiceScopeOf(kGroup), voiceScopeOf(kGroup));
    auto next = Clock::now();
    for (std::uint32_t sequence = 0; running; ++sequence) {
        rvx::test::Bytes packet = PcmuPacket(sender, sequence);
        if (packet.empty())
            break;
        peer.SendTo(44002, packet, kGroup);
        noteCpu();
        next += 20ms;
        std::this_thread::sleep_until(next);
    }
}

struct CpuFigures
{
    double idle = 0.0;
    double receiving = 0.0;
};

// The CPU of the radio's threads: the process's, less the sound server
// helper's threads and the stream sender of this bench.
class RadioCpuClock
{
public:
    explicit RadioCpuClock(PulseAudioServer& pulse) : pulse_(pulse) {}
    double Seconds() const { return ProcessCpuSeconds() - pulse_.HelperThreadsCpuSeconds() - senderSeconds; }
    std::atomic<double> senderSeconds{0.0};

private:
    PulseAudioServer& pulse_;
};

double ThreadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

CpuFigures Cpu(PulseAudioServer& pulse, int seconds, const HardwareAudioChannel::Options& cards)
{
    RadioCpuClock clock(pulse);
    HalvaneChannel individualTx(2, 2, {"PCMU", "20"}); // outlives the audio channel it is attached to
    TwoRadios radios({"PCMU", "20"}, cards);
    radios.audio.attachMediaStream(&individualTx);
    Pump(1000ms);
    CpuFigures figures;
    double before = clock.Seconds();
    Pump(std::chrono::seconds(seconds));
    figures.idle = (clock.Seconds() - before) / seconds * 100.0;

    std::atomic<bool> running{true};
    std::thread sender([&] {
        SendStream(running, [&] { clock.senderSeconds = ThreadCpuSeconds(); });
    });
    Pump(1000ms);
    before = clock.Seconds();
    Pump(std::chrono::seconds(seconds));
    figures.receiving = (clock.Seconds() - before) / seconds * 100.0;
    running = false;
    sender.join();
    return figures;
}

// The radio's CPU on the sound server (its client library's threads included)
// and on the timestamping card (the radio's own graph, streams and timers).
void CpuSideBySide(PulseAudioServer& server, int seconds)
{
    const CpuFigures pulse = Cpu(server, seconds, DefaultCards());
    const CpuFigures own = Cpu(server, seconds, TimestampingCards());
    std::printf("CPU over %d s each, %% of one core        on PulseAudio   on the test card\n", seconds);
    std::printf("%-40s %10.2f %% %14.2f %%   (goal under 2 %%)\n", "  idle radio", pulse.idle, own.idle);
    std::printf("%-40s %10.2f %% %14.2f %%   (goal under 5 %%)\n", "  radio receiving a PCMU stream", pulse.receiving,
                own.receiving);
}

// A radio receiving a clear stream and an encrypted one, in turns of the
// given length on the one radio (its channel switched between them), so
// that both see the same machine; the test card keeps the sound server out.
void CpuReceivingEncryptedSideBySide(PulseAudioServer& pulse, int seconds, int turns)
{
    RadioCpuClock clock(pulse);
    HalvaneChannel individualTx(2, 2, {"PCMU", "20"}); // outlives the audio channel it is attached to
    TwoRadios radios({"PCMU", "20"}, TimestampingCards());
    radios.audio.attachMediaStream(&individualTx);
    Pump(1000ms);
    std::vector<double> clear, encrypted;
    std::uint64_t decrypted = 0;
    for (int turn = 0; turn < 2 * turns; ++turn) {
        const bool encrypt = turn % 2 == 1;
        const ChannelPrivacy privacy = encrypt ? EncryptedChannel() : ChannelPrivacy();
        radios.setPrivacy(privacy);
        const std::uint64_t decryptedBefore = radios.b.privacyCounters().decrypted;
        std::atomic<bool> running{true};
        std::thread sender([&] {
            SendStream(running, [&] { clock.senderSeconds = ThreadCpuSeconds(); }, privacy);
        });
        Pump(1000ms);
        const double before = clock.Seconds();
        Pump(std::chrono::seconds(seconds));
        (encrypt ? encrypted : clear).push_back((clock.Seconds() - before) / seconds * 100.0);
        running = false;
        sender.join();
        if (encrypt)
            decrypted += radios.b.privacyCounters().decrypted - decryptedBefore;
        Pump(500ms);
    }
    std::sort(clear.begin(), clear.end());
    std::sort(encrypted.begin(), encrypted.end());
    const double clearMedian = clear[clear.size() / 2];
    const double encryptedMedian = encrypted[encrypted.size() / 2];
    std::printf("CPU of a radio receiving a PCMU stream (test card), %d turns of %d s each, %% of one core\n", turns,
                seconds);
    std::printf("%-58s clear %6.2f %%  encrypted %6.2f %%  difference %+5.2f points  (goal within 0.2)\n",
                "  median of the turns", clearMedian, encryptedMedian, encryptedMedian - clearMedian);
    std::printf("%-58s clear %6.2f..%.2f %%  encrypted %6.2f..%.2f %%  (%llu packets decrypted)\n",
                "  range of the turns", clear.front(), clear.back(), encrypted.front(), encrypted.back(),
                static_cast<unsigned long long>(decrypted));
}

// The receiving side's checking and decryption alone, per packet, on this
// thread's CPU clock (the first packet's key derivation included): what a
// 20 ms stream costs a listener, without the rest of the radio around it.
void DecryptionCostPerPacket()
{
    constexpr std::uint32_t kPackets = 5000;
    const VoiceScope group = voiceScopeOf(kGroup);
    VoicePrivacy talker, listener;
    talker.configure(EncryptedChannel(), group, group);
    listener.configure(EncryptedChannel(), group, group);
    std::vector<rvx::test::Bytes> packets;
    for (std::uint32_t sequence = 0; sequence < kPackets; ++sequence)
        packets.push_back(PcmuPacket(talker, sequence));
    std::uint32_t taken = 0;
    const double start = ThreadCpuSeconds();
    for (rvx::test::Bytes& packet : packets) {
        int length = static_cast<int>(packet.size());
        if (listener.unprotectRtp(packet.data(), length) == VoicePrivacy::Verdict::Decrypted)
            ++taken;
    }
    const double perPacket = (ThreadCpuSeconds() - start) / kPackets;
    std::printf("%-58s %.2f us per packet, %.4f %% of one core at 50 packets/s  (%u of %u taken)\n",
                "  checking and decrypting alone", perPacket * 1e6, perPacket * 50 * 100.0, taken, kPackets);
}

// Mouth-to-ear, access time and receiving CPU on an encrypted channel
// against a clear one, each pair measured in turn in this one run.
void PrivacySideBySide(TimestampingSoundCard& card, PulseAudioServer& pulse, int cpuSeconds)
{
    std::printf("\nVoice privacy: an encrypted channel against a clear one\n");
    const struct
    {
        const char* name;
        StreamSettings settings;
        const char* flags;
    } cases[] = {
        {"defaults (Speex 5, 100 ms packets, jitter 100)", {"Speex 5", "100"}, ""},
        {"low latency (Opus 12, 20 ms, jitter 50)", {"Opus 12", "20"}, "SET_JITTER_BUFFER_50\n"},
    };
    for (const auto& c : cases) {
        const auto clear = MouthToEarOwnPath(card, nullptr, c.settings, c.flags, "");
        const auto encrypted = MouthToEarOwnPath(card, nullptr, c.settings, c.flags, "", EncryptedChannel());
        ReportSideBySide((std::string("Mouth-to-ear (test card), ") + c.name).c_str(), clear, encrypted);
    }
    for (const auto& c : cases) {
        const auto clear = AccessTime(nullptr, c.settings);
        const auto encrypted = AccessTime(nullptr, c.settings, EncryptedChannel());
        ReportSideBySide((std::string("Access time, ") + c.name).c_str(), clear, encrypted);
    }
    CpuReceivingEncryptedSideBySide(pulse, std::max(5, cpuSeconds / 3), 5);
    DecryptionCostPerPacket();
}

} // namespace

int main(int argc, char** argv)
{
    std::string why;
    if (!rvx::test::EnterPrivateNetNamespace(&why)) {
        std::fprintf(stderr, "needs a private network namespace: %s\n", why.c_str());
        return 1;
    }
    QCoreApplication application(argc, argv);
    PulseAudioServer pulse(0);
    if (!pulse.Running()) {
        std::fprintf(stderr, "no sound server: %s\n", pulse.Why().c_str());
        return 1;
    }
    initMediaLibrary();
    ms_snd_card_manager_reload(ms_factory_get_snd_card_manager(mediaFactory()));
    registerPayloadTypes();
    trunk::initInterface(0x0C0D0E, 0, "lo", nullptr);
    debug_log_set_sink([](const char*, std::size_t) {});

    const char* cpuSeconds = std::getenv("RVX_BENCH_CPU_SECONDS");
    TimestampingSoundCard& card = TimestampingSoundCard::Install(mediaFactory());
    const std::string part = argc > 1 ? argv[1] : "all";
    const int seconds = cpuSeconds != nullptr ? std::atoi(cpuSeconds) : 30;
    if (part == "cpu") {
        CpuSideBySide(pulse, seconds);
        return 0;
    }
    if (part == "privacy") {
        PrivacySideBySide(card, pulse, seconds);
        return 0;
    }
    std::printf("\nMedia timing, both radios in one process on one group\n");
    std::printf("Mouth-to-ear on a timestamping test card (the radios' own path, no sound server):\n");
    MouthToEarOwnPath(card, "Mouth-to-ear, defaults (Speex 5, 100 ms packets, jitter 100)", {"Speex 5", "100"}, "",
                      "p95 under 300 ms");
    MouthToEarOwnPath(card, "Mouth-to-ear, low latency (Opus 12, 20 ms, jitter 50)", {"Opus 12", "20"},
                      "SET_JITTER_BUFFER_50\n", "p95 under 100 ms");
    std::printf("Mouth-to-ear through the headless PulseAudio (its pipe source and null sink add their buffers):\n");
    MouthToEar(pulse, "Mouth-to-ear, defaults (Speex 5, 100 ms packets, jitter 100)", {"Speex 5", "100"}, "",
               "p95 under 300 ms");
    MouthToEar(pulse, "Mouth-to-ear, low latency (Opus 12, 20 ms, jitter 50)", {"Opus 12", "20"},
               "SET_JITTER_BUFFER_50\n", "p95 under 100 ms");
    AccessTime("Start of transmission to first RTP packet, defaults", {"Speex 5", "100"});
    AccessTime("Start of transmission to first RTP packet, 20 ms packets", {"Opus 12", "20"});
    CpuSideBySide(pulse, seconds);
    PrivacySideBySide(card, pulse, seconds);
    return 0;
}
