// The trunk transports of real oRTP sessions on real sockets, inside a
// private network namespace: what the receive callbacks return on the channel
// and individual-call streams, the forwarding of individual calls, sends, and
// encrypted voice on the way in and out.
#include "RtpTrunkTransport.h"

#include "DeviceIdentity.h"
#include "LogCapture.h"
#include "NetNamespace.h"
#include "TrunkCalls.h"
#include "UdpEndpoint.h"
#include "VoicePrivacy.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <thread>

using rvx::test::Bytes;
using rvx::test::LogCapture;
using rvx::test::UdpEndpoint;

namespace {

// Device id 0xABCDEF01: its individual-call address is 226.205.239.1.
const char* const kOwnKeyId = "1234ABCDEF01";
const char* const kOwnAddress = "226.205.239.1";

// A session bound to a local port, addressed at a remote address, using the
// trunk transports.
class TrunkSession
{
public:
    TrunkSession(int localPort, const char* remoteAddress, int remotePort, RtpReceiveObserver* observer = nullptr)
    {
        session = rtp_session_new(RTP_SESSION_SENDRECV);
        rtp_session_set_local_addr(session, "0.0.0.0", localPort, localPort + 1);
        rtp_session_set_remote_addr_and_port(session, remoteAddress, remotePort, remotePort + 1);
        rtp_session_set_recv_buf_size(session, 2000);
        bindTrunkTransports(session, observer);
        rtp_session_get_transports(session, &rtp, &rtcp);
        rtpSocket = rtp_session_get_rtp_socket(session);
    }
    ~TrunkSession() { rtp_session_destroy(session); }

    void Join(const char* group, bool txOnly = false)
    {
        trunk::setSocketTxOnly(rtpSocket, txOnly);
        trunk::groupLeaveAll(rtpSocket);
        trunk::groupJoin(rtpSocket, group);
    }

    // One receive call as oRTP makes it; the bytes when it returned some.
    int Receive(Bytes* into = nullptr)
    {
        mblk_t* message = allocb(2000, 0);
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const int n = rtp->t_recvfrom(rtp, message, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (into != nullptr && n > 0)
            into->assign(message->b_wptr, message->b_wptr + n);
        freemsg(message);
        return n;
    }

    // Receive calls until one returns bytes (or 0 after about 300 ms).
    int ReceiveWithin(Bytes* into = nullptr)
    {
        for (int i = 0; i < 60; ++i) {
            const int n = Receive(into);
            if (n > 0)
                return n;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return 0;
    }

    RtpSession* session = nullptr;
    RtpTransport* rtp = nullptr;
    RtpTransport* rtcp = nullptr;
    int rtpSocket = -1;
};

Bytes RtpPacket(std::uint32_t ssrc, std::size_t size = 172)
{
    Bytes packet(size, 0x55);
    packet[0] = 0x80;
    packet[1] = 0;
    for (int i = 0; i < 4; ++i)
        packet[8 + i] = static_cast<unsigned char>(ssrc >> (24 - 8 * i));
    return packet;
}

// What a media stream learns from its transports, with its voice privacy.
class PrivateStream : public RtpReceiveObserver
{
public:
    PrivateStream(const ChannelPrivacy& privacy, const char* group)
    {
        voice.configure(privacy, ntohl(inet_addr(group)), ntohl(inet_addr(group)));
    }
    void rtpPacketReceived(const unsigned char*, int) override { ++taken; }
    void rtpNothingReceived() override {}
    void rtcpMessageReceived(const unsigned char*, int) override {}
    void rtpUnreadablePacketReceived(device_id_t ssrc) override { unreadable.push_back(ssrc); }
    VoicePrivacy* voicePrivacy() override { return &voice; }

    VoicePrivacy voice;
    int taken = 0;
    std::vector<device_id_t> unreadable;
};

ChannelPrivacy Encrypted(const VoiceKey& key)
{
    ChannelPrivacy privacy;
    privacy.mode = ChannelPrivacy::Mode::Encrypted;
    privacy.key = key;
    return privacy;
}

// A voice packet with its sequence number.
Bytes Voice(std::uint32_t ssrc, std::uint16_t sequence, std::size_t size = 100)
{
    Bytes packet = RtpPacket(ssrc, size);
    packet[2] = static_cast<unsigned char>(sequence >> 8);
    packet[3] = static_cast<unsigned char>(sequence);
    return packet;
}

Bytes Protected(VoicePrivacy& sender, Bytes packet)
{
    int length = static_cast<int>(packet.size());
    packet.resize(packet.size() + kVoicePrivacyMostAdded);
    if (!sender.protectRtp(packet.data(), length, static_cast<int>(packet.size())))
        return {};
    packet.resize(static_cast<std::size_t>(length));
    return packet;
}

class TrunkTransport : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RVX_REQUIRE_PRIVATE_NETNS();
        static const bool once = [] {
            ortp_init();
            setKeyIdSource([] { return std::string(kOwnKeyId); });
            trunk::initInterface(0xABCDEF01, 0, "lo", nullptr);
            return true;
        }();
        (void)once;
        setIncomingIndividualCallEntry({});
        // Made only now, inside the private namespace.
        peerEndpoint = std::make_unique<UdpEndpoint>("127.0.0.1");
    }
    void TearDown() override { setIncomingIndividualCallEntry({}); }

