// The radio model with recording stand-in streams: start-up restore and
// persistence, channel and zone selection, volumes, the transmit sequences
// with their tones and stream calls, modes and their countdowns, incoming
// calls, the system volume command and the outgoing caller location.
#include "VirtualRadio.h"

#include "CommaDecimalLocale.h"
#include "DelayedPersistentQSettings.h"
#include "LogCapture.h"
#include "PttManager.h"
#include "SystemCommand.h"
#include "TemporarySettings.h"
#include "support/RecordingRadioStream.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <thread>

namespace {

using rvx::test::CallLog;
using rvx::test::RecordingStreams;

const device_id_t kOwnId = 0x0A1B2C3D;
const device_id_t kCallerA = 0x00112233;
const device_id_t kCallerB = 0x00445566;

const char* const kTwoZones =
    "<Settings name=\"Truck 7\" accountName=\"Fleet\"><HalvaneChannels>"
    "<channel name=\"Ops\" num=\"300\" zone=\"Field\" zone_num=\"2\"/>"
    "<channel name=\"Fire\" num=\"301\" zone=\"Field\" zone_num=\"2\"/>"
    "<channel name=\"Yard\" num=\"302\" zone=\"Depot\" zone_num=\"3\"/>"
    "</HalvaneChannels><Halvane><LocalChannels>false</LocalChannels><DemoChannels>false</DemoChannels>"
    "<CodecOptions codec_name=\"speex\" codec_packet_interval=\"20\"/></Halvane></Settings>";

class RecordingAudioOutput : public RadioAudioOutput
{
public:
    void setBranchMuted(int branch, bool muted) override { calls.push_back({branch, muted}); }
    std::vector<std::pair<int, bool>> calls;
};

// Copies the texts of a const char* signal while they are delivered.
std::shared_ptr<std::vector<std::string>> recordTexts(VirtualRadio* radio, void (VirtualRadio::*signal)(const char*))
{
    auto texts = std::make_shared<std::vector<std::string>>();
    QObject::connect(radio, signal, [texts](const char* text) { texts->push_back(text); });
    return texts;
}

class VirtualRadioTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(settings.isValid()); }
    void TearDown() override { SettingsFileParser::resetForTesting(); }

    void makeRadio(const char* document = "")
    {
        SettingsFileParser::resetForTesting();
        SettingsFileParser::makeFirstInstance(document);
        VirtualRadioServices services;
        services.settings = &settings.store();
        services.ptt = &ptt;
        services.contacts = &contacts;
        services.createStream = streams.factory();
        services.ownDeviceId = [] { return kOwnId; };
        services.keyIdToDeviceId = [](const char*) { return device_id_t(0); };
        services.demoDownload = [] { return std::string(); };
        services.ownLocation = [this](location_t& location) {
            location = ownLocation;
            return haveLocation;
        };
        radio = std::make_unique<VirtualRadio>(services);
        radio->setAudioChannel(&audio);
        // What the screen state machine and start-up wire in the program.
        QObject::connect(radio.get(), &VirtualRadio::moRxActivityUpdate, &ptt, &PttManager_t::setPttBlockRxActive);
        QObject::connect(&ptt, &PttManager_t::coMicPttStateChanged, radio.get(), &VirtualRadio::miUpdateTxState);
    }

    void startRadio(const char* document = "")
    {
        makeRadio(document);
        radio->initialise();
        log().clear();
    }

    CallLog& log() { return *streams.log; }
    bool logged(const std::string& call) const
    {
        return std::find(streams.log->begin(), streams.log->end(), call) != streams.log->end();
    }
    void tick(int seconds)
    {
        for (int n = 0; n < seconds; ++n)
            radio->miOneSecondElapsed();
    }
    // Lets the 250 ms key-up timer run out.
    bool waitForTransmitting() { return QTest::qWaitFor([this] { return radio->txState() == 8; }, 2000); }
    void transmitOnce()
    {
        ptt.ciMicPttChanged_Gui(true);
        ASSERT_TRUE(waitForTransmitting());
        ptt.ciMicPttChanged_Gui(false);
    }

    rvx::test::TemporarySettings settings;
    PttManager_t ptt;
    ContactsManager contacts;
    RecordingStreams streams;
    RecordingAudioOutput audio;
    location_t ownLocation;
    bool haveLocation = false;
    std::unique_ptr<VirtualRadio> radio;
};

