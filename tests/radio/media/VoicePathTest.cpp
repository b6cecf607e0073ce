// Voice through real media graphs: a sine tone captured by a headless
// PulseAudio source is sent by one stream as RTP over the trunk transport and
// played by another stream into the PulseAudio sink, for every codec family;
// the played audio is checked for the tone's frequency.
#include "HalvaneChannel.h"
#include "MediaTestSupport.h"
#include "NetNamespace.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>
#include <mediastreamer2/mssndcard.h>

using namespace std::chrono_literals;

namespace {

using namespace rvx::test;

constexpr device_id_t kTalkerA = 0x00A1B2C3;
const char* const kGroup = "225.4.0.1";

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
    HardwareAudioChannel audio(DefaultCards());
    ASSERT_TRUE(audio.microphonePresent());
    ASSERT_TRUE(audio.playbackPresent());
    audio.attachMediaStream(&sender);
    audio.attachMediaStream(&receiver);
    sender.setSsrc(kTalkerA);
    sender.setChannelAddress(41000, kGroup, 41002, 41003);
    receiver.setChannelAddress(41002, kGroup, 41002, 41003);
    QSignalSpy active(&receiver, &RadioStream::coIncomingMediaStreamActive);

    sender.startTransmit();
    ASSERT_TRUE(active.wait(3000));
    // The sound server's capture buffering delays the microphone (see the
    // public-address loop test); what B plays is recorded once that passed.
    Pump(1500ms);
    const std::vector<std::int16_t> played = pulse->RecordPlayback(1500ms);
    sender.stopTransmit();
    Pump(100ms);

    ASSERT_GT(played.size(), 4000u);
    EXPECT_GT(ToneShare(played, kCapturedToneHz), 0.5) << GetParam() << " level " << Level(played);
    EXPECT_LT(ToneShare(played, 1700), 0.05);
    EXPECT_EQ(active.first().at(0).value<device_id_t>(), kTalkerA);
}

INSTANTIATE_TEST_SUITE_P(EveryCodecFamily, VoicePath, ::testing::Values("PCMU", "PCMA", "Speex 5", "Opus 12"),
                         [](const auto& info) {
                             std::string name = info.param;
                             name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
                             return name;
                         });

} // namespace
