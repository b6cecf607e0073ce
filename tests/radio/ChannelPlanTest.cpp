// Channel plans built from settings documents, the demo download and the
// local talk groups; address arithmetic; routers; codec options; the zone
// channel rebuild.
#include "ChannelPlan.h"

#include "DelayedPersistentQSettings.h"
#include "LocalHttpServer.h"
#include "LogCapture.h"
#include "ManagementService.h"
#include "TemporarySettings.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

using rvx::test::LogCapture;

struct BuiltPlan
{
    ChannelPlan plan;
    int demoDownloads = 0;
};

// Builds a plan from a document text; demoReply is what the download gives.
std::unique_ptr<BuiltPlan> buildFrom(const char* documentText, const std::string& demoReply = std::string())
{
    auto built = std::make_unique<BuiltPlan>();
    const auto document = SettingsFileParser::parseSeparateDocument(documentText);
    BuiltPlan* target = built.get();
    ChannelPlanBuilder(built->plan, [target, demoReply] {
        ++target->demoDownloads;
        return demoReply;
    }).build(document.get());
    return built;
}

std::vector<std::string> channelNames(const ChannelList& channels)
{
    std::vector<std::string> names;
    for (const Channel_t& channel : channels.records())
        names.push_back(channel.name);
    return names;
}

QStringList zoneChannelNames(ChannelPlan& plan, int zoneIndex, ChannelList& zoneChannels)
{
    plan.zones.setIndex(zoneIndex);
    return rebuildZoneChannels(plan, zoneChannels);
}

const char* const kNoLocalNoDemo = "<Settings><Halvane><LocalChannels>false</LocalChannels>"
                                   "<DemoChannels>false</DemoChannels></Halvane>";

std::string withoutLocalAndDemo(const std::string& body)
{
    return std::string(kNoLocalNoDemo) + body + "</Settings>";
}

TEST(ChannelPlanBuild, NoSettingsGivesSixteenLocalChannelsAndTheDefaultRouter)
{
    auto built = buildFrom("");
    const ChannelPlan& plan = built->plan;
    ASSERT_EQ(plan.zones.count(), 1);
    EXPECT_EQ(plan.zones.at(0)->name, "Local");
    EXPECT_EQ(plan.zones.at(0)->number, 1);
    ASSERT_EQ(plan.channelSet.count(), 16);
    ASSERT_EQ(plan.relations.relations().size(), 16u);
    for (int n = 1; n <= 16; ++n) {
        const Channel_t* channel = plan.channelSet.at(n - 1);
        EXPECT_EQ(channel->name, "Local " + std::to_string(n));
        EXPECT_EQ(channel->number, n);
        EXPECT_EQ(channel->address, "225.4.0." + std::to_string(n));
        EXPECT_EQ(channel->remoteRtpPort, 50000);
        EXPECT_EQ(channel->remoteRtcpPort, 50001);
        EXPECT_EQ(plan.relations.relations()[n - 1].zoneNumber, 1);
        EXPECT_EQ(plan.relations.relations()[n - 1].channelNumber, n);
    }
    EXPECT_EQ(built->demoDownloads, 1);
    ASSERT_EQ(plan.routers.size(), 1u);
    EXPECT_EQ(plan.routers[0].address, kDefaultRouterAddress);
    EXPECT_EQ(plan.routers[0].port, 3301);
}

TEST(ChannelPlanBuild, NoSettingsModelOrSkipFlagLeavesThePlanEmpty)
{
    ChannelPlan plan;
    int downloads = 0;
    ChannelPlanBuilder(plan, [&] { return ++downloads, std::string(); }).build(nullptr);
    EXPECT_TRUE(plan.channelSet.empty());
    EXPECT_TRUE(plan.routers.empty());

    LogCapture log("SKIP_SETTINGS_USER_CHANNEL_SET");
    auto skipped = buildFrom("");
    EXPECT_TRUE(skipped->plan.channelSet.empty());
    EXPECT_TRUE(skipped->plan.zones.empty());
    EXPECT_EQ(skipped->demoDownloads, 0);
    EXPECT_EQ(downloads, 0);
}