// ---- Construction and start-up ---------------------------------------------

TEST_F(VirtualRadioTest, ConstructionAddressesOwnIndividualCallsAndAppliesCodecOptions)
{
    makeRadio(kTwoZones);
    EXPECT_TRUE(logged("rx setChannelAddress 50002 226.27.44.61 50002 50003"));
    EXPECT_EQ(settings->value("voip_codec").toString(), "speex");
    EXPECT_EQ(settings->value("packet_interval").toString(), "20");
    EXPECT_EQ(radio->txState(), 1);
    EXPECT_EQ(radio->mode(), VirtualRadio::ChannelMode);
}

TEST_F(VirtualRadioTest, InitialiseWithoutSettingsRunsTheLocalPlan)
{
    rvx::test::LogCapture capture;
    makeRadio("");
    auto zoneNames = recordTexts(radio.get(), &VirtualRadio::moCurrentZoneName);
    QSignalSpy channelLists(radio.get(), &VirtualRadio::moNewChannelList);
    QSignalSpy volumes(radio.get(), &VirtualRadio::moSetVolume);
    radio->initialise();

    EXPECT_EQ(*zoneNames, std::vector<std::string>{"Local"});
    ASSERT_EQ(channelLists.count(), 1);
    EXPECT_EQ(channelLists.at(0).at(0).toStringList().size(), 16);
    EXPECT_TRUE(logged("ch setChannelAddress 50000 225.4.0.1 50000 50001"));
    EXPECT_TRUE(logged("ch setTalker Default"));
    EXPECT_TRUE(logged("tx setTalker Default"));
    EXPECT_TRUE(logged("ch setSsrc 0A1B2C3D"));
    EXPECT_TRUE(logged("tx setSsrc 0A1B2C3D"));
    EXPECT_TRUE(capture.Contains("Using default caller ID name."));
    EXPECT_TRUE(capture.Contains("Using default account name: N/A. \n"));
    ASSERT_EQ(volumes.count(), 1);
    EXPECT_EQ(volumes.at(0).at(0).toInt(), 20);
    EXPECT_EQ(radio->paVolume(), 80);
}

TEST_F(VirtualRadioTest, InitialiseRestoresZoneChannelVolumesAndIdentity)
{
    settings->setValue("zone_index", 1);
    settings->sync();
    settings->setValue("Depot", 0);
    settings->sync();
    settings->setValue("Field", 1);
    settings->sync();
    settings->setValue("volume", 150);
    settings->sync();
    settings->setValue("pa_mode_volume", 130);
    settings->sync();
    startRadio(kTwoZones);
    EXPECT_EQ(radio->plan().zones.index(), 1);
    EXPECT_EQ(radio->zoneChannels().currentOrEmpty().name, "Yard");
    EXPECT_EQ(radio->volume(), 100);
    // The PA volume is taken as stored.
    EXPECT_EQ(radio->paVolume(), 130);
    EXPECT_EQ(accountName(), "Fleet");

    radio->miSelectZonePrevious();
    EXPECT_EQ(radio->zoneChannels().currentOrEmpty().name, "Fire");
    EXPECT_TRUE(logged("ch setChannelAddress 50000 225.64.1.45 50000 50001"));
}

TEST_F(VirtualRadioTest, StoredChannelIndexBeyondTheZoneIsClamped)
{
    settings->setValue("Field", 99);
    settings->sync();
    startRadio(kTwoZones);
    EXPECT_EQ(radio->zoneChannels().index(), 1);
    EXPECT_EQ(settings->value("Field").toInt(), 1);
}

TEST_F(VirtualRadioTest, TalkerNameComesFromTheDocument)
{
    makeRadio(kTwoZones);
    radio->initialise();
    EXPECT_TRUE(logged("ch setTalker Truck 7"));
    EXPECT_TRUE(logged("tx setTalker Truck 7"));
}

// ---- Channel and zone selection --------------------------------------------

