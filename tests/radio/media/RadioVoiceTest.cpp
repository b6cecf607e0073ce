// Voice through the radio model built on its real media streams and audio
// channel, with a talking peer radio in another network namespace: the busy
// channel (busy tone, nothing sent, then key-up and transmit when it frees)
// the individual call (entered on the peer's call, played on pin 2, the reply
// reaches it; a second caller takes it over once the peer is quiet) and
// the public-address mode (the microphone on the own speaker), and a trunked
// channel heard both by multicast and through a relay near or far (each
// packet arrives twice and is taken once).
#include "VirtualRadio.h"

#include "ChildProcess.h"
#include "DelayedPersistentQSettings.h"
#include "DeviceIdentity.h"
#include "HalvaneChannel.h"
#include "MediaTestSupport.h"
#include "NetNamespace.h"
#include "PeerNamespace.h"
#include "PttManager.h"
#include "RelayDelayLine.h"
#include "RtpTrunkTransport.h"
#include "SenderKeys.h"
#include "TemporarySettings.h"
#include "VoicePrivacy.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <array>
#include <set>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace rvx::test;
using namespace std::chrono_literals;

const device_id_t kOwnId = 0x00C0C0C0;
const device_id_t kPeerId = 0x00B0B0B0; // the peer program's identity
const device_id_t kThirdId = 0x00D0D0D0; // a second peer beside the first
const char* const kLocalOne = "225.4.0.1"; // the group of the channel "Local 1"
const int kChannelPort = 50000;
const int kIndividualCallPort = 50002;   // where every radio hears its individual calls
const int kIndividualCallTxPort = 50004; // where radios send individual calls from

const char* const kTrunkedChannel = "<Settings name=\"Truck 7\"><HalvaneChannels>"
                                    "<channel name=\"Ops\" num=\"300\" zone=\"Field\" zone_num=\"2\"/>"
                                    "</HalvaneChannels><Halvane><LocalChannels>false</LocalChannels>"
                                    "<DemoChannels>false</DemoChannels></Halvane></Settings>";
const char* const kTrunkedGroup = "225.64.1.44"; // the group of channel 300

const char* const kLocalChannels = "<Settings name=\"Truck 7\"><Halvane><LocalChannels>true</LocalChannels>"
                                   "<DemoChannels>false</DemoChannels>"
                                   "<CodecOptions codec_name=\"PCMU\" codec_packet_interval=\"20\"/>"
                                   "</Halvane></Settings>";

// A socket in another process's network namespace (the radio does not
// loop its own multicast back) that hears a group's RTP port and counts the
// packets one station sent.
class GroupListener
{
public:
    GroupListener(pid_t inNamespaceOf, const char* group, int port)
    {
        // Only the helper thread enters the namespace; its socket stays there.
        std::thread([&] {
            const int space = ::open(("/proc/" + std::to_string(inNamespaceOf) + "/ns/net").c_str(), O_RDONLY);
            if (space >= 0 && setns(space, CLONE_NEWNET) == 0)
                bindAndJoin(group, port);
            if (space >= 0)
                close(space);
        }).join();
    }
    ~GroupListener()
    {
        if (socket_ >= 0)
            close(socket_);
    }
    GroupListener(const GroupListener&) = delete;
    GroupListener& operator=(const GroupListener&) = delete;

    bool Ok() const { return ok_; }
    // The RTP packets from ssrc that arrived since the last call.
    int PacketsFrom(device_id_t ssrc) const { return static_cast<int>(Packets(ssrc).size()); }
    // The same, as they came.
    std::vector<std::vector<std::uint8_t>> Packets(device_id_t ssrc) const
    {
        std::vector<std::vector<std::uint8_t>> packets;
        std::uint8_t packet[2048];
        ssize_t length;
        while ((length = recv(socket_, packet, sizeof packet, 0)) >= 12) {
            const device_id_t sender = (device_id_t(packet[8]) << 24) | (device_id_t(packet[9]) << 16) |
                                       (device_id_t(packet[10]) << 8) | device_id_t(packet[11]);
            if (sender == ssrc)
                packets.emplace_back(packet, packet + length);
        }
        return packets;
    }

private:
    void bindAndJoin(const char* group, int port)
    {
        socket_ = socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        setsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<unsigned short>(port));
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        ip_mreq request{};
        inet_pton(AF_INET, group, &request.imr_multiaddr);
        request.imr_interface.s_addr = htonl(INADDR_ANY);
        // Only the group joined here, not those of other sockets on the port.
        const int off = 0;
        setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
        ok_ = bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
              setsockopt(socket_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0 &&
              fcntl(socket_, F_SETFL, O_NONBLOCK) == 0;
    }

    int socket_ = -1;
    bool ok_ = false;
};