TEST(ChannelPlanBuild, LocalAndDemoOffWithoutTrunkChannelsIsEmpty)
{
    LogCapture log("ENABLE_ZONE_DEBUG\nENABLE_WGET_DEBUG");
    auto built = buildFrom(withoutLocalAndDemo("").c_str());
    EXPECT_TRUE(built->plan.zones.empty());
    EXPECT_TRUE(built->plan.channelSet.empty());
    EXPECT_EQ(built->demoDownloads, 0);
    EXPECT_TRUE(log.Contains("Demo channels disabled."));
    EXPECT_TRUE(log.Contains("Local channels disabled."));
    EXPECT_EQ(zoneNameAt(built->plan.zones, 0), "No Zones (b)");
}

TEST(ChannelPlanBuild, TrunkChannelsComeFirstThenDemoThenLocal)
{
    const std::string demo = "<Demo><HalvaneChannels>"
                             "<channel name=\"Demo A\" num=\"900\" zone=\"Demo\" zone_num=\"9\"/>"
                             "<channel name=\"Ops\" num=\"901\" zone=\"Demo\" zone_num=\"9\"/>"
                             "</HalvaneChannels></Demo>";
    auto built = buildFrom("<Settings><HalvaneChannels>"
                           "<channel name=\"Ops\" num=\"300\" zone=\"Field\" zone_num=\"2\"/>"
                           "</HalvaneChannels></Settings>",
                           demo);
    const ChannelPlan& plan = built->plan;
    ASSERT_EQ(plan.zones.count(), 3);
    EXPECT_EQ(plan.zones.at(0)->name, "Field");
    EXPECT_EQ(plan.zones.at(1)->name, "Demo");
    EXPECT_EQ(plan.zones.at(2)->name, "Local");
    const std::vector<std::string> names = channelNames(plan.channelSet);
    ASSERT_EQ(names.size(), 18u);
    EXPECT_EQ(names[0], "Ops");
    EXPECT_EQ(names[1], "Demo A");
    EXPECT_EQ(names[2], "Local 1");
    // The trunk-managed "Ops" wins over the demo one of the same name.
    EXPECT_EQ(plan.channelSet.findByName("Ops")->address, "225.64.1.44");
}

// Voice keys come only with the radio's own (encrypted, signed) settings:
// the demo talk groups travel in clear and their keys are ignored.
TEST(ChannelPlanBuild, VoiceKeysAreReadFromTheSettingsButNeverFromTheDemoTalkGroups)
{
    const std::string key = "AES_CM_128_HMAC_SHA1_80 inline:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd";
    const std::string old = "AES_CM_128_HMAC_SHA1_80 inline:HRwbGhkYFxYVFBMSERAPDg0MCwoJCAcGBQQDAgEA";
    const std::string demo = "<Demo><HalvaneChannels><channel name=\"Demo A\" num=\"900\" zone=\"Demo\" "
                             "zone_num=\"9\" crypto=\"" + key + "\"/></HalvaneChannels></Demo>";
    const std::string document =
        "<Settings><HalvaneChannels>"
        "<channel name=\"Ops\" num=\"300\" zone=\"Field\" zone_num=\"2\" crypto=\"" + key +
        "\" crypto_previous=\"" + old + "\"/>"
        "<channel name=\"Fire\" num=\"301\" zone=\"Field\" zone_num=\"2\" crypto=\"AES_256_CM_HMAC_SHA1_80 "
        "inline:AAAA\"/>"
        "</HalvaneChannels><Halvane><LocalChannels>true</LocalChannels>"
        "<IndividualCallCrypto crypto=\"" + key + "\"/></Halvane></Settings>";
    LogCapture log;
    auto built = buildFrom(document.c_str(), demo);
    const ChannelList& channels = built->plan.channelSet;
    const struct
    {
        const char* name;
        ChannelPrivacy::Mode mode;
        bool previous;
    } expected[] = {{"Ops", ChannelPrivacy::Mode::Encrypted, true},
                    {"Fire", ChannelPrivacy::Mode::Unusable, false},
                    {"Demo A", ChannelPrivacy::Mode::Clear, false},
                    {"Local 1", ChannelPrivacy::Mode::Clear, false}};
    for (const auto& channel : expected) {
        SCOPED_TRACE(channel.name);
        ASSERT_NE(channels.findByName(channel.name), nullptr);
        EXPECT_EQ(channels.findByName(channel.name)->privacy.mode, channel.mode);
        EXPECT_EQ(channels.findByName(channel.name)->privacy.previous.has_value(), channel.previous);
    }
    EXPECT_EQ(channels.findByName("Ops")->privacy.key, parseCryptoAttribute(key).key);
    EXPECT_TRUE(log.Contains("Channel Fire: voice key unusable (unsupported suite AES_256_CM_HMAC_SHA1_80); "
                             "transmission disabled."));
    ChannelList zoneChannels;
    zoneChannelNames(built->plan, 0, zoneChannels);
    EXPECT_EQ(zoneChannels.findByName("Ops")->privacy, channels.findByName("Ops")->privacy);

    const auto settings = SettingsFileParser::parseSeparateDocument(document.c_str());
    EXPECT_EQ(readIndividualCallPrivacy(settings.get()).mode, ChannelPrivacy::Mode::Encrypted);
    const auto clear = SettingsFileParser::parseSeparateDocument("<Settings><Halvane/></Settings>");
    EXPECT_EQ(readIndividualCallPrivacy(clear.get()).mode, ChannelPrivacy::Mode::Clear);
}