TEST_F(VirtualRadioTest, ChannelNextAndPreviousWrapAndPersistPerZone)
{
    startRadio(kTwoZones);
    QSignalSpy indexes(radio.get(), &VirtualRadio::moChannelIndexChanged);
    auto names = recordTexts(radio.get(), &VirtualRadio::moCurrentChannelName);
    radio->miSelectChannelPrevious();
    EXPECT_EQ(radio->zoneChannels().index(), 1);
    radio->miSelectChannelNext();
    EXPECT_EQ(radio->zoneChannels().index(), 0);
    ASSERT_EQ(indexes.count(), 2);
    EXPECT_EQ(indexes.at(0).at(0).toInt(), 1);
    EXPECT_EQ(*names, (std::vector<std::string>{"Fire", "Ops"}));
    radio->miSetRadioChannel(7);
    EXPECT_EQ(settings->value("Field").toInt(), 1);
}

TEST_F(VirtualRadioTest, ZoneChangeRebuildsChannelsAndRestoresThatZonesChannel)
{
    startRadio(kTwoZones);
    radio->miSetRadioChannel(1);
    auto zoneNames = recordTexts(radio.get(), &VirtualRadio::moCurrentZoneName);
    QSignalSpy lists(radio.get(), &VirtualRadio::moNewChannelList);
    radio->miSelectZoneNext();
    EXPECT_EQ(zoneNames->back(), "Depot");
    EXPECT_EQ(lists.last().at(0).toStringList(), QStringList{"Yard"});
    EXPECT_EQ(settings->value("zone_index").toInt(), 1);
    EXPECT_TRUE(logged("ch setChannelAddress 50000 225.64.1.46 50000 50001"));
    radio->miSelectZoneNext();
    EXPECT_EQ(radio->zoneChannels().currentOrEmpty().name, "Fire");
}

TEST_F(VirtualRadioTest, EmptyPlanShowsNoZonesAndAddressesTheEmptyChannel)
{
    startRadio("<S><Halvane><LocalChannels>false</LocalChannels><DemoChannels>false</DemoChannels></Halvane></S>");
    auto zoneNames = recordTexts(radio.get(), &VirtualRadio::moCurrentZoneName);
    radio->miSelectZoneNext();
    EXPECT_EQ(*zoneNames, std::vector<std::string>{"No Zones (a)"});
    radio->miSelectChannelNext();
    radio->miSelectChannelPrevious();
    EXPECT_TRUE(logged("ch setChannelAddress 50000  0 0"));
    EXPECT_EQ(radio->zoneChannels().index(), 0);
}

// ---- Volumes, system level, caller location --------------------------------

TEST_F(VirtualRadioTest, VolumeIsClampedAndStoredPerMode)
{
    startRadio();
    QSignalSpy volumes(radio.get(), &VirtualRadio::moSetVolume);
    const std::vector<std::pair<int, int>> cases = {{150, 100}, {-5, 0}, {55, 55}};
    for (const auto& c : cases) {
        radio->miSetVolume(c.first);
        EXPECT_EQ(volumes.last().at(0).toInt(), c.second);
        EXPECT_EQ(settings->value("volume").toInt(), c.second);
    }
    radio->miIncreaseVolume();
    EXPECT_EQ(radio->volume(), 60);

    radio->miPaModeStart();
    EXPECT_EQ(volumes.last().at(0).toInt(), 80);
    radio->miDecreaseVolume();
    EXPECT_EQ(radio->paVolume(), 75);
    EXPECT_EQ(settings->value("pa_mode_volume").toInt(), 75);
    EXPECT_EQ(settings->value("volume").toInt(), 60);
    radio->miPaModeEnd();
    EXPECT_EQ(volumes.last().at(0).toInt(), 60);
}

TEST_F(VirtualRadioTest, SystemVolumeCommandRunsOnlyOnChange)
{
    startRadio();
    std::vector<std::string> commands;
    SystemCommand::setRunner([&](const std::string& command) {
        commands.push_back(command);
        return 0;
    });
    radio->viSendSystemVolCmd(50);
    radio->viSendSystemVolCmd(50);
    radio->viSendSystemVolCmd(3);
    SystemCommand::setRunner({});
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], "amixer sset 'TX1 Audio' 75% > /dev/null");
    EXPECT_EQ(commands[1], "amixer sset 'TX1 Audio' 51% > /dev/null");
}