// The peer radio program in a namespace of its own, joined to this one,
// talking (or listening) on a group for some seconds once started. Make it
// before this side's sockets so that their group joins use the veth pair.
// A second peer with another device id may share the first one's namespace.
class PeerRadio
{
public:
    PeerRadio(const char* mode, int seconds, const std::string& group = kLocalOne, int localPort = kChannelPort,
              int remotePort = kChannelPort, bool throughRelay = false)
    {
        // A placeholder holds the peer's namespace, so that the pair stays
        // up after the peer ends.
        holder_ = std::make_unique<ChildProcess>("/usr/bin/unshare",
                                                 std::vector<std::string>{"-n", "/bin/sleep", "60"});
        namespacePid_ = holder_->Pid();
        connected_ = ConnectToPeerNamespace(namespacePid_, true);
        std::vector<std::string> extra;
        if (throughRelay) {
            relay_ = std::make_unique<RelayOnVeth>();
            connected_ = connected_ && relay_->Port() != 0;
            extra = {"10.77.0.1", std::to_string(relay_->Port())};
        }
        launch(mode, seconds, group, localPort, remotePort, extra);
    }
    // Another station with its own device id in the namespace of first.
    PeerRadio(const PeerRadio& first, device_id_t id, const char* mode, int seconds, const std::string& group,
              int localPort, int remotePort)
        : namespacePid_(first.namespacePid_), connected_(first.connected_)
    {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08X", id);
        launch(mode, seconds, group, localPort, remotePort, {hex});
    }
    ~PeerRadio()
    {
        process_.reset();
        relay_.reset();
        holder_.reset();
        unlink(ready_.c_str());
        rmdir(folder_.c_str());
    }
    bool Connected() const { return connected_ && process_; }
    pid_t NamespacePid() const { return namespacePid_; }
    unsigned short RelayPort() const { return relay_ ? relay_->Port() : 0; }
    // Lets the peer start; true once it runs.
    bool Start()
    {
        std::ofstream(ready_).put('\n');
        return process_->WaitForLine("READY", 5000ms).has_value();
    }
    // Waits for the peer to end on its own, noting how many RTP packets it sent.
    bool Ended()
    {
        const auto sent = process_->WaitForLine("SENT", 10000ms);
        if (sent)
            sent_ = std::stoi(sent->substr(sent->find(' ') + 1));
        return process_->Wait(10000ms).has_value();
    }
    // The RTP packets it sent in all; -1 until it has ended.
    int SentPackets() const { return sent_; }

private:
    void launch(const char* mode, int seconds, const std::string& group, int localPort, int remotePort,
                const std::vector<std::string>& extra)
    {
        char folder[] = "/tmp/peer.XXXXXX";
        if (!mkdtemp(folder))
            return;
        folder_ = folder;
        ready_ = folder_ + "/ready";
        std::vector<std::string> arguments{"-t",
                                           std::to_string(namespacePid_),
                                           "-n",
                                           RADIO_PEER_PATH,
                                           ready_,
                                           "PCMU",
                                           std::to_string(localPort),
                                           group,
                                           std::to_string(remotePort),
                                           mode,
                                           std::to_string(seconds)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        process_ = std::make_unique<ChildProcess>("/usr/bin/nsenter", arguments);
    }

    std::string folder_;
    std::string ready_;
    std::unique_ptr<ChildProcess> holder_;
    pid_t namespacePid_ = 0;
    std::unique_ptr<RelayOnVeth> relay_;
    std::unique_ptr<ChildProcess> process_;
    bool connected_ = false;
    int sent_ = -1;
};

// Peer radios in one network namespace of their own, joined to this one by a
// veth pair that multicast does not cross: their voice and this radio's meet
// only through the relay router on this side, as across the Internet.
class PeersBehindARelay
{
public:
    PeersBehindARelay() : holder_("/usr/bin/unshare", {"-n", "/bin/sleep", "120"})
    {
        connected_ = ConnectToPeerNamespace(holder_.Pid(), false);
        if (connected_) {
            relay_ = std::make_unique<RelayOnVeth>();
            connected_ = relay_->Port() != 0;
        }
        char folder[] = "/tmp/peer.XXXXXX";
        if (mkdtemp(folder)) {
            folder_ = folder;
            std::ofstream(folder_ + "/ready").put('\n');
        }
    }
    ~PeersBehindARelay()
    {
        relay_.reset();
        unlink((folder_ + "/ready").c_str());
        rmdir(folder_.c_str());
    }
    bool Connected() const { return connected_ && !folder_.empty(); }
    pid_t NamespacePid() const { return holder_.Pid(); }
    unsigned short RelayPort() const { return relay_ ? relay_->Port() : 0; }