TEST(ChannelPlanBuild, DuplicateChannelNameKeepsTheFirstButBothRelations)
{
    LogCapture log;
    auto built = buildFrom(withoutLocalAndDemo("<HalvaneChannels>"
                                               "<channel name=\"Ops\" num=\"5\" zone=\"Z\" zone_num=\"3\"/>"
                                               "<channel name=\"Ops\" num=\"6\" zone=\"Z\" zone_num=\"3\"/>"
                                               "</HalvaneChannels>")
                               .c_str());
    ASSERT_EQ(built->plan.channelSet.count(), 1);
    EXPECT_EQ(built->plan.channelSet.at(0)->number, 5);
    EXPECT_EQ(built->plan.relations.relations().size(), 2u);
    ChannelList zoneChannels;
    const QStringList names = zoneChannelNames(built->plan, 0, zoneChannels);
    EXPECT_EQ(names, QStringList{"Ops"});
    EXPECT_EQ(zoneChannels.count(), 1);
    EXPECT_TRUE(log.Contains("Channel object for channel number 6 not found - skipping it"));
}

TEST(ChannelPlanBuild, TwoRelationsToOneChannelListTwiceButKeepOnce)
{
    auto built = buildFrom(withoutLocalAndDemo("<HalvaneChannels>"
                                               "<channel name=\"Ops\" num=\"5\" zone=\"Z\" zone_num=\"3\"/>"
                                               "<channel name=\"Ops again\" num=\"5\" zone=\"Z\" zone_num=\"3\"/>"
                                               "</HalvaneChannels>")
                               .c_str());
    ChannelList zoneChannels;
    const QStringList names = zoneChannelNames(built->plan, 0, zoneChannels);
    // Both relations find the first channel numbered 5.
    EXPECT_EQ(names, (QStringList{"Ops", "Ops"}));
    EXPECT_EQ(zoneChannels.count(), 1);
}

