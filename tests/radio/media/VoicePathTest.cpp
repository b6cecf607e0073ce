// Voice through real media graphs: a sine tone captured by a headless
// PulseAudio source is sent by one stream as RTP over the trunk transport and
// played by another stream into the PulseAudio sink, for every codec family
// and for talkers whose codec differs from the listener's (each radio picks
// its codec in its own settings, so the listener swaps its decoder when the
// payload type changes); the played audio is checked for the tone.
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

// What the listener played while the talker held the key, and whom it
// reported as the talker.
struct HeardVoice
{
    std::vector<std::int16_t> played;
    device_id_t talker = 0;
};

// Talker and listener on one channel and one audio channel, each built with
// its own codec setting. What the listener plays is recorded once the sound
// server's capture buffering has passed (see the public-address loop test).
struct TalkerAndListener
{
    TalkerAndListener(const char* talkerCodec, const char* listenerCodec)
        : sender(0, 0, StreamSettings{talkerCodec, "20"}), receiver(0, 1, StreamSettings{listenerCodec, "20"}),
          audio(DefaultCards())
    {
        EXPECT_TRUE(audio.microphonePresent());
        EXPECT_TRUE(audio.playbackPresent());
        audio.attachMediaStream(&sender);
        audio.attachMediaStream(&receiver);
        sender.setSsrc(kTalkerA);
        sender.setChannelAddress(41000, kGroup, 41002, 41003);
        receiver.setChannelAddress(41002, kGroup, 41002, 41003);
    }
    HalvaneChannel sender;
    HalvaneChannel receiver;
    HardwareAudioChannel audio;
};

HeardVoice TalkOverChannel(PulseAudioServer& pulse, const char* talkerCodec, const char* listenerCodec)
{
    HeardVoice heard;
    TalkerAndListener pair(talkerCodec, listenerCodec);
    HalvaneChannel& sender = pair.sender;
    QSignalSpy active(&pair.receiver, &RadioStream::coIncomingMediaStreamActive);

    sender.startTransmit();
    if (active.wait(3000)) {
        heard.talker = active.first().at(0).value<device_id_t>();
        Pump(1500ms);
        heard.played = pulse.RecordPlayback(1500ms);
    }
    sender.stopTransmit();
    Pump(100ms);
    return heard;
}

void ExpectClearTone(const HeardVoice& heard, const std::string& what)
{
    ASSERT_EQ(heard.talker, kTalkerA) << what << ": the listener did not report the talker";
    ASSERT_GT(heard.played.size(), 4000u) << what;
    EXPECT_GT(ToneShare(heard.played, kCapturedToneHz), 0.5) << what << " level " << Level(heard.played);
    EXPECT_LT(ToneShare(heard.played, 1700), 0.05) << what;
}

std::string WithoutSpaces(std::string name)
{
    name.erase(std::remove(name.begin(), name.end(), ' '), name.end());
    return name;
}

template <typename Param>
class OnSoundServer : public ::testing::TestWithParam<Param>
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

// ---- Talker and listener on the same codec ----------------------------------

using VoicePath = OnSoundServer<const char*>;

TEST_P(VoicePath, ToneCapturedAtTheSenderIsHeardAtTheReceiver)
{
    ExpectClearTone(TalkOverChannel(*pulse, GetParam(), GetParam()), GetParam());
}

INSTANTIATE_TEST_SUITE_P(EveryCodecFamily, VoicePath, ::testing::Values("PCMU", "PCMA", "Speex 5", "Opus 12"),
                         [](const auto& info) { return WithoutSpaces(info.param); });

// ---- Talker on another codec than the listener ------------------------------

struct CodecPair
{
    const char* talker;
    const char* listener;
};

using MixedCodecVoicePath = OnSoundServer<CodecPair>;

TEST_P(MixedCodecVoicePath, ListenerSwitchesDecoderAndHearsTheTone)
{
    const CodecPair pair = GetParam();
    ExpectClearTone(TalkOverChannel(*pulse, pair.talker, pair.listener),
                    std::string(pair.talker) + " talker, " + pair.listener + " listener");
}

// Every kind of switch: to and from the 48000 Hz clock of Opus, between
// the 8000 Hz codecs, and between two codecs with packet loss concealment.
INSTANTIATE_TEST_SUITE_P(TalkerCodecToListenerCodec, MixedCodecVoicePath,
                         ::testing::Values(CodecPair{"PCMU", "Opus 12"}, CodecPair{"Speex 5", "PCMU"},
                                           CodecPair{"Opus 12", "PCMU"}, CodecPair{"Speex 5", "Opus 12"},
                                           CodecPair{"PCMA", "Speex 5"}, CodecPair{"Opus 12", "Speex 5"}),
                         [](const auto& info) {
                             return WithoutSpaces(info.param.talker) + "To" + WithoutSpaces(info.param.listener);
                         });

// ---- Transmission after transmission ----------------------------------------

// A steady tone is the signal on which a Speex decoder that is out of step
// with the encoder never recovers. Each transmission must start with both
// in step, or the second one plays as noise.
using OverAfterOver = OnSoundServer<const char*>;

TEST_P(OverAfterOver, SecondTransmissionOfASteadyToneIsHeardClearly)
{
    pulse->SetCaptureToneSteady(true);
    TalkerAndListener pair(GetParam(), GetParam());
    HalvaneChannel& sender = pair.sender;
    QSignalSpy active(&pair.receiver, &RadioStream::coIncomingMediaStreamActive);
    QSignalSpy inactive(&pair.receiver, &RadioStream::coIncomingMediaStreamInactive);

    sender.startTransmit();
    EXPECT_TRUE(active.wait(3000));
    Pump(1500ms);
    sender.stopTransmit();
    EXPECT_TRUE(inactive.wait(3000));
    Pump(500ms);
    sender.startTransmit();
    EXPECT_TRUE(active.wait(3000));
    Pump(1500ms);
    const std::vector<std::int16_t> played = pulse->RecordPlayback(1500ms);
    sender.stopTransmit();
    Pump(100ms);
    pulse->SetCaptureToneSteady(false);

    ASSERT_GT(played.size(), 4000u);
    EXPECT_GT(ToneShare(played, kCapturedToneHz), 0.5) << GetParam() << " level " << Level(played);
    EXPECT_LT(Level(played), 12000.0) << GetParam() << ": the tone plays at about 8000";
}

INSTANTIATE_TEST_SUITE_P(PredictiveAndOtherCodecs, OverAfterOver, ::testing::Values("Speex 5", "Opus 12", "PCMU"),
                         [](const auto& info) { return WithoutSpaces(info.param); });

} // namespace