    // A peer with the id talking or listening on group for seconds, with the
    // voice key when one is given; none when it did not start.
    std::unique_ptr<ChildProcess> Start(device_id_t id, const char* mode, int seconds, const std::string& group,
                                        int localPort, int remotePort, const char* voiceKey)
    {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08X", id);
        if (voiceKey)
            setenv("RVX_PEER_VOICE_KEY", voiceKey, 1);
        auto peer = std::make_unique<ChildProcess>(
            "/usr/bin/nsenter",
            std::vector<std::string>{"-t", std::to_string(holder_.Pid()), "-n", RADIO_PEER_PATH, folder_ + "/ready",
                                     "PCMU", std::to_string(localPort), group, std::to_string(remotePort), mode,
                                     std::to_string(seconds), "10.77.0.1", std::to_string(RelayPort()), hex});
        unsetenv("RVX_PEER_VOICE_KEY");
        if (!peer->WaitForLine("READY", 5000ms))
            return nullptr;
        return peer;
    }

private:
    ChildProcess holder_;
    std::unique_ptr<RelayOnVeth> relay_;
    bool connected_ = false;
    std::string folder_;
};

const char* const kVoiceKey = "AES_CM_128_HMAC_SHA1_80 inline:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd";

// G.711 mu-law to linear, to listen to a payload as a PCMU decoder would.
std::int16_t FromMuLaw(std::uint8_t code)
{
    code = static_cast<std::uint8_t>(~code);
    const int magnitude = ((((code & 0x0F) << 3) + 0x84) << ((code & 0x70) >> 4)) - 0x84;
    return static_cast<std::int16_t>(code & 0x80 ? -magnitude : magnitude);
}

using Datagram = std::vector<std::uint8_t>;
// The sender keys and indexes seen on the wire.
using KeysAndIndexes = std::set<std::pair<std::array<unsigned char, kVoiceKeyMaterialLength>, std::uint16_t>>;

// What anyone on the wire gets of a station's voice: every packet is
// encrypted voice, its payload no longer the tone the codec would carry
// (in clear it plays as the tone), and no sender key and index twice.
void ExpectEncryptedOnTheWire(const std::vector<Datagram>& packets, const std::string& group, device_id_t ssrc,
                              KeysAndIndexes& used)
{
    ASSERT_GT(packets.size(), 10u);
    const VoiceKey groupKey = *parseCryptoAttribute(kVoiceKey).key;
    std::vector<std::int16_t> payload;
    for (const Datagram& packet : packets) {
        ASSERT_TRUE(isEncryptedVoicePacket(packet.data(), static_cast<int>(packet.size())));
        const std::size_t trailer = kSenderMkiLength + 10;
        ASSERT_GT(packet.size(), 16 + trailer);
        for (std::size_t i = 16; i < packet.size() - trailer; ++i)
            payload.push_back(FromMuLaw(packet[i]));
        SenderMki mki;
        std::copy(packet.end() - static_cast<long>(trailer), packet.end() - 10, mki.begin());
        const VoiceKey key = deriveSenderKey(groupKey, voiceScopeOf(group), ssrc, mki);
        EXPECT_TRUE(used.insert({key.material, static_cast<std::uint16_t>((packet[2] << 8) | packet[3])}).second)
            << "a key and index sent twice";
    }
    EXPECT_LT(ToneShare(payload, kCapturedToneHz), 0.1) << "the payload on the wire plays as the tone";
}

// This radio: the model with the program's media streams on the test sound
// server, wired to its PTT arbiter as start-up and the screens wire it.
class RadioVoiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RVX_REQUIRE_PRIVATE_NETNS();
        // The radio model and the trunk transport (which tells the stream
        // for calls to this radio by its address) both take this identity.
        setKeyIdSource([] { return std::string("00C0C0C0"); });
        ASSERT_EQ(getDeviceId(), kOwnId);
        PulseAudioServer& server = SoundServerAndMedia();
        ASSERT_TRUE(server.Running()) << server.Why();
        pulse = &server;
        ASSERT_TRUE(settings.isValid());
        settings->setValue(QStringLiteral("volume"), 80);
    }
    void TearDown() override
    {
        if (radio) {
            ptt.ciMicPttChanged_Gui(false);
            Pump(300ms);
        }
        setIncomingIndividualCallEntry(nullptr);
        // The audio channel first: it detaches the streams' graphs.
        audio.reset();
        radio.reset();
        SettingsFileParser::resetForTesting();
    }

    void startRadio(const char* document)
    {
        SettingsFileParser::resetForTesting();
        SettingsFileParser::makeFirstInstance(document);
        VirtualRadioServices services;
        services.settings = &settings.store();
        services.ptt = &ptt;
        services.contacts = &contacts;
        services.createStream = [](RadioStreamKind kind, int pin) -> std::unique_ptr<RadioStream> {
            return std::make_unique<HalvaneChannel>(static_cast<int>(kind), pin,
                                                    StreamSettings{"PCMU", "20"});
        };
        services.ownDeviceId = getDeviceId;
        services.keyIdToDeviceId = [](const char*) { return device_id_t(0); };
        services.demoDownload = [] { return std::string(); };
        services.ownLocation = [](location_t&) { return false; };
        radio = std::make_unique<VirtualRadio>(services);
        audio = std::make_unique<HardwareAudioChannel>(DefaultCards());
        radio->setAudioChannel(audio.get());
        for (RadioStream* stream :
             {radio->channelStream(), radio->individualCallRxStream(), radio->individualCallTxStream()})
            audio->attachMediaStream(static_cast<HalvaneChannel*>(stream));
        audio->connectPaLoop(3);
        QObject::connect(radio.get(), &VirtualRadio::moSetVolume, audio.get(),
                         &HardwareAudioChannel::viSetPlaybackVolumeSoftwareGain);
        QObject::connect(radio.get(), &VirtualRadio::moRxActivityUpdate, &ptt, &PttManager_t::setPttBlockRxActive);
        QObject::connect(&ptt, &PttManager_t::coMicPttStateChanged, radio.get(), &VirtualRadio::miUpdateTxState);
        setIncomingIndividualCallEntry([this](device_id_t caller) { radio->incomingIndividualCall(caller); });
        radio->initialise();
        audio->viSetPlaybackVolumeSoftwareGain(radio->volume());
    }

    // Runs the event loop until the radio's transmit state is state, noting
    // every state passed on the way.
    bool waitForTxState(int state, std::chrono::milliseconds timeout, std::vector<int>* passed = nullptr)
    {
        return QTest::qWaitFor(
            [&] {
                if (passed && (passed->empty() || passed->back() != radio->txState()))
                    passed->push_back(radio->txState());
                return radio->txState() == state;
            },
            static_cast<int>(timeout.count()));
    }

    HalvaneChannel* stream(RadioStream* s) const { return static_cast<HalvaneChannel*>(s); }
    void expectPlayedOnTheIndividualCallPin(device_id_t caller);
    void expectCallTakenOverBySecondCaller(bool whileFirstTalks);
    void expectEachPacketTakenOnce(std::chrono::milliseconds relayDelay);
    struct EncryptedScenario;
    void expectEncryptedVoiceThroughTheRelay(const EncryptedScenario& scenario);
    void restartRadio(const char* document)
    {
        audio.reset();
        radio.reset();
        startRadio(document);
    }

    PulseAudioServer* pulse = nullptr;
    TemporarySettings settings;
    PttManager_t ptt;
    ContactsManager contacts;
    std::unique_ptr<VirtualRadio> radio;
    std::unique_ptr<HardwareAudioChannel> audio;
};