// Documents come in UTF-8 or in Latin-1 (declared by the XML declaration):
// names read the same either way, and a long name keeps its first 31
// characters, never half a character.
TEST(ChannelPlanBuild, NamesReadTheSameInUtf8AndLatin1AndAreCutTo31Characters)
{
    const auto repeated = [](const std::string& character, int times) {
        std::string text;
        for (int i = 0; i < times; ++i)
            text += character;
        return text;
    };
    struct Case
    {
        const char* declaration;
        std::string zurich;  // "Zürich" in the document's encoding
        std::string letter;  // a letter repeated 40 times makes the long name
        std::string expectedLetter;
    };
    const Case cases[] = {
        {"", "Z\xC3\xBCrich", "x", "x"},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "Z\xC3\xBCrich", "\xC3\xA4", "\xC3\xA4"},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>", "Z\xFCrich", "\xE4", "\xC3\xA4"},
    };
    for (const Case& test : cases) {
        const std::string longName = repeated(test.letter, 40);
        const std::string body = "<HalvaneChannels><channel name=\"" + test.zurich + " Nord\" num=\"7\" zone=\"" +
                                 test.zurich + "\" zone_num=\"4\"/><channel name=\"" + longName +
                                 "\" num=\"8\" zone=\"" + longName + "\" zone_num=\"5\"/></HalvaneChannels>";
        auto built = buildFrom((test.declaration + withoutLocalAndDemo(body)).c_str());
        ASSERT_EQ(built->plan.zones.count(), 2) << test.declaration;
        EXPECT_EQ(built->plan.zones.at(0)->name, "Z\xC3\xBCrich") << test.declaration;
        ChannelList zoneChannels;
        EXPECT_EQ(zoneChannelNames(built->plan, 0, zoneChannels), QStringList{QString::fromUtf8("Z\xC3\xBCrich Nord")})
            << test.declaration;
        EXPECT_EQ(built->plan.channelSet.at(1)->name, repeated(test.expectedLetter, 31)) << test.declaration;
        EXPECT_EQ(built->plan.zones.at(1)->name, repeated(test.expectedLetter, 31)) << test.declaration;
    }
}

TEST(ChannelPlanBuild, LocalZoneNumberedFiveHidesTheLocalChannels)
{
    auto built = buildFrom("<Settings><HalvaneChannels>"
                           "<channel name=\"Yard\" num=\"40\" zone=\"Local\" zone_num=\"5\"/>"
                           "</HalvaneChannels><Halvane><DemoChannels>false</DemoChannels></Halvane></Settings>");
    ASSERT_EQ(built->plan.zones.count(), 1);
    EXPECT_EQ(built->plan.zones.at(0)->number, 5);
    EXPECT_EQ(built->plan.channelSet.count(), 17);
    ChannelList zoneChannels;
    EXPECT_EQ(zoneChannelNames(built->plan, 0, zoneChannels), QStringList{"Yard"});
}

TEST(ChannelPlanBuild, ZonesNumberedZeroOrUnreadableAreNotAdded)
{
    auto built = buildFrom(withoutLocalAndDemo("<HalvaneChannels>"
                                               "<channel name=\"A\" num=\"1\" zone=\"Zero\" zone_num=\"0\"/>"
                                               "<channel name=\"B\" num=\"2\" zone=\"Text\" zone_num=\"abc\"/>"
                                               "<channel name=\"C\" num=\"x\" zone=\"Neg\" zone_num=\"-3\"/>"
                                               "</HalvaneChannels>")
                               .c_str());
    EXPECT_TRUE(built->plan.zones.empty());
    ASSERT_EQ(built->plan.channelSet.count(), 3);
    // A channel number that is not decimal reads as 0: the base address itself.
    EXPECT_EQ(built->plan.channelSet.at(2)->address, "225.64.0.0");
}

TEST(ChannelPlanBuild, FailingDemoDownloadLeavesTheRestIntact)
{
    LogCapture log;
    ChannelPlan plan;
    const auto document = SettingsFileParser::parseSeparateDocument(
        "<Settings><HalvaneChannels><channel name=\"Ops\" num=\"3\" zone=\"Z\" zone_num=\"2\"/></HalvaneChannels>"
        "</Settings>");
    ChannelPlanBuilder(plan, []() -> std::string { throw std::runtime_error("wget error: refused"); })
        .build(document.get());
    EXPECT_TRUE(log.Contains("Retrieving demo channels failed (wget error: refused)."));
    EXPECT_EQ(plan.zones.count(), 2);
    EXPECT_EQ(plan.channelSet.count(), 17);
}