TEST_F(VirtualRadioTest, CallerLocationTextFollowsTheOwnPositionWithADecimalPointInAnyLocale)
{
    rvx::test::CommaDecimalLocale german;
    ASSERT_TRUE(german.Active()) << "de_DE.UTF-8 is missing: run scripts/install-deps.sh";
    startRadio();
    radio->updateCallerIdLocation();
    EXPECT_TRUE(logged("ch setLocationText "));
    ownLocation.latitude = -33.5;
    ownLocation.longitude = 151.25;
    haveLocation = true;
    radio->updateCallerIdLocation();
    EXPECT_TRUE(logged("ch setLocationText -33.500000S,151.250000E"));
    EXPECT_TRUE(logged("tx setLocationText -33.500000S,151.250000E"));
}

// ---- Transmit sequences ----------------------------------------------------

TEST_F(VirtualRadioTest, PressFreeGivesKeyUpToneThenTransmitsThenEndTone)
{
    startRadio();
    QSignalSpy txActive(radio.get(), &VirtualRadio::moTxActiveUpdate);
    ptt.ciMicPttChanged_Gui(true);
    EXPECT_TRUE(logged("ch playTone 800 150 0.3"));
    EXPECT_FALSE(logged("ch startTransmit"));
    EXPECT_EQ(radio->txState(), 6);
    ASSERT_TRUE(waitForTransmitting());
    EXPECT_TRUE(logged("ch startTransmit"));
    EXPECT_FALSE(logged("tx startTransmit"));
    EXPECT_TRUE(txActive.last().at(0).toBool());

    log().clear();
    ptt.ciMicPttChanged_Gui(false);
    EXPECT_EQ(log(), (CallLog{"ch stopTransmit", "tx stopTransmit", "ch playTone 300 80 0.3"}));
    EXPECT_FALSE(txActive.last().at(0).toBool());
    EXPECT_EQ(radio->txState(), 1);
}

TEST_F(VirtualRadioTest, BusyChannelGivesBusyToneUntilItFrees)
{
    startRadio();
    streams.channel->becomeActive(kCallerA);
    ptt.ciMicPttChanged_Gui(true);
    // The first step ever also makes sure that nothing transmits.
    EXPECT_EQ(log(), (CallLog{"ch stopTransmit", "tx stopTransmit", "ch playTone 620 5000 0.3",
                              "tx playTone 480 5000 0.3"}));
    EXPECT_EQ(radio->txState(), 4);

    log().clear();
    streams.channel->becomeInactive();
    EXPECT_EQ(log(), (CallLog{"ch stopTone", "tx stopTone", "ch playTone 800 150 0.3"}));
    ASSERT_TRUE(waitForTransmitting());
    EXPECT_TRUE(logged("ch startTransmit"));
}

TEST_F(VirtualRadioTest, BusyToneEndsWhenPttIsReleased)
{
    startRadio();
    streams.channel->becomeActive(kCallerA);
    ptt.ciMicPttChanged_Gui(true);
    log().clear();
    ptt.ciMicPttChanged_Gui(false);
    EXPECT_EQ(log(), (CallLog{"ch stopTone", "tx stopTone"}));
    EXPECT_EQ(radio->txState(), 1);
}

TEST_F(VirtualRadioTest, ReceiveDuringTransmissionEndsItWithShortBusyTone)
{
    startRadio();
    ptt.ciMicPttChanged_Gui(true);
    ASSERT_TRUE(waitForTransmitting());
    log().clear();
    streams.channel->becomeActive(kCallerA);
    EXPECT_EQ(log(), (CallLog{"ch stopTransmit", "tx stopTransmit", "ch playTone 620 250 0.3",
                              "tx playTone 480 250 0.3"}));
    EXPECT_EQ(radio->txState(), 4);
}

TEST_F(VirtualRadioTest, ReleaseDuringKeyUpReturnsToIdleWithoutTransmitting)
{
    startRadio();
    ptt.ciMicPttChanged_Gui(true);
    log().clear();
    ptt.ciMicPttChanged_Gui(false);
    EXPECT_EQ(log(), (CallLog{"ch stopTone", "tx stopTone"}));
    QTest::qWait(300);
    EXPECT_EQ(radio->txState(), 1);
    EXPECT_FALSE(logged("ch startTransmit"));
}