TEST_F(RadioVoiceTest, PttOnABusyChannelGivesTheBusyToneThenTransmitsOnceThePeerStops)
{
    PeerRadio peer("talk", 7);
    ASSERT_TRUE(peer.Connected());
    startRadio(kLocalChannels);
    ASSERT_EQ(radio->channelStream()->remoteAddress(), kLocalOne);
    GroupListener channel(peer.NamespacePid(), kLocalOne, kChannelPort);
    ASSERT_TRUE(channel.Ok());
    QSignalSpy transmitting(radio.get(), &VirtualRadio::moTxActiveUpdate);
    ASSERT_TRUE(peer.Start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return radio->lastChannelCaller() == kPeerId; }, 3000))
        << "the peer's voice makes the channel busy";

    ASSERT_TRUE(WaitUntilAudible(*pulse)) << "the peer is heard";
    const std::vector<std::int16_t> before = pulse->RecordPlayback(500ms);
    ptt.ciMicPttChanged_Gui(true);
    ASSERT_TRUE(waitForTxState(4, 1000ms)) << "state " << radio->txState();
    // What was played before is still in the sound server's buffer.
    Pump(1500ms);
    const std::vector<std::int16_t> busy = pulse->RecordPlayback(800ms);
    EXPECT_EQ(radio->txState(), 4) << "the busy tone plays while PTT is held";
    EXPECT_EQ(channel.PacketsFrom(kOwnId), 0) << "nothing is sent while the channel is busy";
    EXPECT_FALSE(transmitting.contains(QVariantList{true}));
    // The busy tone (620 Hz on the channel with 480 Hz on the individual-call
    // stream) replaces the received voice.
    EXPECT_LT(ToneShare(before, 620), 0.01);
    EXPECT_GT(ToneShare(busy, 620), 0.15) << "level " << Level(busy);
    EXPECT_GT(ToneShare(busy, 480), 0.15) << "level " << Level(busy);

    ASSERT_TRUE(peer.Ended());
    std::vector<int> passed;
    ASSERT_TRUE(waitForTxState(8, 4000ms, &passed)) << "state " << radio->txState();
    EXPECT_NE(std::find(passed.begin(), passed.end(), 6), passed.end()) << "key-up tone before transmitting";
    ASSERT_GE(transmitting.count(), 1);
    EXPECT_TRUE(transmitting.last().at(0).toBool());
    Pump(1000ms);
    EXPECT_GT(channel.PacketsFrom(kOwnId), 10) << "the held PTT transmits on the channel";
}

