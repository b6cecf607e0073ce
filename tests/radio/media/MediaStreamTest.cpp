// What a media stream is built with: codec, payload number, FMTP texts,
// jitter delay and Opus hints from settings and debug flags, group joins by
// address; and the activity and stall decisions on a controlled clock.
#include "CodecChoice.h"
#include "HalvaneChannel.h"
#include "LogCapture.h"
#include "MediaLibrary.h"
#include "NetNamespace.h"
#include "ReceiveActivity.h"
#include "TickerStall.h"
#include "TrunkCalls.h"

#include <gtest/gtest.h>

namespace {

using rvx::test::LogCapture;

TEST(CodecTable, SettingChoosesMimeNameAndFmtp)
{
    const struct
    {
        const char* setting;
        const char* mime;
        const char* fmtp;
    } cases[] = {
        {"PCMU", "PCMU", ""},         {"PCMA", "PCMA", ""},         {"Speex 1", "speex", "mode=1"},
        {"Speex 3", "speex", "mode=3"}, {"Speex 8", "speex", "mode=8"}, {"Opus 6.4", "opus", "mode=1;"},
        {"Opus 12", "opus", "mode=3;"}, {"Opus 24", "opus", "mode=5;"}, {"speex 3", "PCMU", ""},
        {"Speex 9", "PCMU", ""},        {"", "PCMU", ""},              {"Opus 12 ", "PCMU", ""},
    };
    for (const auto& c : cases) {
        const CodecChoice codec = codecForSetting(c.setting);
        EXPECT_EQ(codec.mimeName, c.mime) << c.setting;
        EXPECT_EQ(codec.fmtp, c.fmtp) << c.setting;
    }
    EXPECT_EQ(packetTimeText("100"), "ptime:100");
    EXPECT_EQ(packetTimeText("abc"), "ptime:abc");
}

TEST(DebugFlagTables, FirstSetFlagFromTheTopWins)
{
    const struct
    {
        const char* flags;
        int jitterMs;
        int lossPercent;
    } cases[] = {
        {"", 100, 10},
        {"SET_JITTER_BUFFER_50\nSET_JITTER_BUFFER_500\n", 500, 10},
        {"SET_JITTER_BUFFER_10\n", 10, 10},
        {"SET_JITTER_BUFFER_1000\nSET_JITTER_BUFFER_10\n", 1000, 10},
        {"SET_OPUS_PACKET_LOSS_PERC_20\nSET_OPUS_PACKET_LOSS_PERC_70\n", 100, 70},
        {"SET_OPUS_PACKET_LOSS_PERC_100\n", 100, 100},
    };
    for (const auto& c : cases) {
        LogCapture flags(c.flags);
        EXPECT_EQ(jitterBufferDelayMs(), c.jitterMs) << c.flags;
        EXPECT_EQ(opusPacketLossPercent(), c.lossPercent) << c.flags;
    }
}

class StreamBuild : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RVX_REQUIRE_PRIVATE_NETNS();
        static const bool once = [] {
            startMediaLibraries();
            trunk::initInterface(0x0D0E0F, 0, "lo", nullptr);
            return true;
        }();
        (void)once;
    }
};

TEST_F(StreamBuild, PayloadNumberSampleRateAndOptionsFollowTheCodec)
{
    const struct
    {
        const char* setting;
        int payload;
        bool rateNotice;
    } cases[] = {{"Opus 12", 109, true}, {"Speex 3", 110, false}, {"PCMA", 8, false}, {"Other", 0, false}};
    for (const auto& c : cases) {
        LogCapture log("DEBUG_SAMPLE_RATE\nDEBUG_JITTER_BUFFER\nSET_JITTER_BUFFER_200\n");
        HalvaneChannel stream(0, 0, {c.setting, "40"});
        EXPECT_EQ(rtp_session_get_send_payload_type(stream.session()), c.payload) << c.setting;
        EXPECT_EQ(log.Contains("Sample rate of payload is not 8000Hz;  may want to add resampler"), c.rateNotice)
            << c.setting;
        EXPECT_TRUE(log.Contains("Setting encoder sample rate to 8000\n")) << c.setting;
        EXPECT_TRUE(log.Contains("Jitter buffer size: 200mS\n")) << c.setting;
    }
}

