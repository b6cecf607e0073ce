// Voice through real media graphs: a sine tone captured by a headless
// PulseAudio source is sent by one stream as RTP over the trunk transport and
// played by another stream into the PulseAudio sink, for every codec family;
// the played audio is checked for the tone's frequency.
#include "HalvaneChannel.h"
#include "HardwareAudioChannel.h"
#include "MediaLibrary.h"
#include "NetNamespace.h"
#include "PulseAudioServer.h"
#include "TrunkCalls.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>
#include <mediastreamer2/mssndcard.h>

using namespace std::chrono_literals;
using rvx::test::PulseAudioServer;
using rvx::test::ToneShare;

namespace {

constexpr int kToneHz = 1000;
constexpr device_id_t kTalkerA = 0x00A1B2C3;
const char* const kGroup = "225.4.0.1";

// One sound server per test process, started before the media library so
// that its cards are listed, and the trunk interface.
PulseAudioServer& SoundServerAndMedia()
{
    static PulseAudioServer server(kToneHz);
    static const bool initialised = [] {
        initMediaLibrary();
        ms_snd_card_manager_reload(ms_factory_get_snd_card_manager(mediaFactory()));
        registerPayloadTypes();
        trunk::initInterface(0x0A0B0C, 0, "lo", nullptr);
        return true;
    }();
    (void)initialised;
    return server;
}

HardwareAudioChannel::Options PulseCards()
{
    HardwareAudioChannel::Options options;
    options.readSettings = false;
    return options;
}

void Pump(std::chrono::milliseconds duration)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

class VoicePath : public ::testing::TestWithParam<const char*>
{
protected:
    void SetUp() override
    {
        RVX_REQUIRE_PRIVATE_NETNS();
        pulse = &SoundServerAndMedia();
        ASSERT_TRUE(pulse->Running()) << pulse->Why();
    }
    PulseAudioServer* pulse = nullptr;
};

TEST_P(VoicePath, ToneCapturedAtTheSenderIsHeardAtTheReceiver)
{
    const StreamSettings settings{GetParam(), "20"};
    HalvaneChannel sender(0, 0, settings);
    HalvaneChannel receiver(0, 1, settings);
    HardwareAudioChannel audio(PulseCards());
    ASSERT_TRUE(audio.microphonePresent());
    ASSERT_TRUE(audio.playbackPresent());
    audio.attachMediaStream(&sender);
    audio.attachMediaStream(&receiver);
    sender.setSsrc(kTalkerA);
    sender.setChannelAddress(41000, kGroup, 41002, 41003);
    receiver.setChannelAddress(41002, kGroup, 41002, 41003);
    QSignalSpy active(&receiver, &RadioStream::coIncomingMediaStreamActive);

    sender.startTransmit();
    Pump(400ms);
    const std::vector<std::int16_t> played = pulse->RecordPlayback(3000ms);
    sender.stopTransmit();
    Pump(100ms);

    ASSERT_GT(played.size(), 4000u);
    EXPECT_GT(ToneShare(played, kToneHz), 0.5) << GetParam();
    EXPECT_LT(ToneShare(played, 1700), 0.05);
    ASSERT_GE(active.count(), 1);
    EXPECT_EQ(active.first().at(0).value<device_id_t>(), kTalkerA);
}

INSTANTIATE_TEST_SUITE_P(EveryCodecFamily, VoicePath, ::testing::Values("PCMU", "PCMA", "Speex 5", "Opus 12"),
                         [](const auto& info) {
                             std::string name = info.param;
                             name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
                             return name;
                         });

} // namespace