// Individual calls play on pin 2: the individual-call transmit stream, whose
// tone generator (carrying its decoded audio) feeds input 2 of the playback
// mixer, decodes the caller, while the channel stream (input 0) and the
// individual-call receive stream (input 1, which only hands packets on)
// decode nothing.
void RadioVoiceTest::expectPlayedOnTheIndividualCallPin(device_id_t caller)
{
    HalvaneChannel* call = stream(radio->individualCallTxStream());
    const MSQueue* toMixer = call->audioStream()->dtmfgen->outputs[0];
    const MSQueue* channelToMixer = stream(radio->channelStream())->audioStream()->dtmfgen->outputs[0];
    ASSERT_NE(toMixer, nullptr);
    ASSERT_NE(channelToMixer, nullptr);
    EXPECT_EQ(toMixer->next.pin, 2);
    EXPECT_EQ(toMixer->next.filter, channelToMixer->next.filter) << "the one playback mixer";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return rtp_session_get_recv_ssrc(call->session()) == caller &&
                   rtp_session_get_stats(call->session())->packet_recv > 10;
        },
        3000))
        << std::hex << "decoding " << rtp_session_get_recv_ssrc(call->session()) << " rather than " << caller;
    EXPECT_EQ(rtp_session_get_stats(stream(radio->channelStream())->session())->packet_recv, 0u);
    EXPECT_EQ(rtp_session_get_stats(stream(radio->individualCallRxStream())->session())->packet_recv, 0u);
    EXPECT_TRUE(WaitUntilAudible(*pulse)) << "the caller is heard";
}

TEST_F(RadioVoiceTest, ACallFromThePeerIsEnteredAsAnIndividualCallPlayedOnPin2AndTheReplyReachesThePeer)
{
    PeerRadio peer("talk", 4, individualCallAddress(kOwnId), kIndividualCallTxPort, kIndividualCallPort);
    ASSERT_TRUE(peer.Connected());
    startRadio(kLocalChannels);
    GroupListener peerHears(peer.NamespacePid(), individualCallAddress(kPeerId).c_str(), kIndividualCallPort);
    ASSERT_TRUE(peerHears.Ok());
    ASSERT_TRUE(peer.Start());

    ASSERT_TRUE(QTest::qWaitFor([&] { return radio->mode() == VirtualRadio::IndividualCallMode; }, 3000));
    EXPECT_EQ(radio->individualCallContact(), kPeerId);
    expectPlayedOnTheIndividualCallPin(kPeerId);

    ASSERT_TRUE(peer.Ended());
    // The call starts on the radio's thread after its first packet arrived;
    // that packet and those behind it wait for it and are played too.
    const rtp_stats_t* call = rtp_session_get_stats(stream(radio->individualCallTxStream())->session());
    EXPECT_TRUE(QTest::qWaitFor([&] { return call->packet_recv >= static_cast<std::uint64_t>(peer.SentPackets()); },
                                1000));
    EXPECT_EQ(call->packet_recv, static_cast<std::uint64_t>(peer.SentPackets())) << "every packet of the call";
    ptt.ciMicPttChanged_Gui(true);
    ASSERT_TRUE(waitForTxState(8, 6000ms)) << "state " << radio->txState();
    Pump(1000ms);
    EXPECT_EQ(radio->mode(), VirtualRadio::IndividualCallMode);
    EXPECT_GT(peerHears.PacketsFrom(kOwnId), 10) << "the reply goes to the caller's individual address";
}