// The window shows only after the plan is built: a demo service that does
// not answer holds start-up a few seconds at most, and the plan goes on
// without the demo talk groups.
TEST(ChannelPlanBuild, SilentDemoServiceHoldsTheBuildAFewSecondsAtMost)
{
    std::atomic<bool> released{false};
    rvx::test::LocalHttpServer service;
    service.Server().Post("/index.php/api/demo", [&](const httplib::Request&, httplib::Response& response) {
        for (int waited = 0; waited < 300 && !released; ++waited)
            QThread::msleep(50);
        response.set_content("", "text/plain");
    });
    ASSERT_TRUE(service.Start());
    ::setenv(kWebManagementUrlVariable, service.Url().c_str(), 1);
    ChannelPlan plan;
    const auto document = SettingsFileParser::parseSeparateDocument("");
    QElapsedTimer clock;
    clock.start();
    ChannelPlanBuilder(plan, downloadDemoTalkGroups).build(document.get());
    const qint64 elapsed = clock.elapsed();
    released = true;
    ::unsetenv(kWebManagementUrlVariable);

    EXPECT_GE(elapsed, kDemoDownloadTimeLimitMs - 100);
    EXPECT_LT(elapsed, kDemoDownloadTimeLimitMs + 1000);
    EXPECT_EQ(plan.channelSet.count(), 16);
}

TEST(ChannelPlanBuild, UnreadableDemoReplyAddsNothing)
{
    auto built = buildFrom("<Settings><Halvane><LocalChannels>false</LocalChannels></Halvane></Settings>",
                           "<html>Service unavailable");
    EXPECT_EQ(built->demoDownloads, 1);
    EXPECT_TRUE(built->plan.channelSet.empty());
}

TEST(ChannelPlanBuild, ReadsRoutersUpdateNoticeAndGpsInterval)
{
    auto built = buildFrom("<Settings><Halvane><LocalChannels>false</LocalChannels>"
                           "<DemoChannels>false</DemoChannels><GPSOptions gps_update_interval=\"120\"/>"
                           "<Halvane2Routers><Halvane2Router address=\"10.0.0.1\" port=\"4000\"/>"
                           "<Halvane2Router address=\"192.168.100.200.long.name\" port=\"x\"/>"
                           "</Halvane2Routers></Halvane><Windows>"
                           "<update version=\"2.0\" url=\"u\" message=\"m\" urgency=\"high\"/>"
                           "<old url=\"o\" message=\"old m\" urgency=\"low\"/></Windows></Settings>");
    const RouterList& routers = built->plan.routers;
    ASSERT_EQ(routers.size(), 2u);
    EXPECT_EQ(routers[0].address, "10.0.0.1");
    EXPECT_EQ(routers[0].port, 4000);
    EXPECT_EQ(routers[1].address, "192.168.100.200.lon");
    EXPECT_EQ(routers[1].port, 0);
    EXPECT_EQ(gpsUpdateInterval().load(), 120);
    EXPECT_EQ(softwareUpdateNotice().updateVersion, "2.0");
    EXPECT_EQ(softwareUpdateNotice().updateUrgency, "high");
    EXPECT_EQ(softwareUpdateNotice().oldMessage, "old m");

    buildFrom(withoutLocalAndDemo("").c_str());
    EXPECT_EQ(gpsUpdateInterval().load(), 0);
    EXPECT_EQ(softwareUpdateNotice().updateVersion, "");
}