    std::unique_ptr<UdpEndpoint> peerEndpoint;
    UdpEndpoint& peer() { return *peerEndpoint; }
};

TEST_F(TrunkTransport, ChannelStreamReturnsEveryPacketUnchanged)
{
    TrunkSession channel(42000, "225.4.0.9", 42000);
    channel.Join("225.4.0.9");
    for (std::uint32_t ssrc : {0x11111111u, 0u, 654321u}) {
        const Bytes sent = RtpPacket(ssrc);
        ASSERT_TRUE(peer().SendTo(42000, sent, "225.4.0.9"));
        Bytes received;
        ASSERT_EQ(channel.ReceiveWithin(&received), static_cast<int>(sent.size()));
        EXPECT_EQ(received, sent);
    }
}

// The radio's own multicast comes back to it; taken as a talker it would
// make the channel busy under its own transmission.
TEST_F(TrunkTransport, OwnRtpAndRtcpPacketsAreNeverHandedOn)
{
    TrunkSession channel(42010, "225.4.0.10", 42010);
    channel.Join("225.4.0.10");
    Bytes ownRtcp(28, 0);
    ownRtcp[0] = 0x81;
    ownRtcp[1] = 202;
    ownRtcp[3] = 6;
    const std::uint32_t own = 0xABCDEF01u;
    for (int i = 0; i < 4; ++i)
        ownRtcp[4 + i] = static_cast<unsigned char>(own >> (24 - 8 * i));

    ASSERT_TRUE(peer().SendTo(42010, RtpPacket(own), "225.4.0.10"));
    EXPECT_EQ(channel.ReceiveWithin(), 0) << "own packet alone: nothing received";

    // Own packets queued ahead of a peer's are skipped within one call.
    // (Sizes differ so the trunk does not drop them as repeats.)
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(peer().SendTo(42010, RtpPacket(own, 100 + i), "225.4.0.10"));
    const Bytes peerPacket = RtpPacket(0x0BADF00Du, 60);
    ASSERT_TRUE(peer().SendTo(42010, peerPacket, "225.4.0.10"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    Bytes received;
    ASSERT_EQ(channel.Receive(&received), 60);
    EXPECT_EQ(received, peerPacket);

    trunk::registerSocket(rtp_session_get_rtcp_socket(channel.session));
    trunk::groupJoin(rtp_session_get_rtcp_socket(channel.session), "225.4.0.10");
    auto receiveRtcp = [&](Bytes* into) {
        for (int i = 0; i < 60; ++i) {
            mblk_t* message = allocb(2000, 0);
            const int n = channel.rtcp->t_recvfrom(channel.rtcp, message, 0, nullptr, nullptr);
            if (n > 0)
                into->assign(message->b_wptr, message->b_wptr + n);
            freemsg(message);
            if (n > 0)
                return n;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return 0;
    };
    ASSERT_TRUE(peer().SendTo(42011, ownRtcp, "225.4.0.10"));
    Bytes rtcp;
    EXPECT_EQ(receiveRtcp(&rtcp), 0) << "own report: nothing received";
    Bytes peerRtcp = ownRtcp;
    peerRtcp[7] = 0x02;
    ASSERT_TRUE(peer().SendTo(42011, peerRtcp, "225.4.0.10"));
    ASSERT_EQ(receiveRtcp(&rtcp), 28);
    EXPECT_EQ(rtcp, peerRtcp);
}

// The radio starts the call on its own thread, some time after the entry was
// called: until the transmit stream has joined the caller's address, the
// caller's packets wait, and then all of them reach it in order.
TEST_F(TrunkTransport, IndividualCallPacketsWaitForTheCallToStartThenReachTheTransmitStreamInOrder)
{
    TrunkSession rx(42002, kOwnAddress, 42002);
    rx.Join(kOwnAddress);
    TrunkSession tx(42004, "0.0.0.0", 42002);
    std::vector<device_id_t> calls;
    setIncomingIndividualCallEntry([&](device_id_t caller) { calls.push_back(caller); });
    LogCapture log("DEBUG_FEEDBACK2HALVANE");

    std::vector<Bytes> sent;
    for (std::size_t size : {100u, 101u, 102u}) {
        sent.push_back(RtpPacket(123456, size));
        ASSERT_TRUE(peer().SendTo(42002, sent.back(), kOwnAddress));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_LE(rx.Receive(), 0) << "the receive stream itself never gets RTP";
    }
    ASSERT_EQ(calls, std::vector<device_id_t>{123456}) << "one call started for the caller";
    EXPECT_TRUE(log.Contains("Queueing a packet for the socket that's joined to 226.1.226.64\n"));
    EXPECT_LE(tx.Receive(), 0) << "nothing before the call has started";

    tx.Join("226.1.226.64", true); // the radio has started the call
    for (const Bytes& packet : sent) {
        Bytes delivered;
        ASSERT_EQ(tx.ReceiveWithin(&delivered), static_cast<int>(packet.size()));
        EXPECT_EQ(delivered, packet);
    }
    // The call is set up: the next packet goes straight through.
    const Bytes next = RtpPacket(123456, 40);
    ASSERT_TRUE(peer().SendTo(42002, next, kOwnAddress));
    rx.ReceiveWithin();
    EXPECT_EQ(calls.size(), 1u);
    Bytes delivered;
    ASSERT_EQ(tx.ReceiveWithin(&delivered), 40);
    EXPECT_FALSE(log.Contains("discarded"));
}

TEST_F(TrunkTransport, IndividualCallFromAnotherCallerDuringACallIsDiscarded)
{
    TrunkSession rx(42002, kOwnAddress, 42002);
    rx.Join(kOwnAddress);
    TrunkSession tx(42004, "226.1.226.64", 42002);
    tx.Join("226.1.226.64", true);
    int entries = 0;
    setIncomingIndividualCallEntry([&](device_id_t) { ++entries; }); // busy: the radio keeps its call
    LogCapture log("DEBUG_FEEDBACK2HALVANE");

    ASSERT_TRUE(peer().SendTo(42002, RtpPacket(0x00020304), kOwnAddress));
    const std::string discarded = "Packet from 226.2.3.4 discarded because didn't find a socket to forward it to\n";
    for (int i = 0; i < 400 && !log.Contains(discarded); ++i) {
        rx.Receive();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(entries, 1);
    EXPECT_TRUE(log.Contains(discarded)) << "dropped once it has waited a second";
    EXPECT_EQ(tx.ReceiveWithin(), 0);
}

TEST_F(TrunkTransport, PacketContentsArePrintedUpToTenBytes)
{
    TrunkSession channel(42006, "225.4.0.9", 42006);
    channel.Join("225.4.0.9");
    LogCapture log("PRINT_RECEIVED_PACKET_CONTENTS");
    ASSERT_TRUE(peer().SendTo(42006, Bytes{1, 2, 3, 4}, "225.4.0.9"));
    ASSERT_EQ(channel.ReceiveWithin(), 4);
    EXPECT_TRUE(log.Contains("Received 4 byte packet: 1, 2, 3, 4, \n"));
    log.Clear();
    ASSERT_TRUE(peer().SendTo(42006, RtpPacket(7, 200), "225.4.0.9"));
    ASSERT_EQ(channel.ReceiveWithin(), 200);
    EXPECT_TRUE(log.Contains("Received 200 byte packet: 128, 0, 85, 85, 85, 85, 85, 85, 0, 0, \n"));
}

// Whatever else arrives on an encrypted channel (clear voice, another key,
// forged or cut packets) is dropped within the receive call that meets it:
// the stream sees only authentic voice, so nothing else can make the channel
// busy or be played. Without the key, encrypted voice is only reported.
TEST_F(TrunkTransport, OnAnEncryptedChannelOnlyAuthenticVoiceReachesTheStream)
{
    const char* const group = "225.4.0.12";
    const VoiceKey key = randomVoiceKey();
    PrivateStream stream(Encrypted(key), group);
    TrunkSession channel(42012, group, 42012, &stream);
    channel.Join(group);
    VoicePrivacy talker, stranger;
    talker.configure(Encrypted(key), ntohl(inet_addr(group)), ntohl(inet_addr(group)));
    stranger.configure(Encrypted(randomVoiceKey()), ntohl(inet_addr(group)), ntohl(inet_addr(group)));
    const Bytes first = Protected(talker, Voice(0x0BADF00D, 1));
    const Bytes second = Protected(talker, Voice(0x0BADF00D, 2));
    Bytes forged = second;
    forged[30] ^= 0x04;
    const Bytes refused[] = {Voice(0x0BADF00D, 5, 90), Protected(stranger, Voice(0x0BADF00D, 3)), forged,
                             Bytes(second.begin(), second.begin() + 20)};
    for (const Bytes& packet : refused)
        ASSERT_TRUE(peer().SendTo(42012, packet, group));
    ASSERT_TRUE(peer().SendTo(42012, first, group));
    ASSERT_TRUE(peer().SendTo(42012, second, group));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    for (const Bytes& expected : {Voice(0x0BADF00D, 1), Voice(0x0BADF00D, 2)}) {
        Bytes received;
        ASSERT_EQ(channel.Receive(&received), static_cast<int>(expected.size()));
        EXPECT_EQ(received, expected);
    }
    EXPECT_EQ(stream.taken, 2);
    const VoicePrivacyCounters counters = stream.voice.counters();
    EXPECT_EQ(counters.clearRefused, 1u);
    EXPECT_EQ(counters.authenticationFailures, 2u);
    EXPECT_EQ(counters.malformed, 1u);

    PrivateStream withoutKey(ChannelPrivacy(), "225.4.0.13");
    TrunkSession clearChannel(42014, "225.4.0.13", 42014, &withoutKey);
    clearChannel.Join("225.4.0.13");
    ASSERT_TRUE(peer().SendTo(42014, Protected(talker, Voice(0x0BADF00D, 6)), "225.4.0.13"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_LE(clearChannel.Receive(), 0) << "nothing to play";
    EXPECT_EQ(withoutKey.taken, 0);
    EXPECT_EQ(withoutKey.unreadable, std::vector<device_id_t>{0x0BADF00D}) << "reported as encrypted voice";
}

TEST_F(TrunkTransport, EncryptedStreamsSendOnlySrtpAndAnUnusableKeySendsNothing)
{
    const VoiceKey key = randomVoiceKey();
    PrivateStream encrypted(Encrypted(key), "127.0.0.1");
    PrivateStream unusable(readChannelPrivacy("AES_CM_128_HMAC_SHA1_80 inline:AAAA", ""), "127.0.0.1");
    VoicePrivacy listener;
    listener.configure(Encrypted(key), ntohl(inet_addr("127.0.0.1")), ntohl(inet_addr("127.0.0.1")));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(peer().Port());
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    for (PrivateStream* stream : {&encrypted, &unusable}) {
        TrunkSession sender(42016, "127.0.0.1", peer().Port(), stream);
        mblk_t* message = allocb(200, 0);
        const Bytes voice = Voice(9, 40);
        std::memcpy(message->b_wptr, voice.data(), voice.size());
        message->b_wptr += voice.size();
        // (Without routers the trunk reports the send as failed.)
        const int result =
            sender.rtp->t_sendto(sender.rtp, message, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        freemsg(message);
        auto datagram = peer().Receive(std::chrono::milliseconds(300));
        if (stream == &unusable) {
            EXPECT_FALSE(datagram) << "no clear voice where a key was meant";
            EXPECT_EQ(result, static_cast<int>(voice.size())) << "and no error for oRTP to report each time";
            continue;
        }
        ASSERT_TRUE(datagram);
        EXPECT_TRUE(isEncryptedVoicePacket(datagram->data(), static_cast<int>(datagram->size())));
        int length = static_cast<int>(datagram->size());
        ASSERT_EQ(listener.unprotectRtp(datagram->data(), length), VoicePrivacy::Verdict::Decrypted);
        EXPECT_EQ(Bytes(datagram->begin(), datagram->begin() + length), voice);
    }
}

TEST_F(TrunkTransport, ChainedMessageIsSentAsOneDatagram)
{
    TrunkSession sender(42008, "127.0.0.1", peer().Port());
    mblk_t* head = allocb(12, 0);
    const Bytes header = RtpPacket(9, 12);
    std::memcpy(head->b_wptr, header.data(), 12);
    head->b_wptr += 12;
    mblk_t* tail = allocb(100, 0);
    std::memset(tail->b_wptr, 0x77, 100);
    tail->b_wptr += 100;
    head->b_cont = tail;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(peer().Port());
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    sender.rtp->t_sendto(sender.rtp, head, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    freemsg(head);
    const auto datagram = peer().Receive(std::chrono::milliseconds(500));
    ASSERT_TRUE(datagram);
    EXPECT_EQ(datagram->size(), 112u);
    EXPECT_EQ((*datagram)[111], 0x77);
}

} // namespace