TEST_F(VirtualRadioTest, TransmissionOutsideChannelModeUsesTheIndividualCallStream)
{
    startRadio();
    radio->miStartIndividualCall(kCallerA);
    ptt.ciMicPttChanged_Gui(true);
    ASSERT_TRUE(waitForTransmitting());
    EXPECT_TRUE(logged("tx startTransmit"));
    EXPECT_FALSE(logged("ch startTransmit"));
    EXPECT_EQ(radio->individualCallSeconds(), 320);
    ptt.ciMicPttChanged_Gui(false);
    EXPECT_EQ(radio->individualCallSeconds(), 20);
}

// ---- Modes and countdowns --------------------------------------------------

TEST_F(VirtualRadioTest, IndividualCallAddressesTheContactAndEndsAfterTwentyIdleSeconds)
{
    startRadio();
    QSignalSpy modes(radio.get(), &VirtualRadio::moVirtualRadioModeChanged);
    QSignalSpy seconds(radio.get(), &VirtualRadio::moIndividualCallSecondsRemainingChanged);
    QSignalSpy contactIds(radio.get(), &VirtualRadio::moIndividualCallContactID);
    radio->miStartIndividualCall(0x0A1B2C3D);
    EXPECT_EQ(log(), (CallLog{"ch leaveGroup 225.4.0.1", "tx setChannelAddress 50004 226.27.44.61 50002 50003"}));
    ASSERT_EQ(contactIds.count(), 1);
    EXPECT_EQ(seconds.last().at(0).toInt(), 20);

    tick(19);
    EXPECT_EQ(radio->mode(), VirtualRadio::IndividualCallMode);
    log().clear();
    tick(1);
    EXPECT_EQ(radio->mode(), VirtualRadio::ChannelMode);
    EXPECT_EQ(log(), (CallLog{"tx leaveGroup 226.27.44.61", "ch viUpdateMulticastJoins"}));
    ASSERT_EQ(modes.count(), 2);
    EXPECT_EQ(modes.at(1).at(0).value<VirtualRadio::VirtualRadioMode_t>(), VirtualRadio::ChannelMode);
}

TEST_F(VirtualRadioTest, IncomingCallActivityKeepsTheCallFor320Seconds)
{
    startRadio();
    streams.individualRx->becomeActive(kCallerA);
    EXPECT_EQ(radio->mode(), VirtualRadio::IndividualCallMode);
    EXPECT_EQ(radio->individualCallContact(), kCallerA);
    EXPECT_EQ(radio->individualCallSeconds(), 320);
    tick(319);
    EXPECT_EQ(radio->mode(), VirtualRadio::IndividualCallMode);
    tick(1);
    EXPECT_EQ(radio->mode(), VirtualRadio::ChannelMode);
}

TEST_F(VirtualRadioTest, TransmittingKeepsTheCallUpAndReleaseLeavesTwentySeconds)
{
    startRadio();
    radio->miStartIndividualCall(kCallerA);
    tick(15);
    transmitOnce();
    EXPECT_EQ(radio->individualCallSeconds(), 20);
    tick(19);
    EXPECT_EQ(radio->mode(), VirtualRadio::IndividualCallMode);
    tick(1);
    EXPECT_EQ(radio->mode(), VirtualRadio::ChannelMode);
}

