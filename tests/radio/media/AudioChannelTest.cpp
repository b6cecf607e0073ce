// The audio channel and the stream behaviour around it, on real graphs over a
// headless PulseAudio: receive activity and caller identity at the receiver,
// a second talker, closed capture branches, playback gain, the public-address
// loop and the watchdog on a really stalled ticker.
#include "HalvaneChannel.h"
#include "MediaTestSupport.h"
#include "NetNamespace.h"
#include "RadioContact.h"
#include "TimestampingSoundCard.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <malloc.h>
#include <mutex>

namespace {

using namespace rvx::test;
using namespace std::chrono_literals;

constexpr device_id_t kTalkerA = 0x00A1B2C3;
constexpr device_id_t kTalkerC = 0x00C0FFEE;
const char* const kGroup = "225.4.0.2";
const StreamSettings kPcmu20{"PCMU", "20"};

class AudioChannel : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RVX_REQUIRE_PRIVATE_NETNS();
        pulse = &SoundServerAndMedia();
        ASSERT_TRUE(pulse->Running()) << pulse->Why();
    }
    void TearDown() override { HalvaneChannel::setContactSink({}); }

    PulseAudioServer* pulse = nullptr;
};

// A sender and a receiver on one group, attached to one audio channel.
struct TalkGroup
{
    explicit TalkGroup(const StreamSettings& settings = kPcmu20)
        : sender(0, 0, settings), receiver(0, 1, settings), audio(DefaultCards())
    {
        audio.attachMediaStream(&sender);
        audio.attachMediaStream(&receiver);
        sender.setSsrc(kTalkerA);
        sender.setChannelAddress(41010, kGroup, 41012, 41013);
        receiver.setChannelAddress(41012, kGroup, 41012, 41013);
    }
    HalvaneChannel sender;
    HalvaneChannel receiver;
    HardwareAudioChannel audio;
};

TEST_F(AudioChannel, ReceiverReportsTheTalkerActiveThenInactiveAfterSilence)
{
    TalkGroup group;
    QSignalSpy active(&group.receiver, &RadioStream::coIncomingMediaStreamActive);
    QSignalSpy inactive(&group.receiver, &RadioStream::coIncomingMediaStreamInactive);
    group.sender.startTransmit();
    ASSERT_TRUE(active.wait(2000));
    EXPECT_EQ(active.first().at(0).value<device_id_t>(), kTalkerA);
    Pump(500ms);
    EXPECT_EQ(inactive.count(), 0) << "a talking station stays active";
    group.sender.stopTransmit();
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_TRUE(inactive.wait(3000));
    const auto silence = std::chrono::steady_clock::now() - stopped;
    EXPECT_GE(silence, 900ms);
    EXPECT_LE(silence, 2000ms);
    EXPECT_EQ(active.count(), 1);
}

TEST_F(AudioChannel, ReceiverLearnsTheCallersIdentityFromItsSourceDescription)
{
    std::mutex mutex;
    std::vector<RadioContact> heard;
    HalvaneChannel::setContactSink([&](const RadioContact& contact) {
        std::lock_guard<std::mutex> lock(mutex);
        heard.push_back(contact);
    });
    TalkGroup group;
    group.sender.setTalker("Alice");
    group.sender.setLocationText("45.000000N,-122.500000W");
    group.sender.startTransmit();
    for (int i = 0; i < 100; ++i) {
        Pump(20ms);
        std::lock_guard<std::mutex> lock(mutex);
        if (!heard.empty())
            break;
    }
    group.sender.stopTransmit();
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_FALSE(heard.empty()) << "the description sent at the start of transmission arrives";
    EXPECT_EQ(heard.front().id(), kTalkerA);
    EXPECT_EQ(heard.front().name(), "Alice");
    EXPECT_TRUE(heard.front().location().valid);
    EXPECT_DOUBLE_EQ(heard.front().location().latitude, 45.0);
    EXPECT_DOUBLE_EQ(heard.front().location().longitude, -122.5);
}

TEST_F(AudioChannel, ASecondTalkerOnTheGroupIsReportedWithItsOwnId)
{
    HalvaneChannel second(0, 2, kPcmu20); // outlives the audio channel it is attached to
    TalkGroup group;
    group.audio.attachMediaStream(&second);
    second.setSsrc(kTalkerC);
    second.setChannelAddress(41014, kGroup, 41012, 41013);
    QSignalSpy active(&group.receiver, &RadioStream::coIncomingMediaStreamActive);
    group.sender.startTransmit();
    ASSERT_TRUE(active.wait(2000));
    group.sender.stopTransmit();
    second.startTransmit();
    for (int i = 0; i < 200 && active.count() < 2; ++i)
        Pump(20ms);
    second.stopTransmit();
    ASSERT_GE(active.count(), 2);
    EXPECT_EQ(active.last().at(0).value<device_id_t>(), kTalkerC);
}

