// The media graph on a machine without sound cards, and what arrives from
// the network at a radio's ports: random, truncated and inconsistent RTP and
// RTCP datagrams never crash it, payload changes swap or keep the decoder,
// and a valid description afterwards is still read; channel changes and
// new descriptions from the main thread while the ticker receives and sends
// on the same session.
#include "HalvaneChannel.h"
#include "MediaTestSupport.h"
#include "NetNamespace.h"
#include "RadioContact.h"
#include "UdpEndpoint.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <random>
#include <thread>

namespace {

using namespace std::chrono_literals;
using rvx::test::Bytes;
using rvx::test::Pump;
using rvx::test::UdpEndpoint;

const char* const kGroup = "225.4.0.3";
constexpr int kPort = 43000;

HardwareAudioChannel::Options NoCardSettings()
{
    HardwareAudioChannel::Options options;
    options.readSettings = false;
    options.playbackCardId = "gone";
    options.captureCardId = "gone";
    return options;
}

class WithoutSoundCards : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RVX_REQUIRE_PRIVATE_NETNS();
        static const bool once = [] {
            // No sound server is reachable, and the machine has no cards.
            setenv("PULSE_SERVER", "unix:/nonexistent/rvx-no-sound-server", 1);
            initMediaLibrary();
            registerPayloadTypes();
            trunk::initInterface(0x0B0C0D, 0, "lo", nullptr);
            return true;
        }();
        (void)once;
        peer = std::make_unique<UdpEndpoint>("127.0.0.1");
    }
    void TearDown() override { HalvaneChannel::setContactSink({}); }

    std::unique_ptr<UdpEndpoint> peer;
};

Bytes RtpPacket(std::uint32_t ssrc, std::uint16_t sequence, unsigned char payloadType, std::size_t size = 172)
{
    Bytes packet(size, 0xD5);
    packet[0] = 0x80;
    packet[1] = payloadType;
    packet[2] = static_cast<unsigned char>(sequence >> 8);
    packet[3] = static_cast<unsigned char>(sequence);
    const std::uint32_t timestamp = sequence * 160u;
    for (int i = 0; i < 4; ++i) {
        packet[4 + i] = static_cast<unsigned char>(timestamp >> (24 - 8 * i));
        packet[8 + i] = static_cast<unsigned char>(ssrc >> (24 - 8 * i));
    }
    return packet;
}

TEST_F(WithoutSoundCards, RadioRunsWithoutMicrophoneAndSpeaker)
{
    HalvaneChannel channel(0, 0, {"PCMU", "20"});
    HalvaneChannel individualRx(1, 1, {"PCMU", "20"});
    HalvaneChannel individualTx(2, 2, {"PCMU", "20"});
    HardwareAudioChannel audio(NoCardSettings());
    QSignalSpy micPresent(&audio, &HardwareAudioChannel::coIsMicPresent);
    QSignalSpy notice(&audio, &HardwareAudioChannel::coDisplayTickerTimeoutNotification);
    EXPECT_FALSE(audio.microphonePresent());
    EXPECT_FALSE(audio.playbackPresent());
    for (HalvaneChannel* stream : {&channel, &individualRx, &individualTx})
        audio.attachMediaStream(stream);
    audio.connectPaLoop(3);
    ASSERT_EQ(micPresent.count(), 3);
    for (const auto& arguments : micPresent)
        EXPECT_FALSE(arguments.at(0).toBool());

    channel.setChannelAddress(kPort, kGroup, kPort, kPort + 1);
    channel.startTransmit();
    channel.playTone(800, 150, 0.5f);
    const std::uint32_t ticks = audio.ticker()->ticks;
    Pump(2500ms);
    channel.stopTransmit();
    EXPECT_GT(audio.ticker()->ticks, ticks + 100) << "the graph keeps running";
    EXPECT_EQ(notice.count(), 0);
}

TEST_F(WithoutSoundCards, DamagedAndRandomDatagramsAtTheStreamPortsAreSurvived)
{
    std::mutex mutex;
    std::vector<RadioContact> heard;
    HalvaneChannel::setContactSink([&](const RadioContact& contact) {
        std::lock_guard<std::mutex> lock(mutex);
        heard.push_back(contact);
    });
    HalvaneChannel channel(0, 0, {"PCMU", "20"});
    HardwareAudioChannel audio(NoCardSettings());
    audio.attachMediaStream(&channel);
    channel.setChannelAddress(kPort, kGroup, kPort, kPort + 1);

    std::mt19937 random(4);
    const Bytes valid = RtpPacket(0x01020304, 1, 0);
    for (int i = 0; i < 3000; ++i) {
        Bytes datagram;
        switch (i % 4) {
        case 0: // random bytes of random length
            datagram.resize(random() % 300);
            for (unsigned char& b : datagram)
                b = static_cast<unsigned char>(random());
            break;
        case 1: // a truncated packet
            datagram.assign(valid.begin(), valid.begin() + static_cast<long>(random() % valid.size()));
            break;
        case 2: // an RTCP-looking datagram whose lengths point beyond its end
            datagram = {0x81, 201, 0, 1, 1, 2, 3, 4, 0x9F, 202, 0xFF, 0xFF, 1, 2, 3, 4, 1, 250, 'x'};
            datagram.resize(datagram.size() + random() % 20, 'y');
            break;
        default: // a valid header with random contents and flags
            datagram = RtpPacket(static_cast<std::uint32_t>(random()), static_cast<std::uint16_t>(i), 0, 12 + random() % 200);
            datagram[0] = static_cast<unsigned char>(0x80 | (random() & 0x3F));
            break;
        }
        // RTCP is read a little at a time: a tenth of the datagrams go there.
        peer->SendTo(static_cast<unsigned short>(kPort + (random() % 10 == 0)), datagram, kGroup);
        if (i % 100 == 0)
            Pump(10ms);
    }
    Pump(1000ms);

    // Still alive and still reading descriptions (read while RTP arrives);
    // the description is the sender's own: its CNAME names its SSRC.
    const Bytes description = {0x80, 201, 0, 1, 0, 0, 0, 42, 0x81, 202, 0, 3, 0, 0, 0, 42, 1, 2, '4', '2', 2, 2, 'O', 'K', 0, 0, 0, 0};
    for (int i = 0; i < 200; ++i) {
        peer->SendTo(kPort, RtpPacket(9, static_cast<std::uint16_t>(5000 + i), 0), kGroup);
        peer->SendTo(kPort + 1, description, kGroup);
        Pump(20ms);
        std::lock_guard<std::mutex> lock(mutex);
        if (!heard.empty() && heard.back().id() == 42)
            break;
    }
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back().id(), 42u);
    EXPECT_EQ(heard.back().name(), "OK");
}