// A second station (the third radio) calls this radio during an individual
// call with the peer. While the peer talks the call stays with it and the
// second caller's packets are dropped; once the peer has gone quiet the
// second caller takes the call over: it is played on pin 2 and hears the
// reply, and the peer no longer does. The radio stays in the individual call
// throughout.
void RadioVoiceTest::expectCallTakenOverBySecondCaller(bool whileFirstTalks)
{
    PeerRadio first("talk", whileFirstTalks ? 5 : 2, individualCallAddress(kOwnId), kIndividualCallTxPort,
                    kIndividualCallPort);
    PeerRadio second(first, kThirdId, "talk", whileFirstTalks ? 10 : 5, individualCallAddress(kOwnId),
                     kIndividualCallTxPort, kIndividualCallPort);
    ASSERT_TRUE(first.Connected());
    ASSERT_TRUE(second.Connected());
    startRadio(kLocalChannels);
    GroupListener firstHears(first.NamespacePid(), individualCallAddress(kPeerId).c_str(), kIndividualCallPort);
    GroupListener secondHears(first.NamespacePid(), individualCallAddress(kThirdId).c_str(), kIndividualCallPort);
    GroupListener callsHere(getpid(), individualCallAddress(kOwnId).c_str(), kIndividualCallPort);
    ASSERT_TRUE(firstHears.Ok() && secondHears.Ok() && callsHere.Ok());
    QSignalSpy modes(radio.get(), &VirtualRadio::moVirtualRadioModeChanged);
    QSignalSpy contacts(radio.get(), &VirtualRadio::moIndividualCallContactID);
    QSignalSpy activity(radio.get(), &VirtualRadio::moRxActivityUpdate);
    HalvaneChannel* call = stream(radio->individualCallTxStream());

    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return radio->mode() == VirtualRadio::IndividualCallMode && radio->individualCallContact() == kPeerId; },
        3000));
    if (whileFirstTalks) {
        ASSERT_TRUE(second.Start());
        int secondCalls = 0;
        ASSERT_TRUE(QTest::qWaitFor([&] { return (secondCalls += callsHere.PacketsFrom(kThirdId)) >= 25; }, 3000))
            << "the second caller's packets reach this radio";
        EXPECT_EQ(radio->individualCallContact(), kPeerId) << "the call stays with the station that talks";
        EXPECT_EQ(call->remoteAddress(), individualCallAddress(kPeerId));
        EXPECT_EQ(rtp_session_get_recv_ssrc(call->session()), kPeerId) << "only the peer is played";
        ASSERT_TRUE(first.Ended());
    } else {
        ASSERT_TRUE(first.Ended());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !activity.isEmpty() && !activity.last().at(0).toBool(); }, 4000))
            << "the peer's call goes quiet";
        ASSERT_EQ(radio->mode(), VirtualRadio::IndividualCallMode) << "the call is still up";
        ASSERT_TRUE(second.Start());
    }

    ASSERT_TRUE(QTest::qWaitFor([&] { return radio->individualCallContact() == kThirdId; }, 5000))
        << "the second caller takes the call over";
    EXPECT_EQ(call->remoteAddress(), individualCallAddress(kThirdId));
    expectPlayedOnTheIndividualCallPin(kThirdId);

    ASSERT_TRUE(second.Ended());
    // Nothing was sent before PTT; whatever the listeners heard is dropped.
    firstHears.PacketsFrom(kOwnId);
    secondHears.PacketsFrom(kOwnId);
    ptt.ciMicPttChanged_Gui(true);
    ASSERT_TRUE(waitForTxState(8, 6000ms)) << "state " << radio->txState();
    Pump(1000ms);
    EXPECT_GT(secondHears.PacketsFrom(kOwnId), 10) << "the reply goes to the second caller";
    EXPECT_EQ(firstHears.PacketsFrom(kOwnId), 0) << "and not to the peer";
    EXPECT_EQ(radio->individualCallContact(), kThirdId);
    EXPECT_EQ(modes.count(), 1) << "the radio stays in the individual call";
    std::vector<device_id_t> announced;
    for (const QList<QVariant>& arguments : contacts)
        announced.push_back(arguments.at(0).value<device_id_t>());
    EXPECT_EQ(announced, (std::vector<device_id_t>{kPeerId, kThirdId})) << "the contact changes once";
}

TEST_F(RadioVoiceTest, ASecondCallerTakesAnIndividualCallOverOnceThePeerHasGoneQuiet)
{
    expectCallTakenOverBySecondCaller(false);
}

TEST_F(RadioVoiceTest, ASecondCallerTalkingOverThePeerTakesTheCallOverWhenThePeerStops)
{
    expectCallTakenOverBySecondCaller(true);
}

// The microphone reaches the speaker through the sound server's capture
// buffering, about 1.5 s late: each step is recorded after that has passed.
TEST_F(RadioVoiceTest, TheMicrophoneIsOnTheOwnSpeakerOnlyInPublicAddressModeWithPttPressed)
{
    startRadio(kLocalChannels);
    struct Step
    {
        bool publicAddress;
        bool ptt;
        bool heard;
    };
    const Step steps[] = {
        {false, false, false}, {false, true, false}, {true, false, false}, {true, true, true}, {true, false, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << "public address " << step.publicAddress << ", PTT " << step.ptt);
        if (step.publicAddress && radio->mode() != VirtualRadio::PaMode)
            radio->miPaModeStart();
        ptt.ciMicPttChanged_Gui(step.ptt);
        Pump(2000ms);
        const std::vector<std::int16_t> played = pulse->RecordPlayback(1000ms);
        ASSERT_GT(played.size(), 4000u);
        if (step.heard) {
            EXPECT_GT(Level(played), 1000.0);
            EXPECT_GT(ToneShare(played, kCapturedToneHz), 0.5);
        } else {
            EXPECT_LT(Level(played), 20.0);
        }
    }
}