TEST_F(StreamBuild, OnlyMulticastRemoteAddressesAreJoinedAndEachCallJoinsAgain)
{
    const struct
    {
        const char* address;
        bool joined;
    } cases[] = {{"239.1.2.3", true}, {"224.0.1.1", true}, {"225.4.0.1", true},
                 {"240.0.0.1", false}, {"10.0.0.1", false}, {"0.0.0.0", false}};
    HalvaneChannel stream(0, 0, {"PCMU", "20"});
    for (const auto& c : cases) {
        LogCapture log("DEBUG_IGMP_JOINS\n");
        stream.setChannelAddress(45000, c.address, 45000, 45001);
        stream.viUpdateMulticastJoins();
        const std::string joining = std::string("Joining multicast group: ") + c.address + "\n";
        EXPECT_EQ(log.Count(joining), c.joined ? 2u : 0u) << c.address;
    }
}

TEST(ReceiveActivityDecisions, ActiveOnFirstPacketInactiveAfterTheSilenceTime)
{
    ReceiveActivity activity;
    using Change = ReceiveActivity::Change;
    EXPECT_EQ(activity.nothingReceived(0), Change::None);
    EXPECT_EQ(activity.packetReceived(0xAB, 10), Change::Active);
    EXPECT_EQ(activity.sender(), 0xABu);
    EXPECT_EQ(activity.packetReceived(0xAB, 110), Change::None);
    EXPECT_EQ(activity.nothingReceived(110 + ReceiveActivity::kSilenceMs - 1), Change::None);
    EXPECT_EQ(activity.packetReceived(0xAB, 1000), Change::None) << "a late packet keeps it active";
    EXPECT_EQ(activity.nothingReceived(1000 + ReceiveActivity::kSilenceMs), Change::Inactive);
    EXPECT_EQ(activity.nothingReceived(5000), Change::None);
    EXPECT_EQ(activity.packetReceived(0xCD, 6000), Change::Active);
    EXPECT_EQ(activity.sender(), 0xCDu);
}

// Two stations on one stream: one talking over the sender does not take the
// stream while the sender still talks, but does once the sender has been
// silent for the silence time; the stream stays active all along.
TEST(ReceiveActivityDecisions, AStationTalkingOverTheSenderTakesTheStreamOnlyOnceTheSenderIsSilent)
{
    using Change = ReceiveActivity::Change;
    const std::int64_t silence = ReceiveActivity::kSilenceMs;
    const struct
    {
        device_id_t ssrc;
        std::int64_t atMs;
        Change change;
        device_id_t sender;
    } steps[] = {
        {0xA, 0, Change::Active, 0xA},
        {0xC, 10, Change::None, 0xA},
        {0xA, 20, Change::None, 0xA},
        {0xC, 30, Change::None, 0xA},
        {0xA, 900, Change::None, 0xA}, // the sender's last packet
        {0xC, 910, Change::None, 0xA},
        {0xC, 900 + silence - 1, Change::None, 0xA},
        {0xC, 900 + silence, Change::SenderChanged, 0xC},
        {0xA, 910 + silence, Change::None, 0xC}, // the old sender back does not take it again at once
        {0xC, 920 + silence, Change::None, 0xC},
    };
    ReceiveActivity activity;
    for (const auto& step : steps) {
        SCOPED_TRACE(testing::Message() << "packet from " << step.ssrc << " at " << step.atMs);
        EXPECT_EQ(activity.packetReceived(step.ssrc, step.atMs), step.change);
        EXPECT_EQ(activity.sender(), step.sender);
        EXPECT_TRUE(activity.active());
    }
}

TEST(ReceiveActivityDecisions, ASenderChangeSeenByTheRtpLibraryCountsOnceAndRestartsTheSilence)
{
    using Change = ReceiveActivity::Change;
    ReceiveActivity activity;
    activity.packetReceived(0xA, 0);
    EXPECT_TRUE(activity.senderChanged(0xC, 100));
    EXPECT_EQ(activity.sender(), 0xCu);
    EXPECT_FALSE(activity.senderChanged(0xC, 120)) << "already the sender: nothing new to report";
    EXPECT_EQ(activity.packetReceived(0xA, 100 + ReceiveActivity::kSilenceMs - 1), Change::None);
}

TEST(TickerStallQuery, TrueOnlyAfterNoProgressForLongerThanAllowed)
{
    std::uint32_t ticks = 0;
    std::int64_t now = 0;
    TickerStall stall([&] { return ticks; }, [&] { return now; });
    now = TickerStall::kAllowedStallMs;
    EXPECT_FALSE(stall.isTimedOut());
    ticks = 5;
    now = 3 * TickerStall::kAllowedStallMs;
    EXPECT_FALSE(stall.isTimedOut()) << "progress since the last query";
    now += TickerStall::kAllowedStallMs;
    EXPECT_FALSE(stall.isTimedOut());
    now += 1;
    EXPECT_TRUE(stall.isTimedOut());
    ticks = 6;
    EXPECT_FALSE(stall.isTimedOut());
}

} // namespace