TEST(ChannelAddress, AddsTheNumberInIpv4Arithmetic)
{
    const std::vector<std::pair<std::pair<const char*, int>, const char*>> cases = {
        {{"225.64.0.0", 300}, "225.64.1.44"},
        {{"225.4.0.0", 16}, "225.4.0.16"},
        {{"225.64.0.0", 0}, "225.64.0.0"},
        {{"225.64.255.255", 1}, "225.65.0.0"},
        {{"255.255.255.255", 1}, "0.0.0.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(channelAddress(c.first.first, c.first.second), c.second) << c.first.first << " + " << c.first.second;
}

TEST(ChannelAddress, BaseThatIsNotDottedGivesEmptyAddress)
{
    LogCapture log;
    EXPECT_EQ(channelAddress("not an address", 3), "");
    EXPECT_TRUE(log.Contains("Not in presentation format"));
}

TEST(ReadDecimal, ReadsLikeAtoiWithinInt32)
{
    EXPECT_EQ(readDecimal("42"), 42);
    EXPECT_EQ(readDecimal("  -7x"), -7);
    EXPECT_EQ(readDecimal("12abc"), 12);
    EXPECT_EQ(readDecimal(""), 0);
    EXPECT_EQ(readDecimal("abc"), 0);
    EXPECT_EQ(readDecimal("99999999999999999999"), 2147483647);
    EXPECT_EQ(readDecimal("-99999999999999999999"), -2147483647 - 1);
}

TEST(ListIndex, NextAndPreviousWrapAndSetClamps)
{
    ChannelList list;
    list.setIndex(5);
    EXPECT_EQ(list.index(), 0);
    EXPECT_EQ(list.currentOrEmpty().address, "");
    for (int n = 0; n < 3; ++n)
        list.add(Channel_t{n, "", 0, 0, "c" + std::to_string(n), {}});
    list.setIndex(2);
    EXPECT_EQ(list.nextIndex(), 0);
    list.setIndex(0);
    EXPECT_EQ(list.previousIndex(), 2);
    list.setIndex(99);
    EXPECT_EQ(list.index(), 2);
    list.setIndex(-4);
    EXPECT_EQ(list.index(), 0);
}

struct RoutingCall
{
    std::string address;
    unsigned port;
};

std::vector<RoutingCall> routeWith(const RouterList& routers)
{
    std::vector<RoutingCall> calls;
    initialiseRouting(routers, [&](const char* address, unsigned port) { calls.push_back({address, port}); });
    return calls;
}

TEST(InitialiseRouting, AddsEveryRouterOfTheListInOrder)
{
    const auto calls = routeWith({{"10.0.0.1", 4000}, {"10.0.0.2", 3301}});
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].address, "10.0.0.1");
    EXPECT_EQ(calls[0].port, 4000u);
    EXPECT_EQ(calls[1].address, "10.0.0.2");
    EXPECT_TRUE(routeWith({}).empty());
}

TEST(InitialiseRouting, FlagChoosesOneBuiltInRouterInsteadOfTheList)
{
    {
        LogCapture log("USE_HALVANE_ROUTER_LOCAL\nDEBUG_INIT_HALVANE2_COMMUNICATIONS");
        const auto calls = routeWith({{"10.0.0.1", 4000}});
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].address, "0.0.0.0");
        EXPECT_EQ(calls[0].port, 3301u);
        EXPECT_TRUE(log.Contains("Using Halvane2 debug router. \n"));
    }
    {
        // HOST03 is tested before LOCAL.
        LogCapture log("USE_HALVANE_ROUTER_LOCAL\nUSE_HALVANE_ROUTER_HOST03");
        const auto calls = routeWith({});
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_NE(calls[0].address, "0.0.0.0");
        EXPECT_EQ(calls[0].port, 3301u);
    }
}

class CodecOptionsTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(settings.isValid()); }
    rvx::test::TemporarySettings settings;
};

TEST_F(CodecOptionsTest, DocumentOptionsReachTheLocalSettings)
{
    const auto document = SettingsFileParser::parseSeparateDocument(
        "<S><Halvane><CodecOptions codec_name=\"opus\"/></Halvane></S>");
    applyCodecOptions(document.get(), settings.store());
    EXPECT_EQ(settings->value("voip_codec").toString(), "opus");
    EXPECT_EQ(settings->value("packet_interval", "unset").toString(), "");
}

TEST_F(CodecOptionsTest, OverrideFlagOrMissingSectionKeepsTheLocalOnes)
{
    settings->setValue("voip_codec", "speex");
    const auto document = SettingsFileParser::parseSeparateDocument(
        "<S><Halvane><CodecOptions codec_name=\"opus\" codec_packet_interval=\"40\"/></Halvane></S>");
    {
        LogCapture log("OVERRIDE_WEBMANAGEMENT_CODEC_SETTINGS");
        applyCodecOptions(document.get(), settings.store());
    }
    EXPECT_EQ(settings->value("voip_codec").toString(), "speex");
    applyCodecOptions(SettingsFileParser::parseSeparateDocument("<S/>").get(), settings.store());
    EXPECT_EQ(settings->value("voip_codec").toString(), "speex");
}

} // namespace