// Each voice packet of the peer on a trunked channel reaches this radio
// twice, by multicast and through the relay, and the channel stream must take
// it once. A relay close by hands its copy over before the multicast copy is
// read; a distant one (its copies held back here) after the multicast copy
// was taken: each order needs its own place that drops a copy seen before.
void RadioVoiceTest::expectEachPacketTakenOnce(std::chrono::milliseconds relayDelay)
{
    PeerRadio peer("talk", 3, kTrunkedGroup, kChannelPort, kChannelPort, true);
    ASSERT_TRUE(peer.Connected());
    RelayDelayLine relay("10.77.0.1", peer.RelayPort(), relayDelay, kPeerId);
    ASSERT_NE(relay.Port(), 0);
    trunk::initRouting("127.0.0.1", relay.Port());
    startRadio(kTrunkedChannel);
    ASSERT_EQ(radio->channelStream()->remoteAddress(), kTrunkedGroup);
    GroupListener multicast(getpid(), kTrunkedGroup, kChannelPort);
    ASSERT_TRUE(multicast.Ok());
    ASSERT_TRUE(peer.Start());
    ASSERT_TRUE(QTest::qWaitFor([&] { return radio->lastChannelCaller() == kPeerId; }, 3000));
    ASSERT_TRUE(peer.Ended());
    const int sent = peer.SentPackets();
    ASSERT_GT(sent, 50) << "the peer talked for three seconds";

    const rtp_stats_t* taken = rtp_session_get_stats(static_cast<HalvaneChannel*>(radio->channelStream())->session());
    int multicastCopies = 0;
    // Counted below whether or not everything arrived in time.
    static_cast<void>(QTest::qWaitFor(
        [&] {
            multicastCopies += multicast.PacketsFrom(kPeerId);
            return multicastCopies >= sent && relay.RelayedRtpFromCountedSender() >= sent &&
                   taken->packet_recv >= static_cast<std::uint64_t>(sent);
        },
        5000));
    // Late copies would be taken within this time.
    Pump(relayDelay + 500ms);
    multicastCopies += multicast.PacketsFrom(kPeerId);

    EXPECT_EQ(multicastCopies, sent) << "every packet came by multicast";
    EXPECT_EQ(relay.RelayedRtpFromCountedSender(), sent) << "every packet came through the relay";
    EXPECT_EQ(taken->packet_recv, static_cast<std::uint64_t>(sent)) << "each packet is taken once";
    EXPECT_EQ(taken->packet_dup_recv, 0u);
}

TEST_F(RadioVoiceTest, OnATrunkedChannelVoiceByMulticastAndThroughANearbyRelayIsTakenOnce)
{
    expectEachPacketTakenOnce(0ms);
}

TEST_F(RadioVoiceTest, OnATrunkedChannelVoiceByMulticastAndThroughADistantRelayIsTakenOnce)
{
    expectEachPacketTakenOnce(150ms);
}

// ---- Encrypted voice -------------------------------------------------------

// Where the peer talks to this radio and where it hears this radio's reply.
struct RadioVoiceTest::EncryptedScenario
{
    std::string keyedDocument;
    std::string keylessDocument;
    bool individualCall;
    std::string toThisRadio;
    int talkFromPort;
    int talkToPort;
    std::string toThePeer;
    int hearOnPort;
};

// Two radios with the key, through a relay: each hears the other. A third
// without the key hears nothing and shows "Encrypted", and so does this
// radio once it runs without the key. On the wire no payload is clear and
// no sender key and index come twice.
void RadioVoiceTest::expectEncryptedVoiceThroughTheRelay(const EncryptedScenario& scenario)
{
    PeersBehindARelay peers;
    ASSERT_TRUE(peers.Connected());
    trunk::initRouting("10.77.0.1", peers.RelayPort());
    startRadio(scenario.keyedDocument.c_str());
    GroupListener peerWire(peers.NamespacePid(), scenario.toThisRadio.c_str(), scenario.talkToPort);
    GroupListener ownWire(getpid(), scenario.toThePeer.c_str(), scenario.hearOnPort);
    ASSERT_TRUE(peerWire.Ok() && ownWire.Ok());

    auto talker = peers.Start(kPeerId, "talk", 5, scenario.toThisRadio, scenario.talkFromPort, scenario.talkToPort,
                              kVoiceKey);
    ASSERT_TRUE(talker);
    if (scenario.individualCall) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return radio->mode() == VirtualRadio::IndividualCallMode; }, 3000));
        expectPlayedOnTheIndividualCallPin(kPeerId);
    } else {
        ASSERT_TRUE(QTest::qWaitFor([&] { return radio->lastChannelCaller() == kPeerId; }, 3000));
        ASSERT_TRUE(WaitUntilAudible(*pulse)) << "the peer is heard";
    }
    Pump(500ms);
    EXPECT_GT(ToneShare(pulse->RecordPlayback(800ms), kCapturedToneHz), 0.5);
    talker.reset();
    KeysAndIndexes used;
    ExpectEncryptedOnTheWire(peerWire.Packets(kPeerId), scenario.toThisRadio, kPeerId, used);
    Pump(1500ms);

    // The listening station has another id than the group it hears: it
    // plays what it gets instead of handing it on as a radio's individual-
    // call receive stream does.
    for (const char* key : {kVoiceKey, static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(key ? "a peer with the key" : "a peer without the key");
        auto listener = peers.Start(kThirdId, "listen", 6, scenario.toThePeer, scenario.hearOnPort,
                                    scenario.hearOnPort, key);
        ASSERT_TRUE(listener);
        ptt.ciMicPttChanged_Gui(true);
        ASSERT_TRUE(waitForTxState(8, 3000ms)) << "state " << radio->txState();
        // The microphone's tone reaches the peer's speaker about 1.5 s late.
        Pump(3000ms);
        const std::vector<std::int16_t> played = pulse->RecordPlayback(800ms);
        ptt.ciMicPttChanged_Gui(false);
        if (key) {
            EXPECT_TRUE(listener->WaitForLine("ACTIVE 00C0C0C0", 100ms));
            EXPECT_GT(ToneShare(played, kCapturedToneHz), 0.5) << "level " << Level(played);
        } else {
            EXPECT_TRUE(listener->WaitForLine("ENCRYPTED 00C0C0C0", 100ms));
            EXPECT_LT(Level(played), 20.0) << "a radio without the key plays nothing";
        }
        Pump(1200ms);
    }
    ExpectEncryptedOnTheWire(ownWire.Packets(kOwnId), scenario.toThePeer, kOwnId, used);

    restartRadio(scenario.keylessDocument.c_str());
    QSignalSpy encrypted(radio.get(), &VirtualRadio::moIncomingCallEncrypted);
    talker = peers.Start(kPeerId, "talk", 3, scenario.toThisRadio, scenario.talkFromPort, scenario.talkToPort,
                         kVoiceKey);
    ASSERT_TRUE(talker);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !encrypted.isEmpty(); }, 3000)) << "shown as encrypted";
    EXPECT_EQ(encrypted.first().at(0).value<device_id_t>(), kPeerId);
    Pump(1000ms);
    EXPECT_LT(Level(pulse->RecordPlayback(800ms)), 20.0) << "and not played";
    EXPECT_EQ(radio->mode(), VirtualRadio::ChannelMode);
    EXPECT_EQ(radio->lastChannelCaller(), 0u);
}