// The main thread changes channels (the session's sockets are closed and
// made again, its queues flushed) and the location text (the session's
// description is replaced) while the ticker receives and sends on the same
// session, and while other threads take and free socket numbers. Nothing
// breaks, no virtual socket is left holding a group the stream left, and the
// stream still hears its channel afterwards.
TEST_F(WithoutSoundCards, ChannelAndDescriptionChangesWhileTheTickerReceivesAndSends)
{
    const char* const groups[] = {"225.64.0.7", "225.64.0.8"};
    const int ports[] = {kPort + 10, kPort + 20};
    HalvaneChannel channel(0, 0, {"PCMU", "20"});
    HardwareAudioChannel audio(NoCardSettings());
    audio.attachMediaStream(&channel);
    channel.setChannelAddress(ports[0], groups[0], ports[0], ports[0] + 1);
    channel.startTransmit();

    std::atomic<bool> running{true};
    std::thread talker([&] {
        const Bytes description = {0x80, 201, 0, 1, 0, 0, 0, 9, 0x81, 202, 0, 3, 0, 0, 0, 9,
                                   1, 1, '9', 0, 0, 0, 0, 0};
        for (std::uint16_t sequence = 1; running && sequence < 20000; ++sequence) {
            for (int which = 0; which < 2; ++which) {
                peer->SendTo(static_cast<unsigned short>(ports[which]), RtpPacket(9, sequence, 0), groups[which]);
                peer->SendTo(static_cast<unsigned short>(ports[which] + 1), description, groups[which]);
            }
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread numberTaker([&] {
        for (int i = 0; running && i < 200000; ++i) {
            const int taken = ::socket(AF_INET, SOCK_DGRAM, 0);
            std::this_thread::sleep_for(50us);
            ::close(taken);
        }
    });
    for (int change = 1; change <= 300; ++change) {
        const int which = change % 2;
        channel.setChannelAddress(ports[which], groups[which], ports[which], ports[which] + 1);
        channel.setLocationText(std::to_string(change) + ".000000N,1.000000E");
        if (change % 10 == 0) {
            channel.stopTransmit();
            channel.startTransmit();
        }
    }
    running = false;
    talker.join();
    numberTaker.join();

    // The stream ended on groups[0]; nothing holds groups[1] any more.
    unsigned char probe[20] = {0x80};
    EXPECT_EQ(trunk::queuePacketToGroup(groups[1], probe, sizeof probe), 0) << "a stale socket kept the old group";
    EXPECT_EQ(trunk::queuePacketToGroup(groups[0], probe, sizeof probe), 2) << "its RTP and RTCP sockets";
    // Right after the storm the stream may miss its first packets for a
    // moment (seen in about one run in fifty, cause not known); what must
    // never happen is that it stays deaf.
    const std::uint64_t before = rtp_session_get_stats(channel.session())->packet_recv;
    for (std::uint16_t sequence = 30000;
         sequence < 30150 && rtp_session_get_stats(channel.session())->packet_recv <= before + 25; ++sequence) {
        peer->SendTo(static_cast<unsigned short>(ports[0]), RtpPacket(9, sequence, 0), groups[0]);
        Pump(20ms);
    }
    EXPECT_GT(rtp_session_get_stats(channel.session())->packet_recv, before + 25) << "the channel is still heard";
    channel.stopTransmit();
}

TEST_F(WithoutSoundCards, PayloadChangeSwapsTheDecoderOnlyForAKnownCodec)
{
    HalvaneChannel channel(0, 0, {"PCMU", "20"});
    HardwareAudioChannel audio(NoCardSettings());
    audio.attachMediaStream(&channel);
    channel.setChannelAddress(kPort, kGroup, kPort, kPort + 1);
    MSFilter* const pcmuDecoder = channel.audioStream()->decoder;

    std::uint16_t sequence = 1;
    auto sendSome = [&](unsigned char payloadType) {
        for (int i = 0; i < 25; ++i, ++sequence) {
            peer->SendTo(kPort, RtpPacket(0x0A0A0A0A, sequence, payloadType), kGroup);
            Pump(20ms);
        }
    };
    sendSome(0);
    sendSome(127);
    EXPECT_EQ(channel.audioStream()->decoder, pcmuDecoder) << "no codec for 127: the decoder stays";
    sendSome(8);
    EXPECT_NE(channel.audioStream()->decoder, pcmuDecoder) << "PCMA arrives: a PCMA decoder replaces it";
    EXPECT_STRCASEEQ(channel.audioStream()->decoder->desc->enc_fmt, "PCMA");
}

} // namespace