TEST_F(AudioChannel, AStreamThatNeverTransmitsSendsNothingWhileTheMicrophoneRuns)
{
    TalkGroup group;
    QSignalSpy active(&group.receiver, &RadioStream::coIncomingMediaStreamActive);
    Pump(600ms);
    EXPECT_EQ(active.count(), 0);
    EXPECT_EQ(rtp_session_get_stats(group.sender.session())->packet_sent, 0u);
}

TEST_F(AudioChannel, PlaybackGainScalesAndSilencesTones)
{
    TalkGroup group;
    double levels[3] = {};
    const int volumes[3] = {100, 50, 0};
    for (int i = 0; i < 3; ++i) {
        group.audio.viSetPlaybackVolumeSoftwareGain(volumes[i]);
        group.receiver.playTone(600, 8000, 0.3f);
        if (i == 0) {
            ASSERT_TRUE(WaitUntilAudible(*pulse));
        }
        // What was mixed before the change may still be in the sound
        // server's playback buffer.
        Pump(1500ms);
        const auto played = pulse->RecordPlayback(1000ms);
        group.receiver.stopTone();
        ASSERT_GT(played.size(), 2000u);
        EXPECT_GT(ToneShare(played, 600), volumes[i] > 0 ? 0.5 : -1.0);
        levels[i] = Level(played);
    }
    EXPECT_GT(levels[0], 1000.0);
    EXPECT_NEAR(levels[1] / levels[0], 0.5, 0.1);
    EXPECT_LT(levels[2], 20.0);
}

// The microphone reaches the speaker through the sound server's capture
// buffering, which here delays it by about 1.5 s: the open loop is recorded
// after that has passed.
TEST_F(AudioChannel, PublicAddressLoopPlaysTheMicrophoneOnlyWhileOpen)
{
    TalkGroup group;
    group.audio.connectPaLoop(3);
    Pump(2000ms);
    const double closed = Level(pulse->RecordPlayback(1000ms));
    group.audio.setBranchMuted(3, false);
    Pump(2000ms);
    const auto open = pulse->RecordPlayback(1000ms);
    group.audio.setBranchMuted(3, true);
    EXPECT_LT(closed, 20.0);
    EXPECT_GT(Level(open), 1000.0);
    EXPECT_GT(ToneShare(open, kCapturedToneHz), 0.5);
}

TEST_F(AudioChannel, StalledTickerLeadsToTheRestartNoticeAndRequest)
{
    HardwareAudioChannel::Options options = DefaultCards();
    options.watchdogPeriodMs = 200;
    options.restartDelayMs = 100;
    HalvaneChannel stream(0, 0, kPcmu20);
    HardwareAudioChannel audio(options);
    audio.attachMediaStream(&stream);
    QSignalSpy notice(&audio, &HardwareAudioChannel::coDisplayTickerTimeoutNotification);
    QSignalSpy restart(&audio, &HardwareAudioChannel::coRestartTalkboxTickerTimeout);
    Pump(1000ms);
    EXPECT_EQ(notice.count(), 0) << "a running ticker is left alone";

    ms_mutex_lock(&audio.ticker()->lock); // the ticker thread waits here: no more ticks
    const auto stalled = std::chrono::steady_clock::now();
    for (int i = 0; i < 250 && restart.count() == 0; ++i)
        Pump(20ms);
    ms_mutex_unlock(&audio.ticker()->lock);

    ASSERT_EQ(notice.count(), 1);
    EXPECT_EQ(notice.first().at(0).toString(), "Audio processing unexpectedly stopped.  Restarting...");
    ASSERT_EQ(restart.count(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - stalled, 4000ms);
}

// Between transmissions every capture branch is muted; the captured audio
// must still be freed, or an idle radio grows by megabytes an hour. Measured
// on the heap with the timestamping card, which captures at the real rate,
// and without the sound server, whose recorder keeps 30 s of what it heard.
TEST(AudioChannelMemory, IdleRadioCapturingWithEveryBranchMutedKeepsNoAudio)
{
    RVX_REQUIRE_PRIVATE_NETNS();
    InitMediaAndTrunk();
    TimestampingSoundCard::Install(mediaFactory());
    HardwareAudioChannel::Options cards;
    cards.readSettings = false;
    cards.playbackCardId = TimestampingSoundCard::CardId();
    cards.captureCardId = TimestampingSoundCard::CardId();
    HalvaneChannel first(0, 0, kPcmu20);
    HalvaneChannel second(0, 1, kPcmu20);
    HardwareAudioChannel audio(cards);
    ASSERT_TRUE(audio.microphonePresent());
    audio.attachMediaStream(&first);
    audio.attachMediaStream(&second);
    Pump(1000ms);

    const std::size_t before = mallinfo2().uordblks;
    Pump(4000ms);
    const std::size_t after = mallinfo2().uordblks;
    // Four seconds of kept capture blocks would be over 100 kB.
    EXPECT_LT(after, before + 40 * 1024) << "heap grew from " << before << " to " << after << " bytes";
}

} // namespace