TEST_F(RadioVoiceTest, OnAnEncryptedManagedGroupRadiosWithTheKeyHearEachOtherThroughARelayAndOthersHearNothing)
{
    const std::string channel = std::string("<channel name=\"Ops\" num=\"300\" zone=\"Field\" zone_num=\"2\"");
    const std::string rest = "</HalvaneChannels><Halvane><LocalChannels>false</LocalChannels>"
                             "<DemoChannels>false</DemoChannels></Halvane></Settings>";
    expectEncryptedVoiceThroughTheRelay(
        {"<Settings><HalvaneChannels>" + channel + " crypto=\"" + kVoiceKey + "\"/>" + rest,
         "<Settings><HalvaneChannels>" + channel + "/>" + rest, false, kTrunkedGroup, kChannelPort, kChannelPort,
         kTrunkedGroup, kChannelPort});
}

TEST_F(RadioVoiceTest, AnEncryptedIndividualCallIsHeardByTheCalledRadioOnlyAndItsReplyByTheCallerOnly)
{
    const std::string head = "<Settings name=\"Truck 7\"><Halvane><DemoChannels>false</DemoChannels>"
                             "<CodecOptions codec_name=\"PCMU\" codec_packet_interval=\"20\"/>";
    expectEncryptedVoiceThroughTheRelay({head + "<IndividualCallCrypto crypto=\"" + kVoiceKey + "\"/></Halvane></Settings>",
                                         head + "</Halvane></Settings>", true, individualCallAddress(kOwnId),
                                         kIndividualCallTxPort, kIndividualCallPort, individualCallAddress(kPeerId),
                                         kIndividualCallPort});
}

// A radio restarts with the same device id and the same group key, and its
// RTP sequence starts afresh: on the wire each start sends under keys of
// its own.
TEST_F(RadioVoiceTest, ARadioStartedAgainAndAgainNeverSendsTwoPacketsUnderOneKeyAndIndex)
{
    PeersBehindARelay peers;
    ASSERT_TRUE(peers.Connected());
    GroupListener wire(peers.NamespacePid(), kTrunkedGroup, kChannelPort);
    ASSERT_TRUE(wire.Ok());
    KeysAndIndexes used;
    std::uint64_t lastEpoch = 0;
    for (int start = 0; start < 4; ++start) {
        SCOPED_TRACE(start);
        auto talker = peers.Start(kPeerId, "talk", 1, kTrunkedGroup, kChannelPort, kChannelPort, kVoiceKey);
        ASSERT_TRUE(talker);
        ASSERT_TRUE(talker->WaitForLine("SENT", 5000ms));
        talker.reset();
        const std::vector<Datagram> packets = wire.Packets(kPeerId);
        ExpectEncryptedOnTheWire(packets, kTrunkedGroup, kPeerId, used);
        SenderMki mki;
        std::copy(packets.front().end() - 22, packets.front().end() - 10, mki.begin());
        EXPECT_GT(senderKeyEpoch(mki), lastEpoch) << "every start's keys come after the last start's";
        lastEpoch = senderKeyEpoch(mki);
    }
}

} // namespace