TEST_F(VirtualRadioTest, IncomingIndividualCallInEveryMode)
{
    struct Case
    {
        const char* name;
        std::function<void(VirtualRadio&)> enterMode;
        device_id_t caller;
        device_id_t expectedContact;
        bool readdressed;
    };
    const std::vector<Case> cases = {
        {"channel mode", [](VirtualRadio&) {}, kCallerA, kCallerA, true},
        {"PA mode", [](VirtualRadio& r) { r.miPaModeStart(); }, kCallerA, kCallerA, true},
        {"call with the caller", [](VirtualRadio& r) { r.miStartIndividualCall(kCallerA); }, kCallerA, kCallerA, false},
        {"call with another station", [](VirtualRadio& r) { r.miStartIndividualCall(kCallerA); }, kCallerB, kCallerB,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        streams = RecordingStreams();
        startRadio();
        c.enterMode(*radio);
        log().clear();
        QSignalSpy rxActivity(radio.get(), &VirtualRadio::moRxActivityUpdate);
        streams.individualRx->becomeActive(c.caller);
        EXPECT_EQ(radio->mode(), VirtualRadio::IndividualCallMode);
        EXPECT_EQ(radio->individualCallContact(), c.expectedContact);
        EXPECT_EQ(radio->individualCallSeconds(), 320);
        EXPECT_EQ(logged("tx setChannelAddress 50004 " + individualCallAddress(c.caller) + " 50002 50003"),
                  c.readdressed);
        ASSERT_EQ(rxActivity.count(), 1);
        EXPECT_TRUE(rxActivity.at(0).at(0).toBool());
    }
}

TEST_F(VirtualRadioTest, PaModeEndsAfterTwentySecondsWithoutTransmission)
{
    startRadio();
    QSignalSpy paSeconds(radio.get(), &VirtualRadio::moPaModeSecondsRemainingChanged);
    radio->miPaModeStart();
    EXPECT_EQ(paSeconds.last().at(0).toInt(), 20);
    EXPECT_EQ(log(), (CallLog{"ch leaveGroup 225.4.0.1", "tx leaveGroup "}));
    tick(19);
    EXPECT_EQ(radio->mode(), VirtualRadio::PaMode);
    tick(1);
    EXPECT_EQ(radio->mode(), VirtualRadio::ChannelMode);
}

TEST_F(VirtualRadioTest, PaTransmissionOpensTheLoopAndHoldsTheCountdownAt320)
{
    startRadio();
    radio->miPaModeStart();
    audio.calls.clear();
    ptt.ciMicPttChanged_Gui(true);
    ASSERT_TRUE(waitForTransmitting());
    EXPECT_EQ(audio.calls.back(), std::make_pair(3, false));
    EXPECT_TRUE(logged("tx startTransmit"));
    tick(100);
    radio->miUpdateTxState();
    EXPECT_EQ(radio->paSeconds(), 320);
    ptt.ciMicPttChanged_Gui(false);
    EXPECT_EQ(audio.calls.back(), std::make_pair(3, true));
    EXPECT_EQ(radio->paSeconds(), 20);
    tick(20);
    EXPECT_EQ(radio->mode(), VirtualRadio::ChannelMode);
}

TEST_F(VirtualRadioTest, EndIndividualCallReturnsToChannelModeFromAnyMode)
{
    startRadio();
    radio->miPaModeStart();
    radio->miEndIndividualCall();
    EXPECT_EQ(radio->mode(), VirtualRadio::ChannelMode);
    radio->miStartIndividualCall(kCallerA);
    radio->miPaModeStart();
    EXPECT_EQ(radio->mode(), VirtualRadio::PaMode);
    EXPECT_TRUE(logged("tx leaveGroup " + individualCallAddress(kCallerA)));
}

TEST_F(VirtualRadioTest, ChannelCallerAndReceiveActivityAreReported)
{
    startRadio();
    QSignalSpy callers(radio.get(), &VirtualRadio::moIncomingChannelCallCallerIDUpdate);
    QSignalSpy rxActivity(radio.get(), &VirtualRadio::moRxActivityUpdate);
    streams.channel->becomeActive(kCallerA);
    streams.individualRx->becomeActive(kCallerB);
    streams.channel->becomeInactive();
    EXPECT_EQ(radio->lastChannelCaller(), kCallerA);
    ASSERT_EQ(callers.count(), 1);
    // Activity is not counted: one stream going quiet reports false.
    ASSERT_EQ(rxActivity.count(), 3);
    EXPECT_FALSE(rxActivity.at(2).at(0).toBool());
}

// ---- Voice privacy ---------------------------------------------------------

TEST_F(VirtualRadioTest, EachChannelGetsItsPrivacyWithALockAndAChannelWithAnUnusableKeyNeverTransmits)
{
    const std::string key = "AES_CM_128_HMAC_SHA1_80 inline:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd";
    const std::string document =
        "<Settings><HalvaneChannels>"
        "<channel name=\"Ops\" num=\"300\" zone=\"Field\" zone_num=\"2\" crypto=\"" + key + "\"/>"
        "<channel name=\"Fire\" num=\"301\" zone=\"Field\" zone_num=\"2\" crypto=\"AES_CM_128_HMAC_SHA1_80 inline:AAAA\"/>"
        "<channel name=\"Yard\" num=\"302\" zone=\"Field\" zone_num=\"2\"/>"
        "</HalvaneChannels><Halvane><LocalChannels>false</LocalChannels><DemoChannels>false</DemoChannels>"
        "<IndividualCallCrypto crypto=\"" + key + "\"/></Halvane></Settings>";
    makeRadio(document.c_str());
    EXPECT_EQ(streams.individualRx->voicePrivacy().mode, ChannelPrivacy::Mode::Encrypted);
    EXPECT_EQ(streams.individualTx->voicePrivacy().mode, ChannelPrivacy::Mode::Encrypted);
    QSignalSpy shown(radio.get(), &VirtualRadio::moCurrentChannelPrivacy);
    radio->initialise();

    const struct
    {
        const char* channel;
        ChannelPrivacy::Mode mode;
        bool lock;
        const char* note;
        bool transmits;
    } steps[] = {
        {"Ops", ChannelPrivacy::Mode::Encrypted, true, "", true},
        {"Fire", ChannelPrivacy::Mode::Unusable, false, "Key unusable: transmit disabled", false},
        {"Yard", ChannelPrivacy::Mode::Clear, false, "", true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.channel);
        ASSERT_EQ(radio->zoneChannels().currentOrEmpty().name, step.channel);
        EXPECT_EQ(streams.channel->voicePrivacy().mode, step.mode);
        ASSERT_FALSE(shown.isEmpty());
        EXPECT_EQ(shown.last().at(0).toBool(), step.lock);
        EXPECT_EQ(shown.last().at(1).toString().toStdString(), step.note);
        log().clear();
        transmitOnce();
        EXPECT_EQ(logged("ch startTransmit"), step.transmits);
        radio->miSelectChannelNext();
    }
}

TEST_F(VirtualRadioTest, EncryptedVoiceWithoutItsKeyShowsEncryptedAndMakesTheChannelBusy)
{
    startRadio();
    QSignalSpy encrypted(radio.get(), &VirtualRadio::moIncomingCallEncrypted);
    QSignalSpy callers(radio.get(), &VirtualRadio::moIncomingChannelCallCallerIDUpdate);
    streams.channel->becomeActiveEncrypted(kCallerA);
    streams.individualRx->becomeActiveEncrypted(kCallerB);
    ASSERT_EQ(encrypted.count(), 2);
    EXPECT_EQ(encrypted.at(0).at(0).value<device_id_t>(), kCallerA);
    EXPECT_EQ(encrypted.at(1).at(0).value<device_id_t>(), kCallerB);
    EXPECT_EQ(callers.count(), 0) << "nobody is named as the caller";
    EXPECT_EQ(radio->mode(), VirtualRadio::ChannelMode) << "an unreadable call is not entered";
    ptt.ciMicPttChanged_Gui(true);
    EXPECT_EQ(radio->txState(), 4) << "busy";
    ptt.ciMicPttChanged_Gui(false);
}

TEST_F(VirtualRadioTest, CallFromTheTransportThreadChangesModeOnTheRadiosThread)
{
    startRadio();
    std::thread receiver([this] { radio->incomingIndividualCall(kCallerA); });
    receiver.join();
    EXPECT_EQ(radio->mode(), VirtualRadio::ChannelMode);
    ASSERT_TRUE(QTest::qWaitFor([this] { return radio->mode() == VirtualRadio::IndividualCallMode; }, 2000));
    EXPECT_EQ(radio->individualCallContact(), kCallerA);
    EXPECT_TRUE(logged("tx viUpdateMulticastJoins"));

    radio->incomingIndividualCall(kCallerB);
    EXPECT_EQ(radio->individualCallContact(), kCallerA);
}

} // namespace
